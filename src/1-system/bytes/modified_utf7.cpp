#include "bytes/modified_utf7.h"

#include <stdint.h>

#include <vector>

#include "bytes/utf8.h"

namespace {

const char kBase64[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The code point of the UTF-8 character at text[*i], moving *i past it; a
// byte that starts no well-formed character is taken alone, as its own
// number.
uint32_t NextCodePoint(const std::string& text, size_t* i) {
  const unsigned char* p =
      reinterpret_cast<const unsigned char*>(text.data()) + *i;
  const unsigned char* end =
      reinterpret_cast<const unsigned char*>(text.data()) + text.size();
  uint32_t codePoint = 0;
  const int length = ReadUtf8(p, end, &codePoint);
  if (length == 0) {
    ++*i;
    return *p;
  }
  *i += size_t(length);
  return codePoint;
}

// Appends the UTF-16 units of code points in modified base64, between "&"
// and "-".
void AppendShifted(const std::vector<uint32_t>& points, std::string* out) {
  std::vector<uint16_t> units;
  for (uint32_t cp : points) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<uint16_t>(0xD800 | cp >> 10));
      units.push_back(static_cast<uint16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(cp));
    }
  }
  *out += '&';
  uint32_t bits = 0;
  int count = 0;
  for (uint16_t unit : units) {
    bits = bits << 16 | unit;
    count += 16;
    while (count >= 6) {
      count -= 6;
      *out += kBase64[(bits >> count) & 0x3F];
    }
  }
  if (count > 0) *out += kBase64[(bits << (6 - count)) & 0x3F];
  *out += '-';
}

}  // namespace

std::string ModifiedUtf7(const std::string& name) {
  std::string out;
  std::vector<uint32_t> shifted;
  for (size_t i = 0; i < name.size();) {
    const uint32_t cp = NextCodePoint(name, &i);
    if (cp < 0x20 || cp > 0x7E) {
      shifted.push_back(cp);
      continue;
    }
    if (!shifted.empty()) {
      AppendShifted(shifted, &out);
      shifted.clear();
    }
    out += static_cast<char>(cp);
    if (cp == '&') out += '-';
  }
  if (!shifted.empty()) AppendShifted(shifted, &out);
  return out;
}

#include "bytes/modified_utf7.h"

#include <stdint.h>

#include <vector>

namespace {

const char kBase64[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The code point of the UTF-8 sequence at text[*i], moving *i past it; a
// byte that starts no valid sequence is taken alone, as its own number.
uint32_t NextCodePoint(const std::string& text, size_t* i) {
  const unsigned char lead = static_cast<unsigned char>(text[*i]);
  int length = 0;
  uint32_t cp = 0, least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, least = 0x10000;
  }
  if (length > 0 && *i + length <= text.size()) {
    int k = 1;
    for (; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[*i + k]);
      if ((b & 0xC0) != 0x80) break;
      cp = cp << 6 | (b & 0x3F);
    }
    if (k == length && cp >= least && cp <= 0x10FFFF &&
        (cp < 0xD800 || cp > 0xDFFF)) {
      *i += length;
      return cp;
    }
  }
  ++*i;
  return lead;
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

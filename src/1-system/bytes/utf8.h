// UTF-8: reading one character with every check (shortest form, no
// surrogates, nothing above U+10FFFF), and writing one.
#ifndef KORVANE_BYTES_UTF8_H_
#define KORVANE_BYTES_UTF8_H_

#include <stdint.h>

#include <string>

// The length of the well-formed UTF-8 character at p (1 to 4), with its
// code point in *codePoint; 0 where the bytes from p are no such character
// (or p == end). Never reads at or beyond end.
inline int ReadUtf8(const unsigned char* p, const unsigned char* end,
                    uint32_t* codePoint) {
  if (p >= end) return 0;
  const unsigned lead = *p;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  int length;
  uint32_t c, lowest;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (end - p < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *codePoint = c;
  return length;
}

// Appends the UTF-8 form of codePoint, which is at most U+10FFFF.
inline void AppendUtf8(std::string* out, uint32_t codePoint) {
  const uint32_t c = codePoint;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

#endif  // KORVANE_BYTES_UTF8_H_

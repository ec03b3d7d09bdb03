#include "console/display_width.h"

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <iterator>

namespace {

struct Range {
  uint32_t first, last;
};

// Combining marks of the common scripts, conjoining vowels and finals of
// Hangul, and the characters of no width (joiners, direction marks,
// variation selectors).
const Range kZeroWidth[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},
    {0x05BF, 0x05BF},   {0x05C1, 0x05C2},   {0x05C4, 0x05C5},
    {0x05C7, 0x05C7},   {0x0610, 0x061A},   {0x064B, 0x065F},
    {0x0670, 0x0670},   {0x06D6, 0x06DC},   {0x06DF, 0x06E4},
    {0x06E7, 0x06E8},   {0x06EA, 0x06ED},   {0x0900, 0x0902},
    {0x093A, 0x093A},   {0x093C, 0x093C},   {0x0941, 0x0948},
    {0x094D, 0x094D},   {0x0951, 0x0957},   {0x0962, 0x0963},
    {0x0E31, 0x0E31},   {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},
    {0x1160, 0x11FF},   {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},
    {0x20D0, 0x20FF},   {0x302A, 0x302D},   {0x3099, 0x309A},
    {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},
    {0xE0001, 0xE0001}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
};

// East Asian wide and fullwidth: Hangul, the CJK blocks, Kana, Yi, the
// fullwidth forms, and the pictographs terminals show two columns wide.
const Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},
    {0x23E9, 0x23EC},   {0x23F0, 0x23F0},   {0x23F3, 0x23F3},
    {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},
    {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},
    {0x26F2, 0x26F3},   {0x26F5, 0x26F5},   {0x26FA, 0x26FA},
    {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},
    {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},
    {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
    {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F200, 0x1F2FF}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF},
    {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

template <size_t n>
bool In(const Range (&ranges)[n], uint32_t c) {
  const Range* r = std::upper_bound(
      ranges, ranges + n, c,
      [](uint32_t value, const Range& range) { return value < range.first; });
  return r != ranges && c <= std::prev(r)->last;
}

// The character that begins at s (n bytes left) and its length; 0 when no
// valid UTF-8 sequence begins there (overlong, a surrogate, cut short).
size_t Decode(const unsigned char* s, size_t n, uint32_t* c) {
  size_t length;
  uint32_t least;
  if (s[0] < 0x80) {
    *c = s[0];
    return 1;
  } else if (s[0] >= 0xC2 && s[0] <= 0xDF) {
    length = 2, least = 0x80, *c = s[0] & 0x1F;
  } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
    length = 3, least = 0x800, *c = s[0] & 0x0F;
  } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
    length = 4, least = 0x10000, *c = s[0] & 0x07;
  } else {
    return 0;
  }
  if (n < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (s[i] & 0x3F);
  }
  if (*c < least || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

size_t DisplayWidth(const std::string& text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t width = 0;
  for (size_t i = 0; i < n;) {
    uint32_t c = 0;
    const size_t length = Decode(s + i, n - i, &c);
    if (length == 0) {
      ++width;
      ++i;
      continue;
    }
    i += length;
    width += In(kZeroWidth, c) ? 0 : In(kWide, c) ? 2 : 1;
  }
  return width;
}

std::string ConsoleText(const std::string& text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  std::string shown;
  shown.reserve(n);
  for (size_t i = 0; i < n;) {
    uint32_t c = 0;
    size_t length = Decode(s + i, n - i, &c);
    if (length == 0) {
      length = 1;
      c = s[i];  // a stray byte: 0x80 to 0x9F are C1 to some terminals
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      for (size_t k = 0; k < length; ++k) {
        char escape[5];
        snprintf(escape, sizeof escape, "\\x%02x", s[i + k]);
        shown += escape;
      }
    } else {
      shown.append(text, i, length);
    }
    i += length;
  }
  return shown;
}

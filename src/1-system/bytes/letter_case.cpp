#include "bytes/letter_case.h"

#include "bytes/utf8.h"

namespace {

uint32_t Small(uint32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
    return c + 0x20;
  // Latin Extended-A: pairs, capital first, in two runs and a tail.
  if ((c >= 0x100 && c <= 0x137 && c != 0x130) || (c >= 0x14A && c <= 0x177))
    return c | 1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return c % 2 == 1 ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;  // Cyrillic Ѐ to Џ
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;  // А to Я
  return c;
}

}  // namespace

std::string FoldedLetters(const std::string& utf8) {
  std::string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    uint32_t c = 0;
    const int length = ReadUtf8(p, end, &c);
    if (length == 0) {
      out += static_cast<char>(*p++);
      continue;
    }
    AppendUtf8(&out, Small(c));
    p += length;
  }
  return out;
}

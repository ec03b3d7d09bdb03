#include "window/shown_text.h"

#include <stdint.h>
#include <stdio.h>

#include "bytes/utf8.h"

std::string ShownText(const std::string& raw) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(raw.data());
  const unsigned char* end = p + raw.size();
  std::string shown;
  shown.reserve(raw.size());
  while (p < end) {
    uint32_t c = 0;
    const int length = ReadUtf8(p, end, &c);
    if (length == 0) {
      AppendUtf8(&shown, 0xFFFD);
      ++p;
      continue;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      char escape[12];
      snprintf(escape, sizeof escape, c < 0x100 ? "\\x%02x" : "\\u%04x",
               static_cast<unsigned>(c));
      shown += escape;
    } else {
      shown.append(reinterpret_cast<const char*>(p), length);
    }
    p += length;
  }
  return shown;
}

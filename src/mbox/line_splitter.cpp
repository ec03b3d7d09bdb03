#include "mbox/line_splitter.h"

#include "bytes/byte_search.h"

void SplitLine(const unsigned char* start, LineCursor* cursor,
               const unsigned char* end) {
  if (start == nullptr || start >= end) {
    cursor->lineStart = nullptr;
    cursor->lineLength = 0;
    cursor->nextLineStart = nullptr;
    return;
  }
  const unsigned char* p = FindLineEnd(start, end);

  cursor->lineStart = start;
  cursor->lineLength = static_cast<int32_t>(p - start);
  if (p == end || *p == 0) {
    cursor->nextLineStart = nullptr;
    return;
  }
  if (*p == 13 && p + 1 < end && p[1] == 10)
    p += 2;
  else
    p += 1;
  cursor->nextLineStart = (p == end || *p == 0) ? nullptr : p;
}

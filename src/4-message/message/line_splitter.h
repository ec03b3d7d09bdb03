// Splits a message into lines. CR LF, a lone CR and a lone LF each end a
// line; a NUL ends the message.
#ifndef KORVANE_MESSAGE_LINE_SPLITTER_H_
#define KORVANE_MESSAGE_LINE_SPLITTER_H_

#include <stdint.h>

#include "bytes/byte_search.h"

struct LineCursor {
  const unsigned char* lineStart;      // null when there is no line
  int32_t lineLength;                  // without the line end
  const unsigned char* nextLineStart;  // null after the message's last line
};

// Fills cursor with the line that begins at start (which may be null) in
// the message that ends at end. Never reads at or beyond end. A final line
// end gives no extra empty line; a message is at most 2^31 - 1 bytes long.
// Inline: the writer splits a few lines of every message.
inline void SplitLine(const unsigned char* start, LineCursor* cursor,
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

#endif  // KORVANE_MESSAGE_LINE_SPLITTER_H_

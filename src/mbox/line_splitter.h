// Splits a message into lines. CR LF, a lone CR and a lone LF each end a
// line; a NUL ends the message.
#ifndef KORVANE_MBOX_LINE_SPLITTER_H_
#define KORVANE_MBOX_LINE_SPLITTER_H_

#include <stdint.h>

struct LineCursor {
  const unsigned char* lineStart;      // null when there is no line
  int32_t lineLength;                  // without the line end
  const unsigned char* nextLineStart;  // null after the message's last line
};

// Fills cursor with the line that begins at start (which may be null) in
// the message that ends at end. Never reads at or beyond end. A final line
// end gives no extra empty line; a message is at most 2^31 - 1 bytes long.
void SplitLine(const unsigned char* start, LineCursor* cursor,
               const unsigned char* end);

#endif  // KORVANE_MBOX_LINE_SPLITTER_H_

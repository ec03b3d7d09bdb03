// The lines of a message file whose line ends are not single LFs: the
// stored bytes as they are, or with CR LF for destinations that need it.
#include "framing/message_writer.h"
#include "message/message_range.h"

void MessageWriter::WriteFileLines(const unsigned char* text,
                                   const unsigned char* end, bool ownEnvelope) {
  const MessageRange range = MessageFileRange(
      text, end, ownEnvelope, options.alternativeScan, framing.keepsNul);
  if (framing.lineEnds == LineEnds::kAsStored) {
    Put(range.begin, size_t(range.end - range.begin));
    return;
  }
  // CR LF, a lone CR and a lone LF each end a line; each becomes CR LF, and
  // the last line gets one too.
  const unsigned char* p = range.begin;
  while (p != range.end && !writeFailed) {
    const unsigned char* lineEnd = p;
    while (lineEnd != range.end && *lineEnd != '\r' && *lineEnd != '\n')
      ++lineEnd;
    Put(p, size_t(lineEnd - p));
    Put("\r\n", 2);
    p = lineEnd;
    if (p != range.end && *p++ == '\r' && p != range.end && *p == '\n') ++p;
  }
}

// The lines of a message file whose line ends are not single LFs: CR LF
// for destinations that need it, or the ends as the base stores them.
// Line by line: these destinations cost a file or a network round per
// message, far more than the lines.
#include <string.h>

#include "format/base_layout.h"
#include "framing/message_writer.h"

namespace {

// The first CR or LF in [p, end), or end.
const unsigned char* FindLineBreak(const unsigned char* p,
                                   const unsigned char* end) {
  while (p != end && *p != '\r' && *p != '\n') ++p;
  return p;
}

}  // namespace

void MessageWriter::WriteFileLines(const unsigned char* text,
                                   const unsigned char* end, bool ownEnvelope) {
  if (framing.keepsNul) {
    // NULs after the last byte of text are padding, not the message's.
    while (end != text && end[-1] == 0) --end;
  } else {
    const void* nul = memchr(text, 0, size_t(end - text));
    if (nul != nullptr) end = static_cast<const unsigned char*>(nul);
  }
  const unsigned char* p = text;
  bool first = true;
  while (p != end && !writeFailed) {
    const unsigned char* lineEnd = FindLineBreak(p, end);
    const unsigned char* next = lineEnd;
    if (next != end)
      next += *next == '\r' && next + 1 != end && next[1] == '\n' ? 2 : 1;
    const bool last = next == end;
    // The message's own envelope line is no part of a file; a record
    // header that the recovery scan left at the end is no part of the
    // message.
    const bool skip = (first && ownEnvelope) ||
                      (last && options.alternativeScan && lineEnd - p >= 5 &&
                       memcmp(p, base_layout::kRecordStartPattern, 5) == 0);
    first = false;
    if (!skip) {
      Put(p, size_t(lineEnd - p));
      if (framing.lineEnds == LineEnds::kCrLf)
        Put("\r\n", 2);
      else
        Put(lineEnd, size_t(next - lineEnd));
    }
    p = next;
  }
}

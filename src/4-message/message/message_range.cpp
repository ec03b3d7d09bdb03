#include "message/message_range.h"

#include <string.h>

#include "tbb/base_layout.h"

namespace {

bool IsLineBreak(unsigned char c) { return c == '\r' || c == '\n'; }

}  // namespace

MessageRange MessageFileRange(const unsigned char* text,
                              const unsigned char* end, bool ownEnvelope,
                              bool alternativeScan) {
  const void* nul = memchr(text, 0, size_t(end - text));
  if (nul != nullptr) end = static_cast<const unsigned char*>(nul);
  const unsigned char* begin = text;
  if (ownEnvelope) {
    // Past the first line and its line end (CR LF, CR or LF).
    while (begin != end && !IsLineBreak(*begin)) ++begin;
    if (begin != end && *begin++ == '\r' && begin != end && *begin == '\n')
      ++begin;
  }
  if (alternativeScan && begin != end) {
    // The last line; a final line end is no empty line after it.
    const unsigned char* lineEnd = end;
    if (lineEnd[-1] == '\n') {
      --lineEnd;
      if (lineEnd != begin && lineEnd[-1] == '\r') --lineEnd;
    } else if (lineEnd[-1] == '\r') {
      --lineEnd;
    }
    const unsigned char* lineStart = lineEnd;
    while (lineStart != begin && !IsLineBreak(lineStart[-1])) --lineStart;
    if (base_layout::IsRecordStart(lineStart, size_t(lineEnd - lineStart)))
      end = lineStart;
  }
  return MessageRange{begin, end};
}

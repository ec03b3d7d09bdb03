#include "framing/message_writer.h"

#include <string.h>

#include <string>

#include "tbb/base_layout.h"
#include "message/line_splitter.h"
#include "message/synthetic_header.h"

namespace {

bool StartsWith(const LineCursor& line, const char* prefix, int32_t n) {
  return line.lineLength >= n && memcmp(line.lineStart, prefix, n) == 0;
}

}  // namespace

MessageWriter::MessageWriter(MessageSink* sink, const Framing& framing,
                             const WriterOptions& options)
    : options(options),
      sink(sink),
      framing(framing),
      apart(sink->MessagesApart()) {}

bool MessageWriter::WriteMessage(const unsigned char* text, int32_t length,
                                 FILETIME* time, const MessagePlace& place) {
  if (writeFailed || length <= 0) return !writeFailed;
  const unsigned char* end = text + length;
  ReadMessageHead(text, end, options.alternativeScan, &head);
  // A message with an envelope line of its own leaves the time to follow
  // as it was; its envelope time is worked out all the same.
  facts.envelopeTime =
      envelopeTimes.Of(options, time, !head.ownEnvelope, &facts.envelopeDate);
  facts.place = place;
  facts.text = text;
  facts.length = static_cast<uint32_t>(length);
  facts.sender = head.sender;
  facts.senderLength = head.senderLength;
  facts.ownEnvelope = head.ownEnvelope;
  // A recovered message that starts with an empty line has no headers of
  // its own; it gets enough for a mail reader to list it.
  facts.headerBlock =
      !head.ownEnvelope && options.alternativeScan && head.examinedLines == 0;
  entryOffset = handed + outputUsed;
  if (apart) {
    Check(sink->Begin(facts));
    if (writeFailed) return false;
  }
  if (!head.ownEnvelope && framing.mbox) WriteEnvelope(facts.envelopeDate);
  if (facts.headerBlock) {
    const std::string block = SyntheticHeader(
        facts.envelopeDate, framing.lineEnds == LineEnds::kLf ? "\n" : "\r\n");
    Put(block.data(), block.size());
  }
  if (framing.lineEnds == LineEnds::kLf && !framing.keepsNul)
    WriteLines(text, end, head.ownEnvelope);
  else
    WriteFileLines(text, end, head.ownEnvelope);
  // A message apart is whole at its end; mbox entries gather across
  // messages, and Finish hands on the rest.
  if (apart) {
    Flush();
    if (!writeFailed) Check(sink->End(facts));
  }
  return !writeFailed;
}

std::string MessageWriter::LastOutput() const {
  return apart ? sink->LastPlace() : std::to_string(entryOffset);
}

// A line and its LF, straight into the buffer where they fit: the last
// lines of every message go this way, and short messages have many.
inline void MessageWriter::PutLine(const unsigned char* bytes, int32_t count) {
  if (!writeFailed && kSinkBufferSize - outputUsed > size_t(count)) {
    unsigned char* out = OutputBuffer() + outputUsed;
    if (count > 0) memcpy(out, bytes, size_t(count));
    out[count] = '\n';
    outputUsed += size_t(count) + 1;
    return;
  }
  if (count > 0) Put(bytes, size_t(count));
  Put("\n", 1);
}

void MessageWriter::WriteLines(const unsigned char* text,
                               const unsigned char* end, bool ownEnvelope) {
  // next is where the rest of the message starts: a line start, or when
  // midLine the rest of a line whose start has been looked at already.
  const unsigned char* next = text;
  bool midLine = false;
  // Blocks before this, which needed the rules line by line, are not
  // offered to the block conversion again.
  const unsigned char* blocksFrom = text;
  const PlainBlockConverter convertBlocks = options.convertBlocks;
  const bool alternativeScan = options.alternativeScan;
  const size_t reach = PlainBlockReach(convertBlocks);
  LineCursor line;
  for (;;) {
    if (convertBlocks != nullptr && !ownEnvelope && next >= blocksFrom &&
        size_t(end - next) >= reach &&
        (midLine || (*next != 0 && !LineNeedsRules(next, alternativeScan)))) {
      for (;;) {
        if (kSinkBufferSize - outputUsed < kPlainBlockReach) Flush();
        if (writeFailed) return;
        const unsigned char* from = next;
        outputUsed +=
            convertBlocks(&next, end, OutputBuffer() + outputUsed,
                          kSinkBufferSize - outputUsed, alternativeScan);
        if (next != from) midLine = true;
        if (size_t(end - next) < reach) {
          blocksFrom = end;  // the rest is short: line by line
          break;
        }
        if (kSinkBufferSize - outputUsed >= kPlainBlockReach) {
          blocksFrom = next + kPlainBlockSize;  // this block needs the rules
          break;
        }
      }
    }

    SplitLine(next, &line, end);
    if (!midLine) {
      // A record header that the recovery scan left at the end of a
      // message is not part of it.
      if (alternativeScan && line.nextLineStart == nullptr &&
          line.lineLength >= 5 &&
          memcmp(line.lineStart, base_layout::kRecordStartPattern, 5) == 0)
        break;
      // The message's own envelope line is its first; every other "From "
      // line is quoted. A message file holds neither that line nor quoting.
      if (!framing.mbox) {
        if (ownEnvelope) {
          ownEnvelope = false;
          next = line.nextLineStart;
          if (next == nullptr) return;
          continue;
        }
      } else {
        if (!ownEnvelope && StartsWith(line, "From ", 5)) Put(">", 1);
        ownEnvelope = false;
      }
    }
    midLine = false;
    PutLine(line.lineStart, line.lineLength);
    next = line.nextLineStart;
    if (next == nullptr || writeFailed) break;
  }
  if (framing.mbox) Put("\n", 1);  // the empty line ending the entry
}

#include "framing/message_writer.h"

#include <string.h>

#include <string>

#include "date/mail_date.h"
#include "message/line_splitter.h"
#include "message/message_range.h"
#include "message/synthetic_header.h"
#include "tbb/base_layout.h"

namespace {

bool StartsWith(const LineCursor& line, const char* prefix, int32_t n) {
  return line.lineLength >= n && memcmp(line.lineStart, prefix, n) == 0;
}

// Copies a NUL-terminated text without its NUL; returns the end.
char* AppendText(char* out, const char* text) {
  while (*text != '\0') *out++ = *text++;
  return out;
}

// The decimal digits of value, with leading zeros to at least minDigits
// (as "%d" and "%02d" print it); returns the end.
char* AppendNumber(char* out, unsigned value, int minDigits) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n < minDigits) digits[n++] = '0';
  while (n > 0) *out++ = digits[--n];
  return out;
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
  facts.envelopeTime = envelopeTimes.Of(options, time, !head.ownEnvelope,
                                        &facts.envelopeDate, &facts.clockTime);
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
  if (framing.lineEnds == LineEnds::kLf)
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

bool MessageWriter::Finish() {
  Flush();
  if (!writeFailed) Check(sink->Finish());
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
          base_layout::IsRecordStart(line.lineStart, size_t(line.lineLength)))
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

// The envelope line of an mbox entry: "From", the sender and the date.
void MessageWriter::WriteEnvelope(const SYSTEMTIME& envelopeTime) {
  // "From %s  %s %s %d %02d:%02d:%02d %d" of sender, day and month names,
  // day, hour, minute, second and year, put together by hand: formatted
  // printing costs more than a whole message's lines. The texts of the day
  // are kept from the line before, which is mostly of the same day.
  const SYSTEMTIME& t = envelopeTime;
  if (t.wYear != dayTextDate.wYear || t.wMonth != dayTextDate.wMonth ||
      t.wDay != dayTextDate.wDay || t.wDayOfWeek != dayTextDate.wDayOfWeek ||
      dayTextLength == 0) {
    char* d = AppendText(dayText, "  ");
    d = AppendText(d, DayName(t.wDayOfWeek));
    *d++ = ' ';
    d = AppendText(d, MonthName(t.wMonth - 1));
    *d++ = ' ';
    d = AppendNumber(d, t.wDay, 1);
    *d++ = ' ';
    dayTextLength = static_cast<int32_t>(d - dayText);
    char* y = yearText;
    *y++ = ' ';
    y = AppendNumber(y, t.wYear, 1);
    *y++ = '\n';
    yearTextLength = static_cast<int32_t>(y - yearText);
    dayTextDate = t;
  }
  // Room for the longest sender (255 bytes) and the rest.
  char envelope[kSenderCapacity + 64];
  char* e = AppendText(envelope, "From ");
  memcpy(e, head.sender, size_t(head.senderLength));
  e += head.senderLength;
  memcpy(e, dayText, size_t(dayTextLength));
  e += dayTextLength;
  e = AppendNumber(e, t.wHour, 2);
  *e++ = ':';
  e = AppendNumber(e, t.wMinute, 2);
  *e++ = ':';
  e = AppendNumber(e, t.wSecond, 2);
  memcpy(e, yearText, size_t(yearTextLength));
  e += yearTextLength;
  Put(envelope, static_cast<DWORD>(e - envelope));
}

// The lines of a message file whose line ends are not single LFs: the
// stored bytes as they are, or with CR LF for destinations that need it.
void MessageWriter::WriteFileLines(const unsigned char* text,
                                   const unsigned char* end, bool ownEnvelope) {
  const MessageRange range =
      MessageFileRange(text, end, ownEnvelope, options.alternativeScan);
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

// Where the writer's bytes go: gathered in a buffer, then handed to the
// sink in large pieces.
unsigned char* MessageWriter::OutputBuffer() {
  if (output == nullptr) {
    output = sink->LendBuffer();
    if (output == nullptr) {
      if (!ownOutput) ownOutput.reset(new unsigned char[kSinkBufferSize]);
      output = ownOutput.get();
    }
  }
  return output;
}

void MessageWriter::Put(const void* bytes, size_t count) {
  if (writeFailed) return;
  if (kSinkBufferSize - outputUsed < count) {
    Flush();
    // A piece larger than the buffer goes as it is.
    if (count >= kSinkBufferSize) {
      if (!writeFailed) Check(sink->WriteBytes(bytes, count));
      handed += count;
      return;
    }
  }
  memcpy(OutputBuffer() + outputUsed, bytes, count);
  outputUsed += count;
}

void MessageWriter::Flush() {
  if (outputUsed == 0 || writeFailed) return;
  const size_t count = outputUsed;
  outputUsed = 0;
  Check(sink->WriteBytes(output, count));
  handed += count;
  output = nullptr;  // a lent buffer is the sink's again
}

// The first step that fails stops the writing.
void MessageWriter::Check(Status error) {
  if (error.IsOk() || writeFailed) return;
  writeFailed = true;
  writeError = std::move(error);
}

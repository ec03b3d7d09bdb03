#include "mbox/mailbox_writer.h"

#include <string.h>

#include "mbox/envelope_line.h"
#include "mbox/line_splitter.h"
#include "format/base_layout.h"

namespace {

bool StartsWith(const LineCursor& line, const char* prefix, int32_t n) {
  return line.lineLength >= n && memcmp(line.lineStart, prefix, n) == 0;
}

// Header names match in any letter case; the line holds no NUL. The
// first letter is compared here first: most lines fail on it, and cheaply.
bool StartsWithNoCase(const LineCursor& line, const char* prefix, int32_t n) {
  return line.lineLength >= n &&
         (line.lineStart[0] | 0x20) == (prefix[0] | 0x20) &&
         _strnicmp(reinterpret_cast<const char*>(line.lineStart), prefix, n) ==
             0;
}

}  // namespace

// A line and its LF, straight into the buffer where they fit: the last
// lines of every message go this way, and short messages have many.
inline void MailboxWriter::PutLine(const unsigned char* bytes, int32_t count) {
  if (!writeFailed && kOutputSize - outputUsed > size_t(count)) {
    unsigned char* out = OutputBuffer() + outputUsed;
    if (count > 0) memcpy(out, bytes, size_t(count));
    out[count] = '\n';
    outputUsed += size_t(count) + 1;
    return;
  }
  if (count > 0) Put(bytes, DWORD(count));
  Put("\n", 1);
}

WriterOptions CurrentWriterOptions(bool alternativeScan) {
  WriterOptions options;
  options.alternativeScan = alternativeScan;
  TIME_ZONE_INFORMATION zone = {};
  GetTimeZoneInformation(&zone);
  options.timeZoneBias = zone.Bias;
  GetSystemTimeAsFileTime(&options.currentTime);
  SYSTEMTIME lowerBound = {1979, 1, 0, 1, 0, 0, 0, 0};
  SystemTimeToFileTime(&lowerBound, &options.lowerTimeBound);
  return options;
}

MailboxWriter::MailboxWriter(FileStream* mailbox, const WriterOptions& options)
    : options(options), mailbox(mailbox) {
  if (options.writeBehind) StartWriteBehind();
}

MailboxWriter::MailboxWriter(MaildirDelivery* maildir,
                             const WriterOptions& options)
    : options(options), maildir(maildir) {}

bool MailboxWriter::WriteMessage(const unsigned char* text, int32_t length,
                                 FILETIME* time) {
  if (writeFailed || length <= 0) return !writeFailed;
  const unsigned char* end = text + length;
  bool ownEnvelope = false;
  int examinedLines = 0;
  FindSender(text, end, &ownEnvelope, &examinedLines);
  if (maildir != nullptr && !BeginFile()) return false;
  // A message with an envelope line of its own leaves the time to follow
  // as it was; its file's time is worked out all the same.
  SYSTEMTIME envelopeTime;
  const FILETIME envelope = EnvelopeTime(time, !ownEnvelope, &envelopeTime);
  if (!ownEnvelope) {
    if (maildir == nullptr) WriteEnvelope(envelopeTime);
    // A recovered message that starts with an empty line has no headers of
    // its own; give it enough for a mail reader to list it.
    if (options.alternativeScan && examinedLines == 0)
      WriteSyntheticHeader(envelopeTime);
  }
  WriteLines(text, end, ownEnvelope);
  // A Maildir file is whole at its message's end; mbox entries gather
  // across messages, and Finish hands on the rest.
  if (maildir != nullptr) {
    Flush();
    if (!writeFailed) FinishFile(envelope);
  }
  return !writeFailed;
}

// Looks for the sender in the message's first block (up to its first empty
// line): the first "Return-Path: " or "From: " line with a value decides. A
// message whose first line is an envelope line brings its own; any other
// "From " line is an ordinary line, and the search goes on past it.
void MailboxWriter::FindSender(const unsigned char* text,
                               const unsigned char* end, bool* ownEnvelope,
                               int* examinedLines) {
  const unsigned char* value = nullptr;
  int32_t valueLength = 0;
  LineCursor line;
  SplitLine(text, &line, end);
  while (line.lineLength != 0) {
    ++*examinedLines;
    if (*examinedLines == 1 &&
        IsEnvelopeLine(line.lineStart, line.lineLength)) {
      *ownEnvelope = true;
      return;
    }
    if (StartsWithNoCase(line, "Return-Path: ", 13) && line.lineLength > 13) {
      value = line.lineStart + 13;
      valueLength = line.lineLength - 13;
      if (value[0] == '<') {
        ++value;
        --valueLength;
      }
      if (valueLength > 0 && value[valueLength - 1] == '>') --valueLength;
      break;
    }
    if (StartsWithNoCase(line, "From: ", 6) && line.lineLength > 6) {
      value = line.lineStart + 6;
      valueLength = line.lineLength - 6;
      const void* angle = memchr(value, '<', valueLength);
      if (angle != nullptr) {
        const unsigned char* after =
            static_cast<const unsigned char*>(angle) + 1;
        valueLength -= static_cast<int32_t>(after - value);
        value = after;
      }
      if (valueLength > 0 && value[valueLength - 1] == '>') --valueLength;
      break;
    }
    // A recovered message whose first line is no header line at all: its
    // later lines are not trusted to be headers either.
    if (options.alternativeScan && *examinedLines == 1 &&
        (line.lineLength <= 2 ||
         memchr(line.lineStart, ':', line.lineLength - 2) == nullptr))
      break;
    if (line.nextLineStart == nullptr) break;
    SplitLine(line.nextLineStart, &line, end);
  }

  const int32_t capacity = kRunBufferSize - 1;
  if (valueLength > capacity) valueLength = capacity;
  if (valueLength > 0) memcpy(senderBuffer, value, valueLength);
  senderBuffer[valueLength > 0 ? valueLength : 0] = '\0';
  if (senderBuffer[0] == '\0') memcpy(senderBuffer, kProgramName, 8);
  senderLength = valueLength > 0 ? valueLength : 7;
  // A blank in the envelope sender would end the envelope line's first
  // word early, and mail readers then miss the entry; make it one word. Some
  // readers take the envelope line for ASCII and fail on other bytes.
  // Every byte is stored, so that the compiler can do many at once.
  for (int32_t i = 0; i < senderLength; ++i) {
    unsigned char b = static_cast<unsigned char>(senderBuffer[i]);
    senderBuffer[i] = b <= 0x20 || b >= 0x7F ? '-' : char(b);
  }
}

void MailboxWriter::WriteLines(const unsigned char* text,
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
        if (kOutputSize - outputUsed < kPlainBlockReach) Flush();
        if (writeFailed) return;
        const unsigned char* from = next;
        outputUsed += convertBlocks(&next, end, OutputBuffer() + outputUsed,
                                    kOutputSize - outputUsed, alternativeScan);
        if (next != from) midLine = true;
        if (size_t(end - next) < reach) {
          blocksFrom = end;  // the rest is short: line by line
          break;
        }
        if (kOutputSize - outputUsed >= kPlainBlockReach) {
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
      // line is quoted. A Maildir file holds neither that line nor quoting.
      if (maildir != nullptr) {
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
  if (maildir == nullptr) Put("\n", 1);  // the empty line ending the entry
}

#include "mbox/mailbox_writer.h"

#include <stdio.h>
#include <string.h>

#include "date/mail_date.h"
#include "mbox/envelope_line.h"
#include "mbox/line_splitter.h"
#include "scan/base_layout.h"

namespace {

const char kProgramName[] = "korvane";
const int64_t kUnitsPerSecond = 10000000;  // 100-ns units
const int64_t kUnitsPerMinute = 60 * kUnitsPerSecond;
const int64_t kUnitsPerHour = 60 * kUnitsPerMinute;
const int64_t kUnitsPerDay = 24 * kUnitsPerHour;

int64_t ToInt64(FILETIME t) {
  return static_cast<int64_t>(uint64_t(t.dwHighDateTime) << 32 |
                              t.dwLowDateTime);
}

FILETIME FromInt64(int64_t v) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(uint64_t(v));
  t.dwHighDateTime = static_cast<DWORD>(uint64_t(v) >> 32);
  return t;
}

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
  if (options.writeBehind)
    writeBehind.reset(new WriteBehind(mailbox->handle, kOutputSize, 4));
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
    // The envelope line shows whole seconds; the file's time is the same.
    if (!writeFailed) {
      const int64_t t = ToInt64(envelope);
      FinishFile(FromInt64(t - t % kUnitsPerSecond));
    }
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

FILETIME MailboxWriter::EnvelopeTime(FILETIME* time, bool storeBack,
                                     SYSTEMTIME* envelopeTime) {
  int64_t t = ToInt64(*time);
  int64_t now = ToInt64(options.currentTime);
  if (t < ToInt64(options.lowerTimeBound) || t > now) t = now;
  // A following message whose time stamp does not convert keeps this time
  // and gets the bias once, as this one does.
  if (storeBack) *time = FromInt64(t);
  const int64_t u = t + int64_t(options.timeZoneBias) * kUnitsPerMinute;
  const int64_t day = u >= 0 ? u / kUnitsPerDay : -1;
  if (day >= 0 && day == envelopeDay) {
    // The same day as the envelope before: most messages of a base share
    // their day with the one before, and the calendar need not be asked.
    const int64_t inDay = u % kUnitsPerDay;
    *envelopeTime = envelopeDate;
    envelopeTime->wHour = static_cast<WORD>(inDay / kUnitsPerHour);
    envelopeTime->wMinute = static_cast<WORD>(inDay / kUnitsPerMinute % 60);
    envelopeTime->wSecond = static_cast<WORD>(inDay / kUnitsPerSecond % 60);
    envelopeTime->wMilliseconds = static_cast<WORD>(inDay / 10000 % 1000);
    return FromInt64(u);
  }
  FILETIME universal = FromInt64(u);
  envelopeDay = -1;
  if (!FileTimeToSystemTime(&universal, envelopeTime)) {
    GetSystemTime(envelopeTime);
    GetSystemTimeAsFileTime(&universal);
  } else {
    envelopeDay = day;
    envelopeDate = *envelopeTime;
  }
  return universal;
}

void MailboxWriter::WriteEnvelope(const SYSTEMTIME& envelopeTime) {
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
  char envelope[kRunBufferSize + 64];
  char* e = AppendText(envelope, "From ");
  memcpy(e, senderBuffer, size_t(senderLength));
  e += senderLength;
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
    if (line.lineLength > 0) Put(line.lineStart, line.lineLength);
    Put("\n", 1);
    next = line.nextLineStart;
    if (next == nullptr || writeFailed) break;
  }
  if (maildir == nullptr) Put("\n", 1);  // the empty line ending the entry
}

void MailboxWriter::WriteSyntheticHeader(const SYSTEMTIME& time) {
  auto putText = [&](const char* text) {
    Put(text, static_cast<DWORD>(strlen(text)));
  };
  char* buffer = lineBuffer;
  const DWORD size = kRunBufferSize;

  FILETIME date;
  if (!SystemTimeToFileTime(&time, &date)) GetSystemTimeAsFileTime(&date);
  Put("Date: ", 6);
  FormatMailDate(&date, buffer);
  putText(buffer);
  Put("\n", 1);

  Put("From: ", 6);
  Put(kProgramName, 7);
  Put("\n", 1);

  Put("To: ", 4);
  buffer[0] = '\0';
  DWORD n = size;
  if (GetUserNameA(buffer, &n) && n <= size)
    CharLowerBuffA(buffer, n);
  else
    buffer[0] = '\0';
  buffer[size - 1] = '\0';
  putText(buffer);
  Put("@", 1);
  n = size;
  if (GetComputerNameA(buffer, &n) && n < size)
    CharLowerBuffA(buffer, n);
  else
    snprintf(buffer, size, "%s", "localhost");
  buffer[size - 1] = '\0';
  putText(buffer);
  Put("\n", 1);

  Put("Subject: ", 9);
  Put("recovered message", 17);
  Put("\n", 1);

  Put("X-Mailer: ", 10);
  Put(kProgramName, 7);
  Put("\n", 1);

  Put("\n", 1);
}

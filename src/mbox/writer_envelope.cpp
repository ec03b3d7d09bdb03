// The envelope line of an entry, its date, and the header block of a
// recovered message that has none.
#include <stdio.h>
#include <string.h>

#include "date/mail_date.h"
#include "mbox/mailbox_writer.h"

namespace {

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

// The envelope line shows whole seconds; a Maildir file's time is the same.
FILETIME WholeSeconds(int64_t t) { return FromInt64(t - t % kUnitsPerSecond); }

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
    return WholeSeconds(u);
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
  return WholeSeconds(ToInt64(universal));
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

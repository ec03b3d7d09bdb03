// The envelope line of an mbox entry: "From", the sender and the date.
#include <string.h>

#include "date/mail_date.h"
#include "framing/message_writer.h"

namespace {

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

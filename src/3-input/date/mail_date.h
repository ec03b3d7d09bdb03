// Day and month names and the mail-header date text.
#ifndef KORVANE_DATE_MAIL_DATE_H_
#define KORVANE_DATE_MAIL_DATE_H_

#include "platform/win32.h"

// Three-letter English names. No range check: callers pass fields of a
// SYSTEMTIME that the system filled.
const char* DayName(int dayOfWeek);  // 0 = Sunday .. 6
const char* MonthName(int month);    // 0 = January .. 11

// The longest text, with a five-digit year, is 32 characters.
const int kMailDateSize = 33;

// Writes time as "Sun, 9 Sep 2001 01:46:40 +0000" into out (at least
// kMailDateSize bytes). The zone is always +0000: callers hand in universal
// time. A time that does not convert is replaced by the current time.
void FormatMailDate(const FILETIME* time, char* out);

#endif  // KORVANE_DATE_MAIL_DATE_H_

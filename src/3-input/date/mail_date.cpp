#include "date/mail_date.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kNames[19][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat",
                            "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

const char* DayName(int dayOfWeek) { return kNames[dayOfWeek]; }

const char* MonthName(int month) { return kNames[7 + month]; }

void FormatMailDate(const FILETIME* time, char* out) {
  SYSTEMTIME t;
  if (!FileTimeToSystemTime(time, &t)) GetSystemTime(&t);
  // The system fills the fields in range, so the text fits; the bound is
  // there all the same.
  char text[64];
  snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %+05d",
           DayName(t.wDayOfWeek), t.wDay, MonthName(t.wMonth - 1), t.wYear,
           t.wHour, t.wMinute, t.wSecond, 0);
  memcpy(out, text, kMailDateSize - 1);
  out[kMailDateSize - 1] = '\0';
}

#include "imap/imap_date.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
const int64_t kMinSeconds = -62135596800;  // 0001-01-01 00:00:00
const int64_t kMaxSeconds = 253402300799;  // 9999-12-31 23:59:59

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

std::string FormatImapDate(int64_t seconds) {
  if (seconds < kMinSeconds) seconds = kMinSeconds;
  if (seconds > kMaxSeconds) seconds = kMaxSeconds;
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[40];
  snprintf(text, sizeof text, "%02u-%.3s-%04d %02d:%02d:%02d +0000", day,
           kMonths + 3 * (month - 1), static_cast<int>(year),
           static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
           static_cast<int>(rest % 60));
  return text;
}

bool ParseImapDate(const std::string& text, int64_t* seconds) {
  unsigned day, hour, minute, second, zone;
  int year;
  char month[4], sign;
  int end = 0;
  if (sscanf(text.c_str(), "%2u-%3c-%4d %2u:%2u:%2u %c%4u%n", &day, month,
             &year, &hour, &minute, &second, &sign, &zone, &end) != 8 ||
      static_cast<size_t>(end) != text.size() || (sign != '+' && sign != '-'))
    return false;
  month[3] = '\0';
  const char* found = strstr(kMonths, month);
  if (!found || (found - kMonths) % 3 != 0 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 60 || zone % 100 > 59)
    return false;
  const unsigned m = static_cast<unsigned>((found - kMonths) / 3 + 1);
  const int64_t offset = (zone / 100 * 60 + zone % 100) * 60;
  *seconds = DaysFromCivil(year, m, day) * 86400 + hour * 3600 + minute * 60 +
             second - (sign == '+' ? offset : -offset);
  return true;
}

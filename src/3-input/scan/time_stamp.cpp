#include "scan/time_stamp.h"

#include "platform/file_time.h"

namespace {

const signed char kMonthLength[12] = {31, 28, 31, 30, 31, 30,
                                      31, 31, 30, 31, 30, 31};

const uint32_t kSecondsFrom1970To1980 = 315532800u;
const int32_t kHoursPerFourYears = 35064;  // 1461 days
const int32_t kHoursPerLeapYear = 8784;
const int32_t kHoursPerYear = 8760;
const int32_t kLeapDay = 60;  // 29 February as a 1-based day of the year

}  // namespace

bool SecondsToFileTime(uint32_t seconds, FILETIME* out) {
  // Seconds since 1980, read as signed after the subtraction so that stamps
  // from 2^31 on still count forward. Every division below truncates toward
  // zero, so a stamp before 1980 leaves a negative field and fails below.
  int32_t s = static_cast<int32_t>(seconds - kSecondsFrom1970To1980);
  if (s >= 0) {
    // 1980 to 2048: the calendar below is exact there, so the moment is the
    // stamp itself; the run converts one stamp per message.
    *out = FileTimeOfTicks((uint64_t(seconds) + kSecondsFrom1601To1970) *
                           kTicksPerSecond);
    return true;
  }
  SYSTEMTIME t = {};
  t.wSecond = static_cast<WORD>(s % 60);
  int32_t m = s / 60;
  t.wMinute = static_cast<WORD>(m % 60);
  int32_t h = m / 60;

  int32_t year = 1980 + 4 * (h / kHoursPerFourYears);
  int32_t r = h % kHoursPerFourYears;
  if (r >= kHoursPerLeapYear) {
    r -= kHoursPerLeapYear;
    year += r / kHoursPerYear + 1;
    r %= kHoursPerYear;
  }
  t.wYear = static_cast<WORD>(year);
  t.wHour = static_cast<WORD>(r % 24);
  int32_t d = r / 24 + 1;

  bool leapDay = false;
  if ((year & 3) == 0) {
    if (d > kLeapDay) {
      --d;
    } else if (d == kLeapDay) {
      leapDay = true;
    }
  }
  if (leapDay) {
    t.wMonth = 2;
    t.wDay = 29;
  } else {
    int month = 0;
    // d never exceeds 365 here, the sum of the table, so the walk ends.
    while (month < 11 && kMonthLength[month] < d) {
      d -= kMonthLength[month];
      ++month;
    }
    t.wMonth = static_cast<WORD>(month + 1);
    t.wDay = static_cast<WORD>(d);
  }
  t.wMilliseconds = 0;
  return SystemTimeToFileTime(&t, out) != FALSE;
}

// The time calls of win32.h over POSIX, with a calendar of their own that
// runs from 1601 to 30828 as Windows' does.
#include <string.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "platform/file_time.h"
#include "platform/win32.h"

namespace {

// Days are counted from 1601-01-01, the first day of a 400-year leap cycle,
// which keeps all the arithmetic non-negative.
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400;

bool IsLeap(unsigned year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static const unsigned char kDays[12] = {31, 28, 31, 30, 31, 30,
                                          31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29u : kDays[month - 1];
}

const unsigned short kDaysBeforeMonth[12] = {0,   31,  59,  90,  120, 151,
                                             181, 212, 243, 273, 304, 334};

int64_t DaysFromCivil(unsigned year, unsigned month, unsigned day) {
  const int64_t y = static_cast<int64_t>(year) - 1601;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[month - 1] +
         (month > 2 && IsLeap(year) ? 1 : 0) + day - 1;
}

void CivilFromDays(uint64_t days, unsigned* year, unsigned* month,
                   unsigned* day) {
  const uint64_t cycles400 = days / 146097;
  uint64_t rest = days % 146097;
  // The last day of a 400- or 4-year cycle belongs to its final, leap, year.
  const uint64_t centuries = std::min<uint64_t>(rest / 36524, 3);
  rest -= centuries * 36524;
  const uint64_t cycles4 = rest / 1461;
  rest %= 1461;
  const uint64_t years = std::min<uint64_t>(rest / 365, 3);
  rest -= years * 365;
  const unsigned y = static_cast<unsigned>(
      1601 + cycles400 * 400 + centuries * 100 + cycles4 * 4 + years);
  unsigned m = 1;
  while (m < 12 && rest >= DaysInMonth(y, m)) rest -= DaysInMonth(y, m++);
  *year = y;
  *month = m;
  *day = static_cast<unsigned>(rest) + 1;
}

void SystemTimeFromTicks(uint64_t ticks, SYSTEMTIME* st) {
  const uint64_t days = ticks / kTicksPerDay;
  const uint64_t inDay = ticks % kTicksPerDay;
  unsigned y, m, d;
  CivilFromDays(days, &y, &m, &d);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01: Monday
  const uint64_t seconds = inDay / kTicksPerSecond;
  st->wHour = static_cast<WORD>(seconds / 3600);
  st->wMinute = static_cast<WORD>(seconds / 60 % 60);
  st->wSecond = static_cast<WORD>(seconds % 60);
  st->wMilliseconds = static_cast<WORD>(inDay % kTicksPerSecond / 10000);
}

uint64_t NowTicks() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  const int64_t seconds =
      static_cast<int64_t>(ts.tv_sec) + int64_t{kSecondsFrom1601To1970};
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * kTicksPerSecond +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

void CopyName(const char* from, WCHAR* to) {
  size_t i = 0;
  for (; from != nullptr && from[i] != '\0' && i < 31; ++i) {
    to[i] = static_cast<unsigned char>(from[i]);
  }
  to[i] = 0;
}

}  // namespace

DWORD WINAPI GetTickCount(void) {
  struct timespec ts;
#ifdef CLOCK_MONOTONIC_COARSE
  // As fine as Windows's own tick (10 to 16 ms) or finer, and cheaper to
  // read: the run reads it once per message.
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
#else
  clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
  return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000 +
                            static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION information) {
  if (information == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  // tzset replaces the C library's zone state, tzname among it, which the
  // calls below read: one thread at a time.
  static std::mutex zoneMutex;
  std::lock_guard<std::mutex> lock(zoneMutex);
  tzset();
  // The offsets of now and of midwinter and midsummer in both hemispheres
  // tell the standard offset and whether the zone keeps daylight saving.
  const time_t now = time(nullptr);
  struct tm nowTm, utc;
  if (localtime_r(&now, &nowTm) == nullptr || gmtime_r(&now, &utc) == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  const unsigned year = std::min(std::max(utc.tm_year + 1900, 1700), 30000);
  struct tm probe[2];
  for (int i = 0; i < 2; ++i) {
    const int64_t seconds = DaysFromCivil(year, i == 0 ? 1 : 7, 1) * 86400 -
                            int64_t{kSecondsFrom1601To1970};
    const time_t t = static_cast<time_t>(seconds + 12 * 3600);
    if (localtime_r(&t, &probe[i]) == nullptr) probe[i] = nowTm;
  }
  const struct tm* standard = &nowTm;
  if (nowTm.tm_isdst > 0) {
    standard = probe[0].tm_isdst <= 0 ? &probe[0] : &probe[1];
  }
  const struct tm* daylight = nullptr;
  if (nowTm.tm_isdst > 0) {
    daylight = &nowTm;
  } else if (probe[0].tm_isdst > 0) {
    daylight = &probe[0];
  } else if (probe[1].tm_isdst > 0) {
    daylight = &probe[1];
  }
  long standardOffset = standard->tm_gmtoff;
  if (standard->tm_isdst > 0) standardOffset -= 3600;  // never standard

  memset(information, 0, sizeof *information);
  information->Bias = static_cast<LONG>(-standardOffset / 60);
  information->StandardBias = 0;
  information->DaylightBias =
      daylight == nullptr
          ? 0
          : static_cast<LONG>(-(daylight->tm_gmtoff - standardOffset) / 60);
  CopyName(tzname[0], information->StandardName);
  CopyName(tzname[1], information->DaylightName);
  if (daylight == nullptr) return TIME_ZONE_ID_UNKNOWN;
  return nowTm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME systemTimeAsFileTime) {
  *systemTimeAsFileTime = FileTimeOfTicks(NowTicks());
}

void WINAPI GetSystemTime(LPSYSTEMTIME systemTime) {
  SystemTimeFromTicks(NowTicks(), systemTime);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime,
                                 LPFILETIME fileTime) {
  const SYSTEMTIME& s = *systemTime;
  if (s.wYear < 1601 || s.wYear > 30827 || s.wMonth < 1 || s.wMonth > 12 ||
      s.wDay < 1 || s.wDay > DaysInMonth(s.wYear, s.wMonth) || s.wHour > 23 ||
      s.wMinute > 59 || s.wSecond > 59 || s.wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t days =
      static_cast<uint64_t>(DaysFromCivil(s.wYear, s.wMonth, s.wDay));
  const uint64_t seconds =
      (days * 24 + s.wHour) * 3600 + s.wMinute * 60u + s.wSecond;
  const uint64_t ticks =
      seconds * kTicksPerSecond + uint64_t{s.wMilliseconds} * 10000;
  *fileTime = FileTimeOfTicks(ticks);
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime,
                                 LPSYSTEMTIME systemTime) {
  if (fileTime->dwHighDateTime & 0x80000000u) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SystemTimeFromTicks(TicksOf(*fileTime), systemTime);
  return TRUE;
}

// Windows' moment, FILETIME: 100-nanosecond ticks since 1601-01-01 UTC,
// the start of a 400-year leap cycle; and where the Unix clock's start,
// 1970-01-01, falls on it.
#ifndef KORVANE_PLATFORM_FILE_TIME_H_
#define KORVANE_PLATFORM_FILE_TIME_H_

#include <stdint.h>

#include "platform/win32.h"

const uint64_t kTicksPerSecond = 10000000;
// 134774 days: 369 years, 89 of them leap years.
const uint64_t kSecondsFrom1601To1970 = 11644473600u;
const uint64_t kUnixEpochTicks = kSecondsFrom1601To1970 * kTicksPerSecond;

inline uint64_t TicksOf(const FILETIME& time) {
  return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

inline FILETIME FileTimeOfTicks(uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

#endif  // KORVANE_PLATFORM_FILE_TIME_H_

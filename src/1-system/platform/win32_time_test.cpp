// Tests of the time calls of the Win32 subset: FILETIME and SYSTEMTIME,
// the clock and the time zone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/win32.h"
#include "platform/win32_test_support.h"

namespace {

using win32_testing::UnderWine;

uint64_t Ticks(const FILETIME& ft) {
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

FILETIME FromTicks(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::string Show(const SYSTEMTIME& s) {
  char text[64];
  snprintf(text, sizeof text, "%u-%02u-%02u %02u:%02u:%02u.%03u dow %u",
           s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond,
           s.wMilliseconds, s.wDayOfWeek);
  return text;
}

TEST(Win32FileTimeTest, ConvertsKnownInstants) {
  // Computed independently; the ends of leap cycles, then the largest
  // FILETIME, which is past SYSTEMTIME's input range. Fields: year, month,
  // day of week, day, h, m, s, ms.
  const struct {
    uint64_t ticks;
    SYSTEMTIME st;
  } kCases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {94405824000000000, {1900, 3, 4, 1, 0, 0, 0, 0}},
      {119284704000000000, {1979, 1, 1, 1, 0, 0, 0, 0}},
      {125963012967890000, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {126444736000000000, {2001, 9, 0, 9, 1, 46, 40, 0}},
      {252190588280090000, {2400, 2, 2, 29, 6, 7, 8, 9}},
      {1262303999990000, {1604, 12, 5, 31, 23, 59, 59, 999}},
      {31555872000010000, {1700, 12, 5, 31, 0, 0, 0, 1}},
      {126227376000000000, {2000, 12, 0, 31, 12, 0, 0, 0}},
      {126227808000000000, {2001, 1, 1, 1, 0, 0, 0, 0}},
      {9223149887999990000u, {30827, 12, 5, 31, 23, 59, 59, 999}},
      {0x7FFFFFFFFFFFFFFFu, {30828, 9, 4, 14, 2, 48, 5, 477}},
  };
  for (const auto& c : kCases) {
    SYSTEMTIME st;
    FILETIME ft = FromTicks(c.ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << c.ticks;
    EXPECT_EQ(Show(c.st), Show(st));
    if (c.st.wYear > 30827) continue;
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << Show(c.st);
    EXPECT_EQ(c.ticks / 10000 * 10000, Ticks(ft)) << Show(c.st);
  }
  for (uint64_t ticks : {uint64_t{1} << 63, ~uint64_t{0}}) {
    const FILETIME ft = FromTicks(ticks);
    SYSTEMTIME st;
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st)) << ticks;
  }
}

TEST(Win32SystemTimeTest, ValidatesEveryField) {
  // Year, month, day of week (ignored), day, h, m, s, ms.
  const SYSTEMTIME kValid[] = {{2004, 2, 0, 29, 0, 0, 0, 0},
                               {2001, 4, 0, 30, 0, 0, 0, 0},
                               {2000, 1, 65535, 31, 0, 0, 0, 0}};
  const struct {
    SYSTEMTIME st;
    bool wineTakesIt;  // Wine's leap-day and upper-year checks are missing
  } kInvalid[] = {{{1600, 12, 0, 31, 23, 59, 59, 999}, false},
                  {{30828, 1, 0, 1, 0, 0, 0, 0}, true},
                  {{2000, 0, 0, 1, 0, 0, 0, 0}, false},
                  {{2000, 13, 0, 1, 0, 0, 0, 0}, false},
                  {{2000, 1, 0, 0, 0, 0, 0, 0}, false},
                  {{2000, 1, 0, 32, 0, 0, 0, 0}, false},
                  {{2001, 4, 0, 31, 0, 0, 0, 0}, false},
                  {{1900, 2, 0, 29, 0, 0, 0, 0}, true},
                  {{2001, 2, 0, 29, 0, 0, 0, 0}, true},
                  {{2000, 2, 0, 30, 0, 0, 0, 0}, false},
                  {{2000, 1, 0, 1, 24, 0, 0, 0}, false},
                  {{2000, 1, 0, 1, 23, 60, 0, 0}, false},
                  {{2000, 1, 0, 1, 23, 59, 60, 0}, false},
                  {{2000, 1, 0, 1, 23, 59, 59, 1000}, false}};
  FILETIME ft;
  for (const SYSTEMTIME& st : kValid) {
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft)) << Show(st);
  }
  for (const auto& c : kInvalid) {
    if (c.wineTakesIt && UnderWine()) continue;
    const SYSTEMTIME& st = c.st;
    ft = FromTicks(0x0123456789ABCDEFu);
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << Show(st);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError()) << Show(st);
    EXPECT_EQ(0x0123456789ABCDEFu, Ticks(ft)) << Show(st);
  }
}

TEST(Win32SystemTimeTest, NowAgreesWithTheCClock) {
  FILETIME before, after, fromFields;
  SYSTEMTIME now;
  GetSystemTimeAsFileTime(&before);
  GetSystemTime(&now);
  GetSystemTimeAsFileTime(&after);
  ASSERT_TRUE(SystemTimeToFileTime(&now, &fromFields));
  EXPECT_LE(Ticks(before) / 10000 * 10000, Ticks(fromFields));
  EXPECT_LE(Ticks(fromFields), Ticks(after));
  const int64_t unix = (int64_t{time(nullptr)} + 11644473600) * 10000000;
  EXPECT_LT(std::llabs(static_cast<int64_t>(Ticks(before)) - unix),
            int64_t{120} * 10000000);
}

#ifndef _WIN32
TEST(Win32TimeZoneTest, BiasIsTheStandardOffsetWestPositive) {
  const struct {
    const char* tz;
    LONG bias, daylightBias;
  } kCases[] = {{"UTC", 0, 0},
                {"EST5", 300, 0},
                {"UTC-3", -180, 0},
                {"<+0545>-5:45", -345, 0},
                {"EST5EDT", 300, -60},
                {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60},
                {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", -630, -30}};
  const char* old = getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  for (const auto& c : kCases) {
    setenv("TZ", c.tz, 1);
    TIME_ZONE_INFORMATION tzi;
    const DWORD id = GetTimeZoneInformation(&tzi);
    EXPECT_EQ(c.bias, tzi.Bias) << c.tz;
    EXPECT_EQ(0, tzi.StandardBias) << c.tz;
    EXPECT_EQ(c.daylightBias, tzi.DaylightBias) << c.tz;
    EXPECT_EQ(c.daylightBias == 0, id == TIME_ZONE_ID_UNKNOWN) << c.tz;
    EXPECT_NE(TIME_ZONE_ID_INVALID, id);
  }
  old != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
}
#endif

}  // namespace

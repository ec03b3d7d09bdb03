#include "scan/time_stamp.h"

#include <gtest/gtest.h>

namespace {

const int64_t kUnixEpochIn1601Seconds = 11644473600LL;

uint64_t AsUnits(const FILETIME& t) {
  return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

struct Case {
  uint32_t seconds;
  bool converts;
  int64_t expectedUnixSeconds;  // the moment the result stands for
  const char* what;
};

const Case kCases[] = {
    {315532800u, true, 315532800, "1980-01-01 00:00:00, a Tuesday"},
    {315532799u, false, 0, "one second before 1980"},
    {320630400u, true, 320630400, "1980-02-29"},
    {320716800u, true, 320716800, "1980-03-01"},
    {951782400u, true, 951782400, "2000-02-29"},
    {951868800u, true, 951868800, "2000-03-01"},
    {1000000000u, true, 1000000000, "2001-09-09 01:46:40"},
    {1025471447u, true, 1025471447, "2002-06-30 21:10:47"},
    {1072915199u, true, 1072915199, "2003-12-31 23:59:59"},
    {1104537599u, true, 1104537599, "2004-12-31 23:59:59, leap year end"},
    {2147483647u, true, 2147483647, "2038-01-19 03:14:07"},
    {2147483648u, true, 2147483648LL, "2038-01-19 03:14:08, past 2^31"},
    {2463016447u, true, 2463016447LL, "2048-01-19 03:14:07, the last stamp"},
    {2463016448u, false, 0, "one past the last stamp"},
    {189302400u, true, 189302400, "1976-01-01: s is one block back"},
    {189302401u, false, 0, "one second later"},
    {4231808896u, true, -63158400, "1968-01-01: s is three blocks back"},
    {0u, false, 0, "1970-01-01"},
    {0xFFFFFFFFu, false, 0, "the largest stamp"},
};

TEST(SecondsToFileTimeTest, Table) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FILETIME out = {0xDEADBEEFu, 0xFEEDFACEu};
    bool converted = SecondsToFileTime(c.seconds, &out);
    EXPECT_EQ(c.converts, converted);
    if (c.converts) {
      EXPECT_EQ(uint64_t(c.expectedUnixSeconds + kUnixEpochIn1601Seconds) *
                    10000000u,
                AsUnits(out));
    } else {
      EXPECT_EQ(0xDEADBEEFu, out.dwLowDateTime) << "output was written";
      EXPECT_EQ(0xFEEDFACEu, out.dwHighDateTime) << "output was written";
    }
  }
}

// Every stamp of the range converts to the exact moment: check a sweep of
// them, one a little over a day apart so that every day of the year, every
// hour and every leap day is passed.
TEST(SecondsToFileTimeTest, ExactThroughoutTheRange) {
  for (uint64_t s = 315532800u; s <= 2463016447u; s += 86413) {
    FILETIME out;
    ASSERT_TRUE(SecondsToFileTime(static_cast<uint32_t>(s), &out)) << s;
    ASSERT_EQ((s + kUnixEpochIn1601Seconds) * 10000000u, AsUnits(out)) << s;
  }
}

}  // namespace

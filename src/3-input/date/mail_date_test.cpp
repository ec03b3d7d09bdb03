#include "date/mail_date.h"

#include <gtest/gtest.h>

#include <string>

namespace {

FILETIME FromUnits(uint64_t units) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(units);
  t.dwHighDateTime = static_cast<DWORD>(units >> 32);
  return t;
}

TEST(MailDateTest, Names) {
  const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(days[i], DayName(i));
  const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i) EXPECT_STREQ(months[i], MonthName(i));
}

TEST(MailDateTest, Formats) {
  struct Case {
    uint64_t units;
    const char* expected;
  } cases[] = {
      {126444736000000000ULL, "Sun, 9 Sep 2001 01:46:40 +0000"},
      {0, "Mon, 1 Jan 1601 00:00:00 +0000"},
      {119284704000000000ULL, "Mon, 1 Jan 1979 00:00:00 +0000"},
      {0x7FFFFFFFFFFFFFFFULL, "Thu, 14 Sep 30828 02:48:05 +0000"},
  };
  for (const Case& c : cases) {
    char out[256];
    FILETIME t = FromUnits(c.units);
    FormatMailDate(&t, out);
    EXPECT_STREQ(c.expected, out);
    EXPECT_LT(strlen(out), size_t(kMailDateSize));
  }
}

TEST(MailDateTest, UnconvertibleTimeGivesTheCurrentTime) {
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  char out[256];
  FILETIME t = FromUnits(0x8000000000000000ULL);
  FormatMailDate(&t, out);
  SYSTEMTIME now;
  FileTimeToSystemTime(&before, &now);
  // The year is the current one (a run at the turn of the year may see the
  // next; allow it).
  std::string text = out;
  std::string year = " " + std::to_string(now.wYear) + " ";
  std::string next = " " + std::to_string(now.wYear + 1) + " ";
  EXPECT_TRUE(text.find(year) != std::string::npos ||
              text.find(next) != std::string::npos)
      << text;
  EXPECT_EQ("+0000", text.substr(text.size() - 5));
}

}  // namespace

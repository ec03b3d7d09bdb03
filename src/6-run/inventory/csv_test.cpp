// RFC 4180 quoting and the inventory's dates.
#include "inventory/csv.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CsvTest, QuotesWhereNeeded) {
  const char* const kCases[][2] = {
      {"plain text", "plain text"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"lf\nonly", "\"lf\nonly\""},
      {" blanks kept ", " blanks kept "},
  };
  for (const auto& c : kCases) {
    std::string out;
    AppendCsvField(&out, c[0]);
    EXPECT_EQ(c[1], out);
  }
  std::string row;
  AppendCsvRow(&row, {"1", "x,y", ""});
  EXPECT_EQ("1,\"x,y\",\r\n", row);
}

TEST(CsvTest, DatesInUtc) {
  SYSTEMTIME t = {};
  t.wYear = 2001, t.wMonth = 9, t.wDay = 9;
  t.wHour = 1, t.wMinute = 46, t.wSecond = 40, t.wMilliseconds = 999;
  EXPECT_EQ("2001-09-09T01:46:40Z", IsoUtcDate(t));
  EXPECT_EQ(std::string("\xEF\xBB\xBF"), kUtf8ByteOrderMark);
}

}  // namespace

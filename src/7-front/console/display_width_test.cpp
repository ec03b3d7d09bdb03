#include "console/display_width.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayWidthTest, ColumnsOnATerminal) {
  const struct {
    const char* text;
    size_t width;
  } kCases[] = {
      {"", 0},
      {"Sent Items", 10},
      {u8"B\u00fccher \u03a9\u03bc\u03ad\u03b3\u03b1", 12},  // precomposed
      {u8"Bu\u0308cher \u03b5\u0301", 8},                    // combining marks
      {u8"\u65e5\u672c\u8a9e", 6},                           // CJK
      {u8"\ud55c\uad6d", 4},                                 // Hangul
      {u8"\uff21\uff22 \u3042", 7},                          // fullwidth, Kana
      {u8"\U0001f600 \U00020000", 5},                        // beyond the BMP
      {u8"a\u200bb\ufe0f", 2},                               // no width
      {"\xff\xfe!", 3},                                      // not UTF-8
      {"\xe6\x97", 2},                                       // cut short
      {"\xc0\xaf\xed\xa0\x80", 5},  // overlong, a surrogate
      {"\xe6\x97\xa5\x80", 3},      // a stray continuation byte
  };
  for (const auto& c : kCases)
    EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
}

TEST(DisplayWidthTest, ControlsAreEscaped) {
  const struct {
    std::string text, shown;
  } kCases[] = {
      {"Sent Items", "Sent Items"},
      {u8"K\u00f6ln \u65e5", u8"K\u00f6ln \u65e5"},
      {"a\x1b]0;owned\x07"
       "b",
       "a\\x1b]0;owned\\x07b"},
      {"tab\tnew\nline\rcr", "tab\\x09new\\x0aline\\x0dcr"},
      {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7f"},
      {"c1 \xc2\x9b"
       "2J",
       "c1 \\xc2\\x9b2J"},  // CSI as UTF-8
      {"raw \x9b"
       "2J \xff",
       "raw \\x9b2J \xff"},  // as a byte; 0xFF kept
  };
  for (const auto& c : kCases) EXPECT_EQ(ConsoleText(c.text), c.shown);
}

}  // namespace

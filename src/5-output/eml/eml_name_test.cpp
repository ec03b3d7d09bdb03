// The .eml names: the subject's part safe on both systems, cut by
// characters and bytes.
#include "eml/eml_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

SYSTEMTIME Date(WORD year, WORD month, WORD day) {
  SYSTEMTIME t = {};
  t.wYear = year, t.wMonth = month, t.wDay = day;
  return t;
}

std::string Repeat(const std::string& s, int n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}

TEST(EmlNameTest, NamesFromIndexDateAndSubject) {
  const struct {
    uint64_t index;
    std::string subject;
    std::string expected;
  } kCases[] = {
      {1, "hello", "000001 2001-09-09 hello.eml"},
      {1234567, "", "1234567 2001-09-09.eml"},
      {2, " . ", "000002 2001-09-09.eml"},
      {3, "Re: a/b\\c|d?*<>\"e", "000003 2001-09-09 Re_ a_b_c_d_____e.eml"},
      {4, "wait... \t", "000004 2001-09-09 wait... _.eml"},
      {5, "wait... ", "000005 2001-09-09 wait.eml"},
      {6,
       "a\x01"
       "b\xFF"
       "c\xC2\x85",
       "000006 2001-09-09 a_b_c_.eml"},
      {6, "x\u202Egpj.exe", "000006 2001-09-09 x_gpj.exe.eml"},
      {7, Repeat("é", 70), "000007 2001-09-09 " + Repeat("é", 60) + ".eml"},
      // 60 characters of four bytes would pass 255 bytes: 58 fit.
      {8, Repeat("😀", 60), "000008 2001-09-09 " + Repeat("😀", 58) + ".eml"},
  };
  for (const auto& c : kCases) {
    const std::string name = EmlFileName(c.index, Date(2001, 9, 9), c.subject);
    EXPECT_EQ(c.expected, name);
    EXPECT_LE(name.size(), 255u);
  }
}

TEST(EmlNameTest, DeviceNamesOfWindowsAreNotLeft) {
  const char* const kCases[][2] = {
      {"CON", "CON_"},         {"nul.txt", "nul_.txt"},
      {"Lpt9 .x", "Lpt9_ .x"}, {"COM\xC2\xB9", "COM\xC2\xB9_"},
      {"conout$", "conout$_"}, {"CONSOLE", "CONSOLE"},
      {"COM10", "COM10"},      {"aux.", "aux_"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c[1], SafeNamePart(c[0], 60, 200));
  EXPECT_EQ("_ON", SafeNamePart("CON", 60, 3));
}

}  // namespace

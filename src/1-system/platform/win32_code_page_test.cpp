// Tests of the code page calls of the Win32 subset: the POSIX layer reads
// every kind of code page the header decoder names as Windows does,
// including where iconv's tables differ from Windows' own.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win32_test_support.h"

namespace {

struct Case {
  UINT codePage;
  DWORD flags;
  std::string bytes;
  std::vector<WCHAR> expected;  // empty: fails with error
  DWORD error = ERROR_SUCCESS;
};

const DWORD kStrict = MB_ERR_INVALID_CHARS;

TEST(Win32CodePageTest, ReadsAsWindowsReads) {
  const Case kCases[] = {
      {1252,
       kStrict,
       "caf\xE9 \x80\x96",
       {'c', 'a', 'f', 0xE9, ' ', 0x20AC, 0x2013}},
      // Bytes without a character in 1252: Windows' C1 code points.
      {1252, kStrict, "\x81\x8D\x9D", {0x81, 0x8D, 0x9D}},
      {1255, kStrict, "\xCA\xE0", {0x05BA, 0x05D0}},  // iconv lacks 0xCA
      {874, kStrict, "\xDB", {}, ERROR_NO_UNICODE_TRANSLATION},
      {28597, kStrict, "\xA1\xE1", {0x02BD, 0x03B1}},
      {28597, kStrict, "\xA4", {}, ERROR_NO_UNICODE_TRANSLATION},
      {21866, kStrict, "\xAE\xC1", {0x045E, 0x0430}},
      {10000, kStrict, "\xBD\x8A", {0x2126, 0xE4}},
      {20127, kStrict, "A\xC1", {'A', 'A'}},  // the high bit dropped
      {20127, kStrict, "\xBF", {}, ERROR_NO_UNICODE_TRANSLATION},
      {20866, kStrict, "\xF0\xD2", {0x041F, 0x0440}},
      {932, kStrict, "\x82\xA0\xB1\x80", {0x3042, 0xFF71, 0x80}},
      {932, kStrict, "\x82", {}, ERROR_NO_UNICODE_TRANSLATION},  // cut short
      {936,
       kStrict,
       "\xD6\xD0\xAA\xA1\xA2\xAB\xFE\xA0",
       {0x4E2D, 0xE000, 0xE766, 0xE864}},
      {949, kStrict, "\xC7\xD1\xC9\xA1\x80", {0xD55C, 0xE000, 0x80}},
      {949, kStrict, "\xA2\xE8", {}, ERROR_NO_UNICODE_TRANSLATION},
      {950, kStrict, "\xA4\xA4\x81\x40\xFE\xFE", {0x4E2D, 0xEEB8, 0xE310}},
      // 20932: 0x8F alone; the second set with its second byte below 0x80.
      {20932, kStrict, "\xA4\xA2\x8E\xB1\x8F", {0x3042, 0xFF71, 0x8F}},
      {20932,
       kStrict,
       "\xA2\x30\xA2\x37\xF5\xA1\xF5\x21",
       {0x02C7, 0x7E, 0xE000, 0xE3AC}},
      {65001,
       kStrict,
       "\xE2\x82\xAC\xF0\x9F\x98\x80",
       {0x20AC, 0xD83D, 0xDE00}},
      {65001, kStrict, "\xED\xA0\x80", {}, ERROR_NO_UNICODE_TRANSLATION},
      {65001, kStrict, "\xC0\xAF", {}, ERROR_NO_UNICODE_TRANSLATION},
      {65001, 0, "a\xFF", {'a', 0xFFFD}},
      {50220, 0, "\x1B$B$\"\x1B(Bx", {0x3042, 'x'}},
      {50225, 0, "\x1B$)C\x0EGQ\x0Fx", {0xD55C, 'x'}},
      {65000, 0, "+AOk-", {0xE9}},
      {50220, kStrict, "x", {}, ERROR_INVALID_FLAGS},
      // ISO-8859-10: Windows has no code page for it.
      {28600, kStrict, "x", {}, ERROR_INVALID_PARAMETER},
      {54936, kStrict, "\x81\x30\x81\x30\xD6\xD0", {0x80, 0x4E2D}},
  };
  for (const Case& c : kCases) {
    // Wine has none of these three.
    if ((c.codePage == 54936 || c.codePage == 50220 || c.codePage == 50225) &&
        win32_testing::UnderWine())
      continue;
    SCOPED_TRACE(testing::Message() << c.codePage << " case " << (&c - kCases));
    WCHAR out[16] = {};
    SetLastError(ERROR_SUCCESS);
    const int n = MultiByteToWideChar(c.codePage, c.flags, c.bytes.data(),
                                      int(c.bytes.size()), out, 16);
    if (c.expected.empty()) {
      EXPECT_EQ(0, n);
      EXPECT_EQ(c.error, GetLastError());
    } else {
      EXPECT_EQ(c.expected, std::vector<WCHAR>(out, out + (n > 0 ? n : 0)));
    }
  }
}

TEST(Win32CodePageTest, SizesAndTerminators) {
  // No room asked: the count; too little: nothing; -1: the NUL included.
  const char text[] = "\xC3\xA9t\xC3\xA9";
  EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, text, 5, nullptr, 0));
  WCHAR out[8];
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, text, 5, out, 2));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  ASSERT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 8));
  EXPECT_EQ(0, out[3]);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, text, 0, out, 8));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

  const WCHAR wide[] = {'a', 0xE9, 0xD83D, 0xDE00, 0xDC00, 0};
  char bytes[16];
  EXPECT_EQ(10, WideCharToMultiByte(CP_UTF8, 0, wide, 5, nullptr, 0, nullptr,
                                    nullptr));
  ASSERT_EQ(11, WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 16, nullptr,
                                    nullptr));
  // The lone low surrogate becomes U+FFFD, or fails where asked.
  EXPECT_EQ(std::string("a\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD", 11),
            std::string(bytes, 11));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, 5,
                                   bytes, 16, nullptr, nullptr));
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
  EXPECT_EQ(
      0, WideCharToMultiByte(CP_UTF8, 0, wide, 5, bytes, 4, nullptr, nullptr));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

// Threads that read code pages at once (each first use builds or opens
// what the layer keeps) all get what one thread gets.
TEST(Win32CodePageThreadTest, ThreadsReadAlike) {
  const UINT kPages[] = {1252, 1251, 932, 936, 20932, 28597};
  const std::string text = "a\xA4\xA1\xB1\xC1\xE0";
  auto read = [&](UINT page) {
    WCHAR out[16];
    const int n =
        MultiByteToWideChar(page, 0, text.data(), int(text.size()), out, 16);
    return std::vector<WCHAR>(out, out + (n > 0 ? n : 0));
  };
  std::vector<std::vector<WCHAR>> results[4];
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        for (UINT page : kPages) result.push_back(read(page));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (auto& result : results) {
    ASSERT_EQ(50 * std::size(kPages), result.size());
    for (size_t i = 0; i < result.size(); ++i)
      EXPECT_EQ(read(kPages[i % std::size(kPages)]), result[i]);
  }
}

}  // namespace

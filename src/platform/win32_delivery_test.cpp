// Tests of the calls a Maildir delivery needs of the Win32 subset, written
// against the Win32 interface so that they also run against the real one.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "test_support.h"

namespace {

using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;

TEST(Win32DeliveryTest, MoveNeverReplaces) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b"), c = dir.File("c");
  ASSERT_TRUE(testing_support::WriteFile(a, "first"));
  ASSERT_TRUE(testing_support::WriteFile(b, "second"));

  EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError());
  EXPECT_EQ("first", ReadFileOrEmpty(a));
  EXPECT_EQ("second", ReadFileOrEmpty(b));

  ASSERT_TRUE(MoveFileA(a.c_str(), c.c_str()));
  EXPECT_EQ("first", ReadFileOrEmpty(c));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(a.c_str()));
  EXPECT_FALSE(MoveFileA(a.c_str(), dir.File("d").c_str()));
  EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
}

// The write time set on a handle holds after the writes that came before
// it are out and the handle is closed.
TEST(Win32DeliveryTest, WriteTimeSetOnHandleSurvivesPendingWrites) {
  TempDir dir;
  const std::string name = dir.File("m");
  const uint64_t ticks = 126444736005000000;  // 2001-09-09 01:46:40.5 UTC
  const FILETIME when = {static_cast<DWORD>(ticks),
                         static_cast<DWORD>(ticks >> 32)};
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const std::string bytes(100000, 'x');
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()),
                        &written, nullptr));
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
  ASSERT_TRUE(CloseHandle(h));

  EXPECT_EQ(bytes, ReadFileOrEmpty(name));
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((dir.path() + "/*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  while (std::string(data.cFileName) != "m")
    ASSERT_TRUE(FindNextFileA(search, &data));
  FindClose(search);
  EXPECT_EQ(ticks, uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                       data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(bytes.size(), data.nFileSizeLow);
  EXPECT_NE(0u, GetCurrentProcessId());
}

}  // namespace

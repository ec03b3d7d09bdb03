// Tests of the folder and name calls of the Win32 subset, written against
// the Win32 interface so that they also run against the real one.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/win32.h"
#include "test_support.h"

namespace {

using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;

// Every entry of a folder with its attributes; "!" and the error when the
// listing fails.
std::map<std::string, DWORD> List(const std::string& folder) {
  std::map<std::string, DWORD> entries;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((folder + "/*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return {{"!", GetLastError()}};
  do {
    entries[data.cFileName] =
        data.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  } while (FindNextFileA(h, &data));
  EXPECT_EQ(DWORD{ERROR_NO_MORE_FILES}, GetLastError());
  EXPECT_TRUE(FindClose(h));
  return entries;
}

TEST(Win32FolderTest, CreateListAndAttributes) {
  TempDir dir;
  const std::string sub = dir.File("sub");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError());
  EXPECT_FALSE(CreateDirectoryA(dir.File("no/sub").c_str(), nullptr));
  EXPECT_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError());
  ASSERT_TRUE(testing_support::WriteFile(dir.File("a"), "abc"));

  const DWORD d = FILE_ATTRIBUTE_DIRECTORY;
  const std::map<std::string, DWORD> expected = {
      {".", d}, {"..", d}, {"a", 0}, {"sub", d}};
  EXPECT_EQ(expected, List(dir.path()));
  const std::map<std::string, DWORD> empty = {{".", d}, {"..", d}};
  EXPECT_EQ(empty, List(sub));
  const std::map<std::string, DWORD> missing = {{"!", ERROR_PATH_NOT_FOUND}};
  EXPECT_EQ(missing, List(dir.File("none")));

  EXPECT_EQ(d, GetFileAttributesA(sub.c_str()) & d);
  EXPECT_EQ(0u, GetFileAttributesA(dir.File("a").c_str()) & d);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
            GetFileAttributesA(dir.File("none").c_str()));
}

TEST(Win32FolderTest, MoveNeverReplacesAndDeleteRemoves) {
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

  ASSERT_TRUE(DeleteFileA(c.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(c.c_str()));
  EXPECT_FALSE(DeleteFileA(c.c_str()));
  EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
}

// The write time set on a handle holds after the writes that came before
// it are out and the handle is closed.
TEST(Win32FolderTest, WriteTimeSetOnHandleSurvivesPendingWrites) {
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

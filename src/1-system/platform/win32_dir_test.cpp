// Tests of the folder calls of the Win32 subset, written against the Win32
// interface so that they also run against the real one. Symbolic links are
// POSIX-only cases (making one on Windows takes a privilege).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/win32.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;
using testing_support::WriteFile;

#ifdef _WIN32
const char kSep = '\\';
#else
const char kSep = '/';
#endif

struct Listed {
  DWORD attributes;
  uint64_t size;
};

// Every entry of folder, "." and ".." included.
std::map<std::string, Listed> List(const std::string& folder) {
  std::map<std::string, Listed> entries;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + kSep + "*").c_str(), &data);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    entries[data.cFileName] = {
        data.dwFileAttributes,
        (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow};
  } while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_FILES});
  EXPECT_TRUE(FindClose(find));
  return entries;
}

TEST(Win32FolderTest, ListsEntriesWithTheirKindAndSize) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("five.txt"), "12345"));
  ASSERT_TRUE(CreateDirectoryA(dir.File("sub").c_str(), nullptr));
#ifndef _WIN32
  fs::create_directory_symlink(dir.File("sub"), dir.File("to-sub"));
  fs::create_symlink(dir.File("five.txt"), dir.File("to-five"));
  fs::create_directory_symlink(dir.File("to-loop"), dir.File("to-loop"));
#endif
  std::map<std::string, Listed> entries = List(dir.path());
  const DWORD kKind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  const struct {
    const char* name;
    DWORD kind;  // of kKind
    uint64_t size;
  } kExpected[] = {
      {".", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"..", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"five.txt", 0, 5},
      {"sub", FILE_ATTRIBUTE_DIRECTORY, 0},
#ifndef _WIN32
      // Links are shown, not followed: a link to a folder is a folder that
      // is a reparse point; a link that leads nowhere is no folder.
      {"to-sub", kKind, 0},
      {"to-five", FILE_ATTRIBUTE_REPARSE_POINT, 0},
      {"to-loop", FILE_ATTRIBUTE_REPARSE_POINT, 0},
#endif
  };
  EXPECT_EQ(entries.size(), std::size(kExpected));
  for (const auto& e : kExpected) {
    SCOPED_TRACE(e.name);
    ASSERT_EQ(entries.count(e.name), 1u);
    EXPECT_EQ(entries[e.name].attributes & kKind, e.kind);
    EXPECT_EQ(entries[e.name].size, e.size);
    EXPECT_EQ(GetFileAttributesA(dir.File(e.name).c_str()) & kKind, e.kind);
  }
}

TEST(Win32FolderTest, FailuresSetTheirCodes) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("file"), "x"));
  const std::string missing = dir.File("missing");
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA((missing + kSep + "*").c_str(), &data),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

  const std::string sub = dir.File("sub");
  EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_FALSE(CreateDirectoryA(dir.File("file").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_FALSE(CreateDirectoryA((missing + kSep + "x").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});

  ASSERT_TRUE(WriteFile(sub + kSep + "inside", "x"));
  EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_DIR_NOT_EMPTY});
  EXPECT_FALSE(DeleteFileA(sub.c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(DeleteFileA((sub + kSep + "inside").c_str()));
  EXPECT_FALSE(DeleteFileA((sub + kSep + "inside").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_TRUE(RemoveDirectoryA(sub.c_str()));
  EXPECT_EQ(GetFileAttributesA(sub.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32FolderTest, FullPathNamesDropDotsByTheTextAlone) {
  char cwd[MAX_PATH];
  DWORD cwdLength = GetFullPathNameA(".", sizeof cwd, cwd, nullptr);
  ASSERT_GT(cwdLength, 0u);
  ASSERT_LT(cwdLength, sizeof cwd);
  std::string here(cwd);
  if (here.back() == kSep) here.pop_back();  // a drive's root
  const std::string s(1, kSep);
  const struct {
    std::string name;
    std::string full;
    const char* filePart;  // null: none
  } kCases[] = {
      {"a", here + s + "a", "a"},
      {"a" + s + "." + s + "b", here + s + "a" + s + "b", "b"},
      {"a" + s + ".." + s + "b", here + s + "b", "b"},
      {"a" + s + "b" + s, here + s + "a" + s + "b" + s, nullptr},
      {"a" + s + "missing" + s + ".." + s + "c", here + s + "a" + s + "c", "c"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    char full[MAX_PATH];
    char* filePart = nullptr;
    DWORD length =
        GetFullPathNameA(c.name.c_str(), sizeof full, full, &filePart);
    ASSERT_EQ(length, c.full.size());
    EXPECT_EQ(std::string(full), c.full);
    if (c.filePart == nullptr) {
      EXPECT_EQ(filePart, nullptr);
    } else {
      ASSERT_NE(filePart, nullptr);
      EXPECT_STREQ(filePart, c.filePart);
    }
    // Too small a buffer: the size it takes, terminator included.
    EXPECT_EQ(GetFullPathNameA(c.name.c_str(), length, full, nullptr),
              length + 1);
  }
}

TEST(Win32FolderTest, MoveNeverReplacesAndDeleteRemoves) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b"), c = dir.File("c");
  ASSERT_TRUE(WriteFile(a, "first"));
  ASSERT_TRUE(WriteFile(b, "second"));

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
  const uint64_t ticks = 126446008005000000;  // 2001-09-09 01:46:40.5 UTC
  const FILETIME when = {static_cast<DWORD>(ticks),
                         static_cast<DWORD>(ticks >> 32)};
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const std::string bytes(100000, 'x');
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()),
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

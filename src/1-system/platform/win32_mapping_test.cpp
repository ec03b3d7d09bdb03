// Tests of the file mappings and views of the Win32 subset.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "platform/win32_test_support.h"

namespace {

using namespace win32_testing;

TEST_F(Win32FileTest, MappingNeedsContentAndTheHandlesAccess) {
  const struct {
    const char* content;
    DWORD access, protect;
    bool maps;
  } kCases[] = {{"data", R, PAGE_READONLY, true},
                {"", R, PAGE_READONLY, false},
                {"data", R, PAGE_READWRITE, false},
                {"data", W, PAGE_READONLY, false},
                {"data", RW, PAGE_READWRITE, true}};
  for (const auto& c : kCases) {
    HANDLE h = Open(Make("f", c.content), c.access, sRW);
    HANDLE m = Map(h, c.protect);
    EXPECT_EQ(c.maps, m != nullptr) << c.content << c.access << c.protect;
    EXPECT_TRUE(*c.content || GetLastError() == ERROR_FILE_INVALID);
    EXPECT_TRUE(m == nullptr || CloseHandle(m));
    EXPECT_TRUE(CloseHandle(h));
  }
}

TEST_F(Win32FileTest, ViewOutlivesFileAndMappingHandles) {
  HANDLE h = Open(Make("base.tbb", "From the base"), R, sR);
  HANDLE m = Map(h);
  EXPECT_TRUE(CloseHandle(h));
  const char* view =
      static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(nullptr, view);
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_EQ("From the base", std::string(view, 13));
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
}

TEST_F(Win32FileTest, MappedFileCannotBeEmptied) {
  const std::string path = Make("base.tbb", "data");
  HANDLE h = Open(path, R, sR);
  HANDLE m = Map(h);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(path, W, sRW, CREATE_ALWAYS));
  EXPECT_EQ("data", Contents(path));
  EXPECT_TRUE(CloseHandle(m));
#ifndef _WIN32
  EXPECT_TRUE(ForeignLock(path, LOCK_EX));
#endif
}

}  // namespace

// Tests of the writes, reads and file positions of the Win32 subset.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "platform/win32.h"
#include "platform/win32_test_support.h"

namespace fs = std::filesystem;

namespace {

using namespace win32_testing;

TEST_F(Win32FileTest, BufferedWritesKeepOrderSizeAndPosition) {
  HANDLE h = Open(Path("out.mbx"), RW, sR, CREATE_ALWAYS);
  std::string expected;
  std::mt19937 random(7);
  for (int i = 0; i < 120000; ++i) {
    std::string piece(random() % 40, static_cast<char>('a' + i % 26));
    if (i == 50000) piece.assign(3 << 20, 'Z');  // larger than any buffer
    ASSERT_TRUE(Write(h, piece));
    expected += piece;
    if (i % 30011 != 0) continue;
    DWORD high = 99;
    EXPECT_EQ(expected.size(), GetFileSize(h, &high));
    EXPECT_EQ(0u, high);
    EXPECT_EQ(expected.size(), SetFilePointer(h, 0, nullptr, FILE_CURRENT));
  }
  HANDLE m = Map(h);  // must see what is still buffered
  const char* view =
      static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(nullptr, view);
  EXPECT_TRUE(expected == std::string(view, expected.size()));
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(m));
  ASSERT_TRUE(Write(h, "tail"));  // then read back over it
  EXPECT_EQ(expected.size(), SetFilePointer(h, -4, nullptr, FILE_END));
  char tail[10];
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(h, tail, sizeof tail, &read, nullptr));
  EXPECT_EQ("tail", std::string(tail, read));
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(expected + "tail" == Contents(Path("out.mbx")));
}

TEST_F(Win32FileTest, SetFilePointerMovesByMethod) {
  const DWORD kFail = INVALID_SET_FILE_POINTER;
  const struct {
    LONG low, high;          // high is passed when not 0
    DWORD method, expected;  // from position 40 of 100 bytes
  } kCases[] = {
      {5, 0, FILE_CURRENT, 45},    {-41, 0, FILE_CURRENT, kFail},
      {-1, 0, FILE_END, 99},       {-101, 0, FILE_END, kFail},
      {200, 0, FILE_END, 300},     {-10, -1, FILE_END, 90},
      {-1, -1, FILE_BEGIN, kFail}, {7, 1, FILE_BEGIN, 7},  // 4 GiB + 7
  };
  HANDLE h = Open(Make("f", std::string(100, 'x')), R, sR);
  for (const auto& c : kCases) {
    ASSERT_EQ(40u, SetFilePointer(h, 40, nullptr, FILE_BEGIN));
    LONG high = c.high;
    EXPECT_EQ(c.expected,
              SetFilePointer(h, c.low, c.high ? &high : nullptr, c.method));
    if (c.expected == kFail) {
      EXPECT_EQ(ERROR_NEGATIVE_SEEK, GetLastError());
      EXPECT_EQ(40u, SetFilePointer(h, 0, nullptr, FILE_CURRENT));
    } else {
      EXPECT_EQ(c.high > 0 ? c.high : 0, high) << c.low;
    }
  }
  EXPECT_TRUE(CloseHandle(h));
}

#ifndef _WIN32
TEST_F(Win32FileTest, FullDeviceFailsEveryWriteFromTheFirstFailureOn) {
  for (bool large : {true, false}) {
    HANDLE h = Open("/dev/full", W, sR, CREATE_ALWAYS);
    EXPECT_TRUE(Write(h, "From someone\n"));  // only buffered so far
    if (large) {
      EXPECT_FALSE(Write(h, std::string(4 << 20, 'x')));
      EXPECT_EQ(ERROR_HANDLE_DISK_FULL, GetLastError());
      EXPECT_FALSE(Write(h, "x"));
      EXPECT_EQ(ERROR_HANDLE_DISK_FULL, GetLastError());
      EXPECT_FALSE(FlushFileBuffers(h));
    }
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(ERROR_HANDLE_DISK_FULL, GetLastError());
  }
}
#endif  // !_WIN32

TEST_F(Win32FileTest, SizesBeyond4GiBAndStaleHandles) {
  const std::string path = Make("big", "");
  fs::resize_file(path, (uint64_t{5} << 30) + 3);  // sparse
  HANDLE h = Open(path, R, sR);
  DWORD high = 0;
  EXPECT_EQ((1u << 30) + 3, GetFileSize(h, &high));
  EXPECT_EQ(1u, high);
  // Without a high part the new position could not be told. Wine moves
  // there and returns its low 32 bits.
  if (!UnderWine()) {
    EXPECT_EQ(INVALID_SET_FILE_POINTER,
              SetFilePointer(h, 0, nullptr, FILE_END));
  }
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
#ifndef _WIN32
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));  // Windows: a pseudo handle
#endif
}

}  // namespace

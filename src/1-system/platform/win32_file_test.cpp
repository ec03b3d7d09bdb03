// Tests of opening files with the Win32 subset: dispositions, share modes,
// other names of one file, and (POSIX) the advisory locks that carry the
// share modes to other processes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "platform/win32_test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using namespace win32_testing;

TEST_F(Win32FileTest, DispositionsCreateKeepOrEmpty) {
  const struct {
    DWORD disposition;
    bool exists;
    DWORD error;
    int sizeAfter;  // -1: not there
  } kCases[] = {{OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, -1},
                {CREATE_NEW, true, ERROR_FILE_EXISTS, 5},
                {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, 0},
                {CREATE_ALWAYS, false, ERROR_SUCCESS, 0},
                {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, 5},
                {OPEN_ALWAYS, false, ERROR_SUCCESS, 0},
                {TRUNCATE_EXISTING, true, ERROR_SUCCESS, 0}};
  for (const auto& c : kCases) {
    fs::remove(Path("f"));
    if (c.exists) Make("f", "abcde");
    HANDLE h = Open(Path("f"), W, sR, c.disposition);
    EXPECT_EQ(c.error, GetLastError()) << c.disposition << c.exists;
    EXPECT_TRUE(h == INVALID_HANDLE_VALUE || CloseHandle(h));
    EXPECT_EQ(c.sizeAfter,
              fs::exists(Path("f")) ? int(fs::file_size(Path("f"))) : -1);
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("none/f"), R, sR));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(Win32FileTest, ShareModesDecideTheSecondOpenEitherWay) {
  const struct {
    DWORD access1, share1, access2, share2;
    bool opens;
  } kCases[] = {
      {R, sR, R, sR, true},     {R, sR, R, sRW, true},
      {R, sR, W, sRW, false},   {R, sRW, W, sRW, true},
      {R, sRW, W, sR, true},    {R, sRW, R, sW, false},
      {R, s0, R, sRW, false},   {W, sR, R, sRW, true},
      {W, sR, R, sR, false},    {W, sRW, W, sRW, true},
      {W, s0, R, sRW, false},   {W, sW, W, sW, true},
      {RW, sRW, RW, sRW, true}, {RW, sRW, R, sR, false},
      {RW, sW, W, sRW, true},   {RW, sW, R, sRW, false},
      {RW, sR, R, sRW, true},   {RW, sR, W, sRW, false},
  };
  const std::string path = Make("base.tbb", "data");
  for (const auto& c : kCases) {
    for (bool swap : {false, true}) {
      HANDLE first = swap ? Open(path, c.access2, c.share2)
                          : Open(path, c.access1, c.share1);
      HANDLE second = swap ? Open(path, c.access1, c.share1)
                           : Open(path, c.access2, c.share2);
      EXPECT_EQ(c.opens, second != INVALID_HANDLE_VALUE)
          << c.access1 << "/" << c.share1 << " " << c.access2 << "/" << c.share2
          << (swap ? " swapped" : "");
      EXPECT_TRUE(c.opens || GetLastError() == ERROR_SHARING_VIOLATION);
      EXPECT_TRUE(second == INVALID_HANDLE_VALUE || CloseHandle(second));
      EXPECT_TRUE(CloseHandle(first));
    }
  }
}

TEST_F(Win32FileTest, OtherNamesOfTheFileAreTheSameFile) {
  const std::string path = Make("base.tbb", "data");
  fs::create_directory(Path("sub"));
  fs::create_hard_link(path, Path("hard.tbb"));
  HANDLE writer = Open(path, W, s0);
  for (const fs::path& name :
       {dir_ / "." / "base.tbb", dir_ / "sub" / ".." / "base.tbb",
        dir_ / "hard.tbb"}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(name.string(), R, sRW)) << name;
  }
#ifndef _WIN32
  fs::create_symlink(path, Path("soft.tbb"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("soft.tbb"), R, sRW));
#endif
  HANDLE other = Open(Make("other.tbb", "x"), W, s0);
  EXPECT_TRUE(CloseHandle(other));
  EXPECT_TRUE(CloseHandle(writer));
}

TEST_F(Win32FileTest, RefusedOpensLeaveTheFileAlone) {
  const std::string path = Make("out.mbx", "precious");
  HANDLE reader = Open(path, R, sR);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(path, W, sR, CREATE_ALWAYS));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_EQ("precious", Contents(path));
  EXPECT_TRUE(CloseHandle(reader));
  for (DWORD access : {R, W}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(dir_.string(), access, sRW));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  }
}

#ifndef _WIN32

TEST_F(Win32FileTest, HandlesHoldMatchingAdvisoryLocks) {
  const std::string path = Make("base.tbb", "data");
  const struct {
    DWORD access, share;
    bool shared, exclusive;  // what another process still gets
  } kCases[] = {{W, sRW, false, false},
                {RW, sRW, false, false},
                {R, sR, true, false},
                {R, sRW, true, true}};
  for (const auto& c : kCases) {
    HANDLE h = Open(path, c.access, c.share);
    EXPECT_EQ(c.shared, ForeignLock(path, LOCK_SH)) << c.access << c.share;
    EXPECT_EQ(c.exclusive, ForeignLock(path, LOCK_EX)) << c.access << c.share;
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(ForeignLock(path, LOCK_EX));
  }
  // Two writers of this process share one lock, held until both are gone.
  HANDLE first = Open(path, W, sRW), second = Open(path, W, sRW);
  ASSERT_NE(INVALID_HANDLE_VALUE, second);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(ForeignLock(path, LOCK_SH));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(ForeignLock(path, LOCK_EX));
}

TEST_F(Win32FileTest, ForeignLocksRefuseConflictingOpens) {
  const std::string path = Make("base.tbb", "precious");
  const struct {
    int foreign;
    DWORD access, share, disposition;
    bool opens;
  } kCases[] = {{LOCK_SH, W, sRW, CREATE_ALWAYS, false},
                {LOCK_SH, R, sR, OPEN_EXISTING, true},
                {LOCK_EX, R, sR, OPEN_EXISTING, false},
                {LOCK_EX, R, sRW, OPEN_EXISTING, true},
                {LOCK_EX, RW, sRW, CREATE_ALWAYS, false}};
  for (const auto& c : kCases) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(0, flock(fd, c.foreign | LOCK_NB));
    HANDLE h = Open(path, c.access, c.share, c.disposition);
    EXPECT_EQ(c.opens, h != INVALID_HANDLE_VALUE) << c.foreign << c.access;
    EXPECT_TRUE(c.opens || GetLastError() == ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(h == INVALID_HANDLE_VALUE || CloseHandle(h));
    close(fd);
    EXPECT_EQ("precious", Contents(path));
  }
}

TEST_F(Win32FileTest, SpecialFilesNeitherBlockNorMap) {
  fs::create_symlink(Path("b"), Path("a"));  // a loop
  fs::create_symlink(Path("a"), Path("b"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("a"), R, sR));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("a"), W, sR, CREATE_ALWAYS));
  ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  for (const std::string& name : {Path("fifo"), std::string("/dev/null")}) {
    HANDLE h = Open(name, R, sR);
    if (h == INVALID_HANDLE_VALUE) continue;
    EXPECT_EQ(nullptr, Map(h)) << name;
    EXPECT_TRUE(CloseHandle(h));
  }
  HANDLE h = Open(Path("fifo"), W, sR, CREATE_ALWAYS);  // and no reader
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE || CloseHandle(h));
  // A device is no shared file: exclusive writers may both write there.
  HANDLE out1 = Open("/dev/null", W, s0, CREATE_ALWAYS);
  HANDLE out2 = Open("/dev/null", W, s0, CREATE_ALWAYS);
  EXPECT_TRUE(Write(out1, "x"));
  EXPECT_TRUE(FlushFileBuffers(out1));
  EXPECT_TRUE(CloseHandle(out1));
  EXPECT_TRUE(CloseHandle(out2));
}

#endif  // !_WIN32

}  // namespace

// What the tests of the Win32 subset share. They are written against the
// Win32 interface so that they also run against the real one (the Windows
// build runs them under Wine); POSIX-only cases are marked.
#ifndef KORVANE_PLATFORM_WIN32_TEST_SUPPORT_H_
#define KORVANE_PLATFORM_WIN32_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/win32.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace win32_testing {

// Where Wine's Win32 strays from Windows' the tests skip the case under
// Wine; it would fail there for Wine's sake, not ours.
inline bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Short forms of the access and share flags, for the tables of cases.
const DWORD R = GENERIC_READ, W = GENERIC_WRITE, RW = R | W;
const DWORD s0 = 0, sR = FILE_SHARE_READ, sW = FILE_SHARE_WRITE, sRW = sR | sW;

// Each test gets a folder of its own, and short calls on the files in it.
class Win32FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    do {
      dir_ = std::filesystem::temp_directory_path() /
             ("korvane-win32-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(dir_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const {
    return (dir_ / name).string();
  }
  std::string Make(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static HANDLE Open(const std::string& path, DWORD access, DWORD share,
                     DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static bool Write(HANDLE h, const std::string& bytes) {
    DWORD written = 0xDEAD;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()),
                              &written, nullptr);
    EXPECT_EQ(ok ? bytes.size() : 0u, written);
    return ok != FALSE;
  }
  static HANDLE Map(HANDLE h, DWORD protect = PAGE_READONLY) {
    return CreateFileMappingA(h, nullptr, protect, 0, 0, nullptr);
  }

  std::filesystem::path dir_;
};

#ifndef _WIN32
// What another process would get from flock() on the file.
inline bool ForeignLock(const std::string& path, int type) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool locked = fd >= 0 && flock(fd, type | LOCK_NB) == 0;
  if (fd >= 0) close(fd);
  return locked;
}
#endif

}  // namespace win32_testing

#endif  // KORVANE_PLATFORM_WIN32_TEST_SUPPORT_H_

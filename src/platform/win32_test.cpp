// Tests of the Win32 subset, written against the Win32 interface so that
// they also run against the real one. POSIX-only cases are marked.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

uint64_t Ticks(const FILETIME& ft) {
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

FILETIME FromTicks(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Where Wine's Win32 strays from Windows' the tests skip the case under
// Wine; it would fail there for Wine's sake, not ours.
bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string Show(const SYSTEMTIME& s) {
  char text[64];
  snprintf(text, sizeof text, "%u-%02u-%02u %02u:%02u:%02u.%03u dow %u",
           s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond,
           s.wMilliseconds, s.wDayOfWeek);
  return text;
}

TEST(Win32FileTimeTest, ConvertsKnownInstants) {
  // Computed independently; the ends of leap cycles, then the largest
  // FILETIME, which is past SYSTEMTIME's input range. Fields: year, month,
  // day of week, day, h, m, s, ms.
  const struct {
    uint64_t ticks;
    SYSTEMTIME st;
  } kCases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {94405824000000000, {1900, 3, 4, 1, 0, 0, 0, 0}},
      {119284704000000000, {1979, 1, 1, 1, 0, 0, 0, 0}},
      {125963012967890000, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {126444736000000000, {2001, 9, 0, 9, 1, 46, 40, 0}},
      {252190588280090000, {2400, 2, 2, 29, 6, 7, 8, 9}},
      {1262303999990000, {1604, 12, 5, 31, 23, 59, 59, 999}},
      {31555872000010000, {1700, 12, 5, 31, 0, 0, 0, 1}},
      {126227376000000000, {2000, 12, 0, 31, 12, 0, 0, 0}},
      {126227808000000000, {2001, 1, 1, 1, 0, 0, 0, 0}},
      {9223149887999990000u, {30827, 12, 5, 31, 23, 59, 59, 999}},
      {0x7FFFFFFFFFFFFFFFu, {30828, 9, 4, 14, 2, 48, 5, 477}},
  };
  for (const auto& c : kCases) {
    SYSTEMTIME st;
    FILETIME ft = FromTicks(c.ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << c.ticks;
    EXPECT_EQ(Show(c.st), Show(st));
    if (c.st.wYear > 30827) continue;
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << Show(c.st);
    EXPECT_EQ(c.ticks / 10000 * 10000, Ticks(ft)) << Show(c.st);
  }
  for (uint64_t ticks : {uint64_t{1} << 63, ~uint64_t{0}}) {
    const FILETIME ft = FromTicks(ticks);
    SYSTEMTIME st;
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st)) << ticks;
  }
}

TEST(Win32SystemTimeTest, ValidatesEveryField) {
  // Year, month, day of week (ignored), day, h, m, s, ms.
  const SYSTEMTIME kValid[] = {{2004, 2, 0, 29, 0, 0, 0, 0},
                               {2001, 4, 0, 30, 0, 0, 0, 0},
                               {2000, 1, 65535, 31, 0, 0, 0, 0}};
  const struct {
    SYSTEMTIME st;
    bool wineTakesIt;  // Wine's leap-day and upper-year checks are missing
  } kInvalid[] = {{{1600, 12, 0, 31, 23, 59, 59, 999}, false},
                  {{30828, 1, 0, 1, 0, 0, 0, 0}, true},
                  {{2000, 0, 0, 1, 0, 0, 0, 0}, false},
                  {{2000, 13, 0, 1, 0, 0, 0, 0}, false},
                  {{2000, 1, 0, 0, 0, 0, 0, 0}, false},
                  {{2000, 1, 0, 32, 0, 0, 0, 0}, false},
                  {{2001, 4, 0, 31, 0, 0, 0, 0}, false},
                  {{1900, 2, 0, 29, 0, 0, 0, 0}, true},
                  {{2001, 2, 0, 29, 0, 0, 0, 0}, true},
                  {{2000, 2, 0, 30, 0, 0, 0, 0}, false},
                  {{2000, 1, 0, 1, 24, 0, 0, 0}, false},
                  {{2000, 1, 0, 1, 23, 60, 0, 0}, false},
                  {{2000, 1, 0, 1, 23, 59, 60, 0}, false},
                  {{2000, 1, 0, 1, 23, 59, 59, 1000}, false}};
  FILETIME ft;
  for (const SYSTEMTIME& st : kValid) {
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft)) << Show(st);
  }
  for (const auto& c : kInvalid) {
    if (c.wineTakesIt && UnderWine()) continue;
    const SYSTEMTIME& st = c.st;
    ft = FromTicks(0x0123456789ABCDEFu);
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << Show(st);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError()) << Show(st);
    EXPECT_EQ(0x0123456789ABCDEFu, Ticks(ft)) << Show(st);
  }
}

TEST(Win32SystemTimeTest, NowAgreesWithTheCClock) {
  FILETIME before, after, fromFields;
  SYSTEMTIME now;
  GetSystemTimeAsFileTime(&before);
  GetSystemTime(&now);
  GetSystemTimeAsFileTime(&after);
  ASSERT_TRUE(SystemTimeToFileTime(&now, &fromFields));
  EXPECT_LE(Ticks(before) / 10000 * 10000, Ticks(fromFields));
  EXPECT_LE(Ticks(fromFields), Ticks(after));
  const int64_t unix = (int64_t{time(nullptr)} + 11644473600) * 10000000;
  EXPECT_LT(std::llabs(static_cast<int64_t>(Ticks(before)) - unix),
            int64_t{120} * 10000000);
}

#ifndef _WIN32
TEST(Win32TimeZoneTest, BiasIsTheStandardOffsetWestPositive) {
  const struct {
    const char* tz;
    LONG bias, daylightBias;
  } kCases[] = {{"UTC", 0, 0},
                {"EST5", 300, 0},
                {"UTC-3", -180, 0},
                {"<+0545>-5:45", -345, 0},
                {"EST5EDT", 300, -60},
                {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60},
                {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", -630, -30}};
  const char* old = getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  for (const auto& c : kCases) {
    setenv("TZ", c.tz, 1);
    TIME_ZONE_INFORMATION tzi;
    const DWORD id = GetTimeZoneInformation(&tzi);
    EXPECT_EQ(c.bias, tzi.Bias) << c.tz;
    EXPECT_EQ(0, tzi.StandardBias) << c.tz;
    EXPECT_EQ(c.daylightBias, tzi.DaylightBias) << c.tz;
    EXPECT_EQ(c.daylightBias == 0, id == TIME_ZONE_ID_UNKNOWN) << c.tz;
    EXPECT_NE(TIME_ZONE_ID_INVALID, id);
  }
  old != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
}
#endif

TEST(Win32IdentityTest, NamesFollowTheSizeProtocol) {
  char buffer[512];
  DWORD size = 0;
  ASSERT_FALSE(GetUserNameA(buffer, &size));
  ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  const DWORD needed = size;  // with the terminator
  ASSERT_TRUE(needed >= 2 && needed <= sizeof buffer);
  size = needed - 1;
  EXPECT_FALSE(GetUserNameA(buffer, &size));
  EXPECT_EQ(needed, size);
  ASSERT_TRUE(GetUserNameA(buffer, &size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(needed - 1, strlen(buffer));
#ifndef _WIN32
  EXPECT_STREQ(getpwuid(geteuid())->pw_name, buffer);
#endif

  size = sizeof buffer;
  ASSERT_TRUE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(strlen(buffer), size);  // without the terminator
  EXPECT_EQ(nullptr, strchr(buffer, '.'));
  EXPECT_LE(size, DWORD{MAX_COMPUTERNAME_LENGTH});  // the NetBIOS name
#ifndef _WIN32
  char host[300] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  EXPECT_EQ(std::string(host, strcspn(host, ".")).substr(0, 15), buffer);
#endif
  const DWORD length = size;
  EXPECT_FALSE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(ERROR_BUFFER_OVERFLOW, GetLastError());
  EXPECT_EQ(length + 1, size);
}

TEST(Win32CharLowerBuffTest, LowersAsciiLettersOfTheGivenLength) {
  const char* const kCases[][2] = {
      {"MiXeD Case 1", "mixed case 1"},
      {"@[`{AZ", "@[`{az"},  // the neighbours of the letter ranges
#ifndef _WIN32
      {"\xC4\xD6X", "\xC4\xD6x"},
#endif
  };
  for (const auto& c : kCases) {
    std::string text = std::string(c[0]) + "TAIL";
    const DWORD length = static_cast<DWORD>(strlen(c[0]));
    EXPECT_EQ(length, CharLowerBuffA(&text[0], length));
    EXPECT_EQ(std::string(c[1]) + "TAIL", text);
  }
}

TEST(Win32LastErrorTest, IsPerThread) {
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  // Starting and joining a thread call the system, which may set this
  // thread's value itself; so the other thread sets its value while this
  // one waits on a plain atomic, and this one reads its own before the join.
  std::atomic<int> stage{0};
  std::thread other([&stage] {
    while (stage.load() != 1) {
    }
    SetLastError(ERROR_ACCESS_DENIED);
    stage.store(2);
  });
  SetLastError(ERROR_INVALID_HANDLE);
  stage.store(1);
  while (stage.load() != 2) {
  }
  const DWORD mine = GetLastError();
  other.join();
  EXPECT_EQ(ERROR_INVALID_HANDLE, mine);
}

const DWORD R = GENERIC_READ, W = GENERIC_WRITE, RW = R | W;
const DWORD s0 = 0, sR = FILE_SHARE_READ, sW = FILE_SHARE_WRITE, sRW = sR | sW;

class Win32FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    do {
      dir_ = fs::temp_directory_path() /
             ("korvane-win32-" + std::to_string(random()));
    } while (!fs::create_directory(dir_));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
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

  fs::path dir_;
};

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

// Threads that open, map, write and close files of their own while they
// contend for one shared file: each sees its own bytes and its own last
// error, and the shared file has one writer or any readers, never both.
TEST_F(Win32FileTest, ConcurrentThreadsKeepFilesSharesAndErrorsApart) {
  const std::string shared = Make("shared.tbb", "data");
  std::atomic<int> writers{0}, readers{0}, opened{0}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string own = Path("own" + std::to_string(t));
      for (int round = 0; round < 100; ++round) {
        const std::string bytes = own + " round " + std::to_string(round);
        HANDLE h = Open(own, RW, sR, CREATE_ALWAYS);
        EXPECT_TRUE(Write(h, bytes));
        HANDLE m = Map(h);
        const char* view =
            static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
        EXPECT_TRUE(view != nullptr &&
                    bytes == std::string(view, bytes.size()));
        EXPECT_TRUE(view == nullptr || UnmapViewOfFile(view));
        EXPECT_TRUE(CloseHandle(m));
        EXPECT_TRUE(CloseHandle(h));

        const bool writer = (round + t) % 3 == 0;
        HANDLE s = writer ? Open(shared, W, s0) : Open(shared, R, sR);
        if (s == INVALID_HANDLE_VALUE) {
          EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
          ++refused;
          continue;
        }
        ++opened;
        std::atomic<int>& mine = writer ? writers : readers;
        ++mine;
        EXPECT_EQ(writer ? 1 : 0, writers.load());
        EXPECT_EQ(0, writer ? readers.load() : 0);
        if (writer) {
          EXPECT_TRUE(Write(s, "x") && FlushFileBuffers(s));
        }
        --mine;
        EXPECT_TRUE(CloseHandle(s));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(400, opened + refused);
  EXPECT_GT(opened, 0);
}

#ifndef _WIN32

// What another process would get from flock() on the file.
bool ForeignLock(const std::string& path, int type) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool locked = fd >= 0 && flock(fd, type | LOCK_NB) == 0;
  if (fd >= 0) close(fd);
  return locked;
}

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

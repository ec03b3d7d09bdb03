// Tests of the Win32 subset on several threads: the last error is each
// thread's own, and so are the files a thread opens, maps and writes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "platform/win32_test_support.h"

namespace {

using namespace win32_testing;

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

}  // namespace

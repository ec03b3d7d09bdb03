#include "io/mapped_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "test_support.h"

namespace {

using testing_support::TempDir;

std::string HundredBytes() {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += char(i);
  return bytes;
}

class MappedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name = dir.File("hundred.bin");
    ASSERT_TRUE(testing_support::WriteFile(name, HundredBytes()));
    ASSERT_TRUE(
        file.Open(name.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  }
  TempDir dir;
  std::string name;
  MappedFile file;
};

TEST_F(MappedFileTest, SeekMovesWithinTheViewAndBeyondItsEnd) {
  EXPECT_EQ(100u, file.GetSize());
  struct Step {
    int32_t distance;
    uint32_t origin;
    uint32_t expected;
  } steps[] =
      {
          {-10, 0, 0},  {30, 0, 30},  {5, 1, 35},          {0, 2, 100},
          {20, 2, 120}, {-200, 1, 0}, {0, 3, 0xFFFFFFFFu}, {7, 0, 7},
          {0, 1, 7},  // origin 3 above left the position alone
      };
  for (const Step& s : steps) {
    EXPECT_EQ(s.expected, file.Seek(s.distance, s.origin))
        << "Seek(" << s.distance << ", " << s.origin << ")";
  }
}

TEST_F(MappedFileTest, ReadCopiesWithoutMovingAndStopsAtTheEnd) {
  char buffer[16];
  struct Case {
    uint32_t at;
    uint32_t count;
    uint32_t expected;
  } cases[] = {{95, 10, 5}, {90, 5, 5},   {0, 16, 16}, {99, 1, 1},
               {100, 1, 0}, {120, 10, 0}, {90, 10, 10}};
  for (const Case& c : cases) {
    file.Seek(static_cast<int32_t>(c.at), 0);
    memset(buffer, 0x7F, sizeof buffer);
    EXPECT_EQ(c.expected, file.Read(buffer, c.count)) << "at " << c.at;
    for (uint32_t i = 0; i < c.expected; ++i)
      EXPECT_EQ(char(c.at + i), buffer[i]);
    EXPECT_EQ(c.at, file.Seek(0, 1)) << "Read moved the position";
  }
}

TEST_F(MappedFileTest, WriteChangesNothing) {
  EXPECT_EQ(0u, file.Write("xyz", 3));
  EXPECT_EQ(HundredBytes(), testing_support::ReadFileOrEmpty(name));
}

TEST_F(MappedFileTest, OpenClosesWhatWasOpen) {
  std::string other = dir.File("other.bin");
  ASSERT_TRUE(testing_support::WriteFile(other, "twelve bytes"));
  ASSERT_TRUE(
      file.Open(other.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(12u, file.GetSize());
  EXPECT_EQ(0, memcmp(file.viewBase, "twelve bytes", 12));
  // The first file is free again: it can be opened for writing.
  FileStream writer;
  EXPECT_TRUE(writer.Open(name.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING));
}

TEST(FileObjectsTest, CloseOfAClosedObjectDoesNothing) {
  FileStream stream;
  EXPECT_FALSE(stream.Close());
  EXPECT_FALSE(stream.Close());
  MappedFile mapped;
  EXPECT_FALSE(mapped.Close());
  EXPECT_EQ(INVALID_HANDLE_VALUE, mapped.handle);
  EXPECT_EQ(nullptr, mapped.viewBase);
}

TEST(FileObjectsTest, ErrorCodeIsSticky) {
  TempDir dir;
  std::string missing = dir.File("missing");
  std::string present = dir.File("present");
  ASSERT_TRUE(testing_support::WriteFile(present, "x"));

  FileStream stream;
  EXPECT_FALSE(stream.Open(missing.c_str(), GENERIC_READ, FILE_SHARE_READ,
                           OPEN_EXISTING));
  EXPECT_EQ(2, stream.errorCode);
  EXPECT_EQ(INVALID_HANDLE_VALUE, stream.handle);
  EXPECT_TRUE(stream.Open(present.c_str(), GENERIC_READ, FILE_SHARE_READ,
                          OPEN_EXISTING));
  EXPECT_EQ(2, stream.errorCode);
}

TEST(FileObjectsTest, EmptyFileCannotBeMapped) {
  TempDir dir;
  std::string empty = dir.File("empty");
  ASSERT_TRUE(testing_support::WriteFile(empty, ""));
  MappedFile mapped;
  EXPECT_FALSE(
      mapped.Open(empty.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(2, mapped.errorCode);
  EXPECT_EQ(INVALID_HANDLE_VALUE, mapped.handle);
  EXPECT_EQ(nullptr, mapped.mappingHandle);
  EXPECT_EQ(nullptr, mapped.viewBase);
  EXPECT_FALSE(mapped.tooLarge);
  // Nothing is left open: the file can be opened without any sharing.
  FileStream exclusive;
  EXPECT_TRUE(exclusive.Open(empty.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING));
}

TEST(FileObjectsTest, StreamWritesReadsSeeksAndSizes) {
  TempDir dir;
  std::string name = dir.File("stream");
  FileStream out;
  ASSERT_TRUE(
      out.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS));
  EXPECT_EQ(5u, out.Write("hello", 5));
  EXPECT_EQ(5u, out.GetSize());
  EXPECT_EQ(1u, out.Seek(1, 0));
  EXPECT_EQ(3u, out.Write("ELL", 3));
  EXPECT_TRUE(out.Flush());
  EXPECT_TRUE(out.Close());

  FileStream in;
  ASSERT_TRUE(
      in.Open(name.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  char buffer[8] = {};
  EXPECT_EQ(5u, in.Read(buffer, sizeof buffer));
  EXPECT_STREQ("hELLo", buffer);
  EXPECT_EQ(0u, in.Read(buffer, sizeof buffer));
}

#ifndef _WIN32
// Another program truncates a file that one thread has mapped, while
// another thread reads views of its own; far more views are live than a
// single run needs. The lost pages read as zeros and only the shrunk
// view reports it, also after Close.
TEST(MappedFileThreadTest, ShrunkFileFailsOnlyItsOwnView) {
  TempDir dir;
  const long page = sysconf(_SC_PAGESIZE);
  const std::string bytes(8 * page, 'b');
  constexpr int kViews = 40;
  std::atomic<int> ready{0};
  auto readAll = [&](int thread, bool shrink) {
    std::vector<MappedFile> files(kViews);
    for (int i = 0; i < kViews; ++i) {
      const std::string name =
          dir.File(std::to_string(thread) + "-" + std::to_string(i));
      ASSERT_TRUE(testing_support::WriteFile(name, bytes));
      ASSERT_TRUE(files[i].Open(name.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                OPEN_EXISTING));
      if (shrink && i == kViews - 1) {
        ASSERT_EQ(0, truncate(name.c_str(), page));
      }
    }
    ++ready;
    while (ready.load() != 2) {
    }
    for (int i = 0; i < kViews; ++i) {
      const bool shrunk = shrink && i == kViews - 1;
      const std::string seen(reinterpret_cast<const char*>(files[i].viewBase),
                             files[i].size);
      const std::string expected =
          shrunk ? bytes.substr(0, page) + std::string(7 * page, '\0') : bytes;
      EXPECT_TRUE(expected == seen) << thread << " " << i;
      const char* failure =
          shrunk ? "the file shrank while it was being read" : nullptr;
      EXPECT_STREQ(failure, files[i].ReadFailure()) << thread << " " << i;
      files[i].Close();
      EXPECT_STREQ(failure, files[i].ReadFailure()) << thread << " " << i;
    }
  };
  std::thread other(readAll, 1, false);
  readAll(0, true);
  other.join();
}
#endif

}  // namespace

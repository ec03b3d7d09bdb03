#include "io/write_behind.h"

#include <gtest/gtest.h>

#include <string>

#include "io/file_stream.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;

// Pieces of every size around the buffer's, handed on and written at once
// in turn, arrive whole and in order.
TEST(WriteBehindThreadTest, PiecesArriveInOrder) {
  TempDir dir;
  const std::string name = dir.File("out");
  FileStream file;
  ASSERT_TRUE(
      file.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS));
  std::string expected;
  {
    HandleWriter target(file.handle);
    WriteBehind behind(&target, 4096, 3);
    for (int i = 0; i < 300; ++i) {
      const size_t size = i % 7 == 6 ? 5000 + i : size_t(i * 37 % 4097);
      const std::string piece(size, char('a' + i % 26));
      if (size > behind.BufferSize()) {
        ASSERT_TRUE(behind.WriteNow(piece.data(), size));
      } else {
        piece.copy(reinterpret_cast<char*>(behind.Buffer()), size);
        ASSERT_TRUE(behind.Submit(size));
      }
      expected += piece;
    }
    ASSERT_TRUE(behind.Wait());
    EXPECT_EQ(expected.size(), behind.Written());
  }
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(expected, testing_support::ReadFileOrEmpty(name));
}

// The first failed write ends the writing; every later hand-on and wait
// says so, none of them waits for ever, and the error is the system's.
TEST(WriteBehindThreadTest, AFailedWriteStopsTheWriting) {
  FileStream closed;  // its handle is invalid: every write fails
  HandleWriter target(closed.handle);
  WriteBehind behind(&target, 1024, 2);
  bool refused = false;
  for (int i = 0; i < 50; ++i) {
    behind.Buffer()[0] = 'x';
    refused = !behind.Submit(1) || refused;
  }
  EXPECT_FALSE(behind.Wait());
  EXPECT_TRUE(refused);
  EXPECT_FALSE(behind.Submit(1));
  EXPECT_FALSE(behind.WriteNow("y", 1));
  EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, behind.Error().Code());
  EXPECT_EQ(0u, behind.Written());
}

}  // namespace

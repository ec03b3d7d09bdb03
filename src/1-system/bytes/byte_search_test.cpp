#include "bytes/byte_search.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Each search from every start to every end around its 16-byte steps, with
// one byte of interest at every place among bytes that are of no interest
// to the forward searches (x) or all below the backward search's bound
// (0). The bytes are a heap block of their exact size, so that the
// sanitizers see a read past the end.
TEST(ByteSearchTest, MatchesAPlainLoopAtEveryPlace) {
  const unsigned char kProbes[] = {13, 10, 0, 0x21, 0x09, 12, 0x7F, 0x80};
  int checked = 0;
  for (unsigned char fill : {'x', '\0'}) {
    for (size_t size = 1; size <= 40; ++size) {
      for (size_t at = 0; at < size; ++at) {
        for (unsigned char probe : kProbes) {
          std::vector<unsigned char> bytes(size, fill);
          bytes[at] = probe;
          if (at + 1 < size) bytes[at + 1] = 0x09;  // a pair after 0x21
          const unsigned char* end = bytes.data() + size;
          for (const unsigned char* p = bytes.data() + 1; p <= end; ++p) {
            const unsigned char* q = p;
            while (q < end && *q != 13 && *q != 10 && *q != 0) ++q;
            ASSERT_EQ(q, FindLineEnd(p, end)) << size << " " << at;
            q = p;
            while (q < end && *q != 10 && *q != 0) ++q;
            ASSERT_EQ(q, FindZeroOrLf(p, end)) << size << " " << at;
            q = p;
            while (q < end && !(*q == 0x09 && q[-1] == 0x21)) ++q;
            ASSERT_EQ(q, FindPair(p, end, 0x21, 0x09)) << size << " " << at;
            q = end;
            while (q > p && static_cast<signed char>(q[-1]) <= 12) --q;
            ASSERT_EQ(q, EndOfLastAbove(p, end, 12)) << size << " " << at;
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_EQ(2 * 8 * 22140, checked);  // 22140: the sum of size * size
}

}  // namespace

#include "message/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// All lines of a message as SplitLine hands them out, "|" between them.
std::string Lines(const std::string& message) {
  const unsigned char* begin =
      reinterpret_cast<const unsigned char*>(message.data());
  const unsigned char* end = begin + message.size();
  std::string out;
  LineCursor line;
  line.nextLineStart = begin;
  int count = 0;
  do {
    SplitLine(line.nextLineStart, &line, end);
    if (line.lineStart == nullptr) return out + "<none>";
    if (count++) out += "|";
    out.append(reinterpret_cast<const char*>(line.lineStart), line.lineLength);
    EXPECT_LE(line.lineStart + line.lineLength, end);
  } while (line.nextLineStart != nullptr);
  return out;
}

TEST(SplitLineTest, LineEnds) {
  struct Case {
    std::string message;
    std::string lines;
  } cases[] = {
      {"a\r\nb\r\n", "a|b"},
      {"a\rb\r", "a|b"},
      {"a\nb\n", "a|b"},
      {"a\n\rb", "a||b"},
      {"a\r\n\r\nb", "a||b"},
      {"a\r\r\nb", "a||b"},
      {"no end", "no end"},
      {"a\nlast", "a|last"},
      {"\r\n", ""},
      {"\n\n", "|"},
      {"x", "x"},
      {std::string("a\0b\nc", 5), "a"},
      {std::string("a\n\0b", 4), "a"},
      {std::string("\0abc", 4), ""},
      {"a\r", "a"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.lines, Lines(c.message)) << c.message;
}

TEST(SplitLineTest, NoLineAtOrPastTheEnd) {
  const unsigned char text[] = "abc";
  LineCursor line;
  SplitLine(text + 3, &line, text + 3);
  EXPECT_EQ(nullptr, line.lineStart);
  EXPECT_EQ(0, line.lineLength);
  EXPECT_EQ(nullptr, line.nextLineStart);
  SplitLine(nullptr, &line, text + 3);
  EXPECT_EQ(nullptr, line.lineStart);
}

TEST(SplitLineTest, ReadsNothingAtOrBeyondTheEnd) {
  // The CR is the last byte: the byte after it must not be looked at. An
  // address sanitizer build catches a read of it.
  std::vector<unsigned char> heap = {'a', '\r'};
  LineCursor line;
  SplitLine(heap.data(), &line, heap.data() + heap.size());
  EXPECT_EQ(1, line.lineLength);
  EXPECT_EQ(nullptr, line.nextLineStart);
}

}  // namespace

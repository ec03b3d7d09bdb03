#include "scan/normal_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base_builder.h"
#include "scan/time_stamp.h"

namespace {

using mkbase::BaseBuilder;
using mkbase::Record;

// What one Next call gave: the length and, for a message, the text's offset
// in the base.
struct Yield {
  int32_t length;
  size_t textOffset;
  bool operator==(const Yield& o) const {
    return length == o.length && (length == 0 || textOffset == o.textOffset);
  }
};

std::ostream& operator<<(std::ostream& out, const Yield& y) {
  return out << "{length " << y.length << ", at " << y.textOffset << "}";
}

std::vector<Yield> Walk(const std::string& image) {
  NormalScanner scanner;
  const unsigned char* data =
      reinterpret_cast<const unsigned char*>(image.data());
  EXPECT_TRUE(scanner.Attach(data, static_cast<uint32_t>(image.size())));
  std::vector<Yield> yields;
  const unsigned char* text = nullptr;
  int32_t length = -1;
  FILETIME time = {};
  while (scanner.Next(&text, &length, &time)) {
    yields.push_back({length, length ? size_t(text - data) : 0});
    if (length > 0) {
      EXPECT_LE(size_t(text - data) + length, image.size());
      EXPECT_LE(size_t(scanner.position - scanner.base), image.size());
    }
    if (yields.size() > 100) break;  // a walk that never ends
  }
  return yields;
}

TEST(NormalScannerTest, AttachChecksTheFileHeader) {
  struct Case {
    const char* what;
    std::string image;
    bool accepted;
  } cases[] = {
      {"header alone", mkbase::FileHeader(), true},
      {"one byte short", mkbase::FileHeader().substr(0, 3079), false},
      {"wrong magic", mkbase::FileHeader(0x19790621u), false},
      {"headerSize 3081", mkbase::FileHeader(mkbase::kFileMagic, 3081), false},
      {"empty", std::string(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NormalScanner scanner;
    const unsigned char* data =
        reinterpret_cast<const unsigned char*>(c.image.data());
    EXPECT_EQ(c.accepted,
              scanner.Attach(data, static_cast<uint32_t>(c.image.size())));
    if (c.accepted) {
      EXPECT_EQ(data, scanner.base);
      EXPECT_EQ(data + 3080, scanner.position);
      EXPECT_EQ(c.image.size(), scanner.size);
    } else {
      EXPECT_EQ(nullptr, scanner.base);
      EXPECT_EQ(nullptr, scanner.position);
      EXPECT_EQ(0u, scanner.size);
    }
  }
  NormalScanner scanner;
  EXPECT_FALSE(scanner.Attach(nullptr, 5000));
}

TEST(NormalScannerTest, NextBeforeAttachYieldsNothing) {
  NormalScanner scanner;
  const unsigned char* text;
  int32_t length;
  FILETIME time;
  EXPECT_FALSE(scanner.Next(&text, &length, &time));
}

Record WithLength(const std::string& text, uint32_t length) {
  Record r;
  r.text = text;
  r.overrideLength = true;
  r.length = length;
  return r;
}

TEST(NormalScannerTest, WalksGoodAndBadRecords) {
  const size_t first = 3080 + 48;
  struct Case {
    const char* what;
    std::string image;
    std::vector<Yield> expected;
  };
  std::vector<Case> cases;
  {
    BaseBuilder b;
    b.AddMessage("one", 1000000000u);
    b.AddMessage("second", 1000003600u);
    cases.push_back({"two good records, the last ending the file", b.Build(),
                     {{3, first}, {6, first + 3 + 48}}});
  }
  {
    BaseBuilder b;
    b.AddMessage("", 1000000000u);
    b.AddMessage("after", 1000000000u);
    cases.push_back({"length 0 is skipped, the walk goes on", b.Build(),
                     {{0, 0}, {5, first + 48}}});
  }
  {
    BaseBuilder b;
    b.AddRecord(WithLength("abcd", 5));
    cases.push_back({"length one past the end", b.Build(), {{0, 0}}});
  }
  {
    BaseBuilder b;
    b.AddRecord(WithLength("abcd", 0xFFFFFFFFu));
    b.AddMessage("never read", 0);
    cases.push_back({"length 0xFFFFFFFF does not wrap", b.Build(), {{0, 0}}});
  }
  {
    BaseBuilder b;
    b.AddMessage("whole", 0);
    b.AddRaw(std::string(47, 'x'));
    cases.push_back({"fewer than 48 bytes left", b.Build(),
                     {{5, first}, {0, 0}}});
  }
  {
    BaseBuilder b;
    Record bad;
    bad.text = "text";
    bad.headerSize = 49;
    b.AddRecord(bad);
    b.AddMessage("well-formed but after a bad one", 0);
    cases.push_back({"headerSize 49 ends the walk", b.Build(), {{0, 0}}});
  }
  {
    BaseBuilder b;
    b.AddMessage("first", 0);
    Record bad;
    bad.text = "text";
    bad.magic = 0x19700922u;
    b.AddRecord(bad);
    b.AddMessage("never read", 0);
    cases.push_back({"a wrong magic ends the walk", b.Build(),
                     {{5, first}, {0, 0}}});
  }
  {
    BaseBuilder b;
    Record bad;
    bad.text = "text";
    bad.headerSize = 48 + 0x100;  // only the low byte is right
    b.AddRecord(bad);
    cases.push_back({"headerSize compared whole", b.Build(), {{0, 0}}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.expected, Walk(c.image));
  }
}

TEST(NormalScannerTest, TimeComesFromTheStampAndIsKeptWhenItFails) {
  BaseBuilder b;
  b.AddMessage("a", 1000000000u);
  b.AddMessage("b", 5u);  // before 1980: does not convert
  std::string image = b.Build();
  NormalScanner scanner;
  ASSERT_TRUE(scanner.Attach(
      reinterpret_cast<const unsigned char*>(image.data()),
      static_cast<uint32_t>(image.size())));
  const unsigned char* text;
  int32_t length;
  FILETIME time = {};
  FILETIME expected;
  ASSERT_TRUE(SecondsToFileTime(1000000000u, &expected));
  ASSERT_TRUE(scanner.Next(&text, &length, &time));
  EXPECT_EQ(expected.dwLowDateTime, time.dwLowDateTime);
  EXPECT_EQ(expected.dwHighDateTime, time.dwHighDateTime);
  ASSERT_TRUE(scanner.Next(&text, &length, &time));
  EXPECT_EQ(1, length);
  EXPECT_EQ(expected.dwLowDateTime, time.dwLowDateTime);
  EXPECT_EQ(expected.dwHighDateTime, time.dwHighDateTime);
  EXPECT_FALSE(scanner.Next(&text, &length, &time));
}

}  // namespace

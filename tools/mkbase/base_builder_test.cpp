#include "base_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "synthetic_messages.h"

namespace fs = std::filesystem;

namespace {

using mkbase::BaseBuilder;
using mkbase::Record;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes.push_back(char(value));
  return bytes;
}

uint32_t Le32(const std::string& image, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | uint8_t(image.at(offset + size_t(i)));
  }
  return value;
}

std::vector<std::string> Lines(const std::string& text, const char* end) {
  std::vector<std::string> lines;
  size_t start = 0, at;
  while ((at = text.find(end, start)) != std::string::npos) {
    lines.push_back(text.substr(start, at - start));
    start = at + std::string(end).size();
  }
  EXPECT_EQ(start, text.size()) << "text does not end with a line end";
  return lines;
}

TEST(HeaderBytesTest, RecordHeaderPutsEachFieldAtItsOffset) {
  const std::string expected =
      Bytes({0x21, 0x09, 0x70, 0x19, 0x30, 0, 0, 0, 0, 0, 0, 0,
             0x00, 0xCA, 0x9A, 0x3B}) +  // 1000000000
      std::string(20, '\0') + Bytes({0x34, 0x12, 0, 0}) + std::string(8, '\0');
  EXPECT_EQ(mkbase::RecordHeader(0x19700921u, 48, 1000000000u, 0x1234),
            expected);
}

TEST(HeaderBytesTest, FileHeaderIsMagicSizeAndZeros) {
  const std::string header = mkbase::FileHeader();
  ASSERT_EQ(header.size(), 3080u);
  EXPECT_EQ(header.substr(0, 8),
            Bytes({0x20, 0x06, 0x79, 0x19, 0x08, 0x0C, 0, 0}));
  EXPECT_EQ(header.substr(8), std::string(3072, '\0'));
  // A wrong headerSize is a wrong field, not a shorter header.
  const std::string damaged = mkbase::FileHeader(0xAABBCCDDu, 16);
  ASSERT_EQ(damaged.size(), 3080u);
  EXPECT_EQ(damaged.substr(0, 8),
            Bytes({0xDD, 0xCC, 0xBB, 0xAA, 16, 0, 0, 0}));
}

TEST(BaseBuilderTest, SmallBaseByteByByte) {
  BaseBuilder builder;
  EXPECT_EQ(builder.AddMessage("Hi\r\n", 1000000000u), 0u);
  builder.AddRaw(std::string(3, '\0'));
  EXPECT_EQ(builder.AddMessage("Second", 1000003600u), 1u);

  const std::string expected =
      Bytes({0x20, 0x06, 0x79, 0x19, 0x08, 0x0C, 0, 0}) +
      std::string(3072, '\0') +
      Bytes({0x21, 0x09, 0x70, 0x19, 48, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xCA,
             0x9A, 0x3B}) +
      std::string(20, '\0') + Bytes({4, 0, 0, 0}) + std::string(8, '\0') +
      "Hi\r\n" + std::string(3, '\0') +
      Bytes({0x21, 0x09, 0x70, 0x19, 48, 0, 0, 0, 0, 0, 0, 0, 0x10, 0xD8,
             0x9A, 0x3B}) +
      std::string(20, '\0') + Bytes({6, 0, 0, 0}) + std::string(8, '\0') +
      "Second";
  EXPECT_EQ(builder.Build(), expected);
  EXPECT_EQ(builder.Size(), expected.size());
  EXPECT_EQ(builder.RecordCount(), 2u);
  EXPECT_EQ(builder.RecordOffset(0), 3080u);
  EXPECT_EQ(builder.TextOffset(0), 3128u);
  EXPECT_EQ(builder.RecordOffset(1), 3080u + 48 + 4 + 3);
  EXPECT_EQ(builder.TextOffset(1), 3080u + 48 + 4 + 3 + 48);
}

TEST(BaseBuilderTest, FileHeaderCanBeWrongOrMissing) {
  BaseBuilder builder;
  builder.SetFileHeader(1, 2);
  builder.AddMessage("x", 7);
  const std::string wrong = builder.Build();
  EXPECT_EQ(Le32(wrong, 0), 1u);
  EXPECT_EQ(Le32(wrong, 4), 2u);
  EXPECT_EQ(builder.RecordOffset(0), 3080u);

  builder.OmitFileHeader();
  EXPECT_EQ(builder.RecordOffset(0), 0u);
  EXPECT_EQ(builder.Build(), wrong.substr(3080));
}

TEST(BaseBuilderTest, RecordFieldsCanBeWrong) {
  Record record;
  record.text = "Subject: x\r\n\r\nbody\r\n";
  record.timeStamp = 99;
  record.magic = 0x11223344u;
  record.headerSize = 47;
  record.overrideLength = true;
  record.length = 1000;
  BaseBuilder builder;
  builder.AddRecord(record);
  const std::string image = builder.Build();
  EXPECT_EQ(Le32(image, 3080 + 0), 0x11223344u);
  EXPECT_EQ(Le32(image, 3080 + 4), 47u);
  EXPECT_EQ(Le32(image, 3080 + 12), 99u);
  EXPECT_EQ(Le32(image, 3080 + 36), 1000u);
  // The text is stored whole whatever the length field says.
  EXPECT_EQ(image.substr(3128), record.text);
}

TEST(DamageTest, EditsClipAtTheEnd) {
  struct Case {
    const char* name;
    std::function<void(std::string*)> damage;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"truncate shorter", [](std::string* s) { mkbase::Truncate(s, 3); },
       "abc"},
      {"truncate longer", [](std::string* s) { mkbase::Truncate(s, 99); },
       "abcdef"},
      {"zero inside", [](std::string* s) { mkbase::ZeroRange(s, 1, 2); },
       std::string("a\0\0def", 6)},
      {"zero past end", [](std::string* s) { mkbase::ZeroRange(s, 4, 10); },
       std::string("abcd\0\0", 6)},
      {"overwrite past end",
       [](std::string* s) { mkbase::Overwrite(s, 4, "XYZ"); }, "abcdXY"},
      {"le32 inside",
       [](std::string* s) { mkbase::PutLittleEndian32(s, 1, 0x34333231u); },
       "a1234f"},
      {"le32 past end",
       [](std::string* s) { mkbase::PutLittleEndian32(s, 4, 0x34333231u); },
       "abcd12"},
  };
  for (const Case& c : cases) {
    std::string image = "abcdef";
    c.damage(&image);
    EXPECT_EQ(image, c.expected) << c.name;
  }
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info =
        ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string("korvane_mkbase_") +
                             info->test_suite_name() + "_" + info->name() + "_";
    // A folder of this run's own: two runs at once (two builds, two
    // checkouts) must not write into each other's.
    std::random_device random;
    do {
      dir = fs::temp_directory_path() / (name + std::to_string(random()));
    } while (!fs::create_directory(dir));
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const {
    return (dir / name).string();
  }
  std::string ReadBack(const std::string& name) const {
    std::string bytes;
    EXPECT_TRUE(mkbase::ReadFileBytes(Path(name), &bytes)) << name;
    return bytes;
  }

  fs::path dir;
};

using BaseWriterTest = TempDir;

TEST_F(BaseWriterTest, WritesWhatTheBuilderBuilds) {
  // Enough records to fill the write buffer several times, and one text
  // bigger than the buffer.
  for (bool withHeader : {true, false}) {
    BaseBuilder builder;
    mkbase::BaseWriter writer;
    if (!withHeader) builder.OmitFileHeader();
    ASSERT_TRUE(writer.Open(Path("w.tbb"), withHeader));
    Record big;
    big.text.assign(5u << 20, 'x');
    big.timeStamp = 3;
    builder.AddRecord(big);
    writer.AddRecord(big);
    for (uint32_t i = 0; i < 3000; ++i) {
      const std::string text = mkbase::SyntheticMessage(5, i, {});
      builder.AddMessage(text, i);
      writer.AddMessage(text, i);
      if (i % 1000 == 0) {
        builder.AddRaw("junk");
        writer.AddRaw("junk");
      }
    }
    EXPECT_EQ(writer.Size(), builder.Size());
    EXPECT_EQ(writer.RecordOffset(2999), builder.RecordOffset(2999));
    ASSERT_TRUE(writer.Close());
    EXPECT_TRUE(ReadBack("w.tbb") == builder.Build()) << withHeader;
  }
}

TEST_F(BaseWriterTest, FileDamageMatchesImageDamage) {
  const std::string image = "0123456789";
  struct Case {
    uint64_t offset, count;
  };
  for (const Case& c : std::vector<Case>{{0, 3}, {7, 3}, {8, 50}, {10, 1},
                                         {99, 1}, {4, 0}}) {
    const std::string what =
        std::to_string(c.offset) + "," + std::to_string(c.count);
    std::string expected = image;
    ASSERT_TRUE(mkbase::WriteFileBytes(Path("d"), image));
    mkbase::ZeroRange(&expected, size_t(c.offset), size_t(c.count));
    ASSERT_TRUE(mkbase::ZeroFileRange(Path("d"), c.offset, c.count));
    EXPECT_EQ(ReadBack("d"), expected) << "zero " << what;

    const std::string patch(size_t(c.count), 'P');
    mkbase::Overwrite(&expected, size_t(c.offset), patch);
    ASSERT_TRUE(mkbase::OverwriteFile(Path("d"), c.offset, patch));
    EXPECT_EQ(ReadBack("d"), expected) << "patch " << what;

    mkbase::Truncate(&expected, size_t(c.offset));
    ASSERT_TRUE(mkbase::TruncateFile(Path("d"), c.offset));
    EXPECT_EQ(ReadBack("d"), expected) << "truncate " << what;
  }
}

TEST(FormatMailDateTest, KnownInstants) {
  struct Case {
    int64_t time;
    int zone;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, "Thu, 1 Jan 1970 00:00:00 +0000"},
      {1000000000, 0, "Sun, 9 Sep 2001 01:46:40 +0000"},
      {1000000000, 120, "Sun, 9 Sep 2001 03:46:40 +0200"},
      {1000000000, -300, "Sat, 8 Sep 2001 20:46:40 -0500"},
      {1000000000, 330, "Sun, 9 Sep 2001 07:16:40 +0530"},
      {951782400, 0, "Tue, 29 Feb 2000 00:00:00 +0000"},
      {1104537599, 0, "Fri, 31 Dec 2004 23:59:59 +0000"},
      {1104537599, 60, "Sat, 1 Jan 2005 00:59:59 +0100"},
      {4102444800, 0, "Fri, 1 Jan 2100 00:00:00 +0000"},
      {4294967295, 0, "Sun, 7 Feb 2106 06:28:15 +0000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mkbase::FormatMailDate(c.time, c.zone), c.expected) << c.time;
  }
}

uint64_t Fnv1a(const std::string& bytes, uint64_t hash) {
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001B3ull;
  return hash;
}

TEST(SyntheticTest, FixedBySeedAndIndex) {
  const mkbase::SyntheticOptions options;
  EXPECT_EQ(mkbase::SyntheticMessage(7, 12, options),
            mkbase::SyntheticMessage(7, 12, options));
  EXPECT_NE(mkbase::SyntheticMessage(7, 12, options),
            mkbase::SyntheticMessage(8, 12, options));
  EXPECT_NE(mkbase::SyntheticMessage(7, 12, options),
            mkbase::SyntheticMessage(7, 13, options));
  // Pinned for each kind so that a build on another platform, library or
  // compiler, or an edit to the generator, cannot change the bytes
  // unnoticed. Update on purpose.
  mkbase::SyntheticOptions list, rough;
  list.listMail = true;
  rough.rough = true;
  const struct {
    const mkbase::SyntheticOptions& options;
    uint64_t hash;
  } kPins[] = {{options, 7396713649755072832ull},
               {list, 5031225216052234898ull},
               {rough, 12094037442804258805ull}};
  for (const auto& pin : kPins) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (uint64_t i = 0; i < 200; ++i) {
      hash = Fnv1a(mkbase::SyntheticMessage(42, i, pin.options), hash);
    }
    EXPECT_EQ(hash, pin.hash) << "list mail " << pin.options.listMail
                              << ", rough " << pin.options.rough;
  }
}

// Both kinds of synthetic mail: the ordinary kind, and mailing-list mail
// (short, mostly header lines, a footer of 5 lines after the body).
struct Shape {
  bool listMail;
  size_t footerLines;
  size_t minHeaderLines;
  size_t minSize, maxSize;
  int minReceived, maxReceived;
};

class SyntheticShapeTest : public ::testing::TestWithParam<Shape> {};

TEST_P(SyntheticShapeTest, MessagesHaveThePromisedShape) {
  const Shape shape = GetParam();
  mkbase::SyntheticOptions options;
  options.listMail = shape.listMail;
  std::map<std::string, int> senders;
  int bodyLines = 0, fromLines = 0, lowerFromLines = 0, quotedFromLines = 0;
  int receivedMessages = 0;
  for (uint64_t i = 0; i < 4000; ++i) {
    const std::string text = mkbase::SyntheticMessage(3, i, options);
    ASSERT_EQ(text.find('\0'), std::string::npos);
    ASSERT_GE(text.size(), shape.minSize) << i;
    ASSERT_LE(text.size(), shape.maxSize) << i;
    const std::vector<std::string> lines = Lines(text, "\r\n");
    size_t blank = 0;
    std::map<std::string, int> fields;
    bool named = false;
    for (; blank < lines.size() && !lines[blank].empty(); ++blank) {
      const std::string& line = lines[blank];
      ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos) << i;
      if (line[0] == '\t') continue;  // folded
      ASSERT_NE(line.find(": "), std::string::npos) << i << ": " << line;
      ++fields[line.substr(0, line.find(':'))];
      if (line.compare(0, 6, "From: ") == 0) named = line.back() == '>';
    }
    ASSERT_LT(blank, lines.size()) << "no blank line in message " << i;
    ASSERT_GE(blank, shape.minHeaderLines) << i;
    for (const char* name : {"Date", "From", "To", "Subject", "Message-ID"}) {
      EXPECT_EQ(fields[name], 1) << name << " in message " << i;
    }
    ++senders[std::string(fields["Return-Path"] ? "return-path, " : "") +
              (named ? "named" : "bare")];
    receivedMessages += fields["Received"] > 0;

    ASSERT_GT(lines.size(), blank + 1 + shape.footerLines)
        << "empty body in message " << i;
    for (size_t n = blank + 1; n < lines.size() - shape.footerLines; ++n) {
      const std::string& line = lines[n];
      ++bodyLines;
      EXPECT_GE(line.size(), 20u) << line;
      EXPECT_LE(line.size(), 100u) << line;
      fromLines += line.compare(0, 5, "From ") == 0;
      lowerFromLines += line.compare(0, 5, "from ") == 0;
      quotedFromLines += line.compare(0, 6, ">From ") == 0;
    }
  }
  for (const char* kind :
       {"return-path, named", "return-path, bare", "named", "bare"}) {
    EXPECT_GT(senders[kind], 400) << kind;
  }
  EXPECT_GE(receivedMessages, shape.minReceived);
  EXPECT_LE(receivedMessages, shape.maxReceived);
  // About one line in 200 begins "From ".
  EXPECT_GT(fromLines, bodyLines / 400);
  EXPECT_LT(fromLines, bodyLines / 100);
  EXPECT_GT(lowerFromLines, 10);
  EXPECT_GT(quotedFromLines, 10);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SyntheticShapeTest,
    ::testing::Values(Shape{false, 0, 5, 200, 40000, 800, 2000},
                      Shape{true, 5, 20, 900, 2200, 4000, 4000}),
    [](const ::testing::TestParamInfo<Shape>& info) {
      return std::string(info.param.listMail ? "ListMail" : "Ordinary");
    });

TEST(SyntheticTest, LfOptionChangesOnlyTheLineEnds) {
  mkbase::SyntheticOptions lf;
  lf.crlf = false;
  for (uint64_t i = 0; i < 50; ++i) {
    std::string crlf = mkbase::SyntheticMessage(9, i, {});
    std::string expected;
    for (char c : crlf) {
      if (c != '\r') expected += c;
    }
    EXPECT_EQ(mkbase::SyntheticMessage(9, i, lf), expected) << i;
  }
}

TEST(SyntheticTest, GarbageAvoidsTheBytesThatMeanSomething) {
  const std::string garbage = mkbase::GarbageBytes(1, 100000);
  ASSERT_EQ(garbage.size(), 100000u);
  EXPECT_EQ(garbage.find_first_of(std::string("\0\t\n\r!DdFfRr", 11)),
            std::string::npos);
  EXPECT_NE(garbage, mkbase::GarbageBytes(2, 100000));
}

TEST(SyntheticTest, FillStopsAtTheByteLimitWithStepwiseStamps) {
  mkbase::SyntheticOptions options;
  options.startTime = 500;
  options.step = 10;
  BaseBuilder builder;
  const uint64_t limit = 200000;
  const size_t added =
      mkbase::AddSyntheticMessages(&builder, 4, SIZE_MAX, limit, options);
  ASSERT_GT(added, 10u);
  EXPECT_EQ(builder.RecordCount(), added);
  EXPECT_LE(builder.Size(), limit);
  EXPECT_GT(builder.Size() + 48 +
                mkbase::SyntheticMessage(4, added, options).size(),
            limit);
  const std::string image = builder.Build();
  for (size_t i = 0; i < added; ++i) {
    EXPECT_EQ(Le32(image, builder.RecordOffset(i) + 12), 500 + 10 * i);
    EXPECT_EQ(image.substr(builder.TextOffset(i),
                           Le32(image, builder.RecordOffset(i) + 36)),
              mkbase::SyntheticMessage(4, i, options));
  }
}

// The command-line tool, run as a separate program.
class MkbaseCliTest : public TempDir {
 protected:
  int Run(const std::vector<std::string>& args) {
    std::string command = std::string("\"") + KORVANE_MKBASE + "\"";
    for (const std::string& arg : args) command += " \"" + arg + "\"";
    command += " >\"" + Path("stdout") + "\" 2>\"" + Path("stderr") + "\"";
#ifdef _WIN32
    return std::system(("\"" + command + "\"").c_str());
#else
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  }

  // Two message files, and the base the tool should make of them.
  BaseBuilder TwoMessages() {
    fs::create_directories(dir / "in");
    const std::string first = "From: a@example.org\r\n\r\nfirst\r\n";
    const std::string second = "From: b@example.org\n\nsecond \xC3\xA9\n";
    EXPECT_TRUE(mkbase::WriteFileBytes(Path("in/2.eml"), second));
    EXPECT_TRUE(mkbase::WriteFileBytes(Path("in/10.eml"), first));
    BaseBuilder builder;
    builder.AddMessage(first, 1000000000u);  // "10.eml" sorts first
    builder.AddMessage(second, 1000003600u);
    return builder;
  }
};

TEST_F(MkbaseCliTest, PacksDirectoryEmlFilesInNameOrderThenFiles) {
  BaseBuilder expected = TwoMessages();
  ASSERT_TRUE(mkbase::WriteFileBytes(Path("in/notes.txt"), "not a message"));
  ASSERT_TRUE(mkbase::WriteFileBytes(Path("in/.hidden.eml"), "hidden"));
  ASSERT_TRUE(mkbase::WriteFileBytes(Path("extra.msg"), "extra\n"));
  expected.AddMessage("extra\n", 1000007200u);
  ASSERT_EQ(Run({Path("out.tbb"), Path("in"), Path("extra.msg")}), 0);
  EXPECT_EQ(ReadBack("out.tbb"), expected.Build());

  ASSERT_EQ(Run({"--start", "0x10", "--step=5", Path("out.tbb"), Path("in")}),
            0);
  const std::string image = ReadBack("out.tbb");
  EXPECT_EQ(Le32(image, expected.RecordOffset(0) + 12), 16u);
  EXPECT_EQ(Le32(image, expected.RecordOffset(1) + 12), 21u);
}

TEST_F(MkbaseCliTest, PacksTheExamples) {
  std::vector<fs::path> files;
  for (const auto& entry :
       fs::directory_iterator(fs::path(KORVANE_SOURCE_DIR) / "examples")) {
    if (entry.path().extension() == ".eml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 6u);
  ASSERT_EQ(Run({Path("ex.tbb"), KORVANE_SOURCE_DIR "/examples"}), 0);
  const std::string image = ReadBack("ex.tbb");
  size_t offset = 3080;
  for (const fs::path& file : files) {
    std::string text;
    ASSERT_TRUE(mkbase::ReadFileBytes(file.string(), &text));
    EXPECT_EQ(text.back(), '\n') << file;
    EXPECT_TRUE(text.find("\n\n") != std::string::npos ||
                text.find("\r\n\r\n") != std::string::npos)
        << file;
    ASSERT_EQ(Le32(image, offset + 36), text.size()) << file;
    EXPECT_EQ(image.substr(offset + 48, text.size()), text) << file;
    offset += 48 + text.size();
  }
  EXPECT_EQ(offset, image.size());
}

TEST_F(MkbaseCliTest, SyntheticBasesMatchTheLibrary) {
  mkbase::SyntheticOptions options;
  options.crlf = false;
  BaseBuilder expected;
  mkbase::AddSyntheticMessages(&expected, 7, 20, UINT64_MAX, options);
  ASSERT_EQ(Run({"--synthetic", "20", "--seed", "7", "--lf", Path("s.tbb")}),
            0);
  EXPECT_TRUE(ReadBack("s.tbb") == expected.Build());

  options.listMail = true;
  BaseBuilder list;
  mkbase::AddSyntheticMessages(&list, 7, 20, UINT64_MAX, options);
  ASSERT_EQ(Run({"--synthetic", "20", "--seed", "7", "--lf", "--list-mail",
                 Path("l.tbb")}),
            0);
  EXPECT_TRUE(ReadBack("l.tbb") == list.Build());

  ASSERT_EQ(Run({"--synthetic-bytes", "100000", Path("b.tbb")}), 0);
  const uint64_t size = fs::file_size(Path("b.tbb"));
  EXPECT_LE(size, 100000u);
  EXPECT_GT(size, 80000u);
}

TEST_F(MkbaseCliTest, DamageOptions) {
  const BaseBuilder sound = TwoMessages();
  const std::string image = sound.Build();
  const size_t second = sound.RecordOffset(1);
  const uint32_t secondLength = Le32(image, second + 36);
  auto put = [&](size_t offset, uint32_t value) {
    std::string damaged = image;
    mkbase::PutLittleEndian32(&damaged, offset, value);
    return damaged;
  };
  auto insert = [&](size_t offset, const std::string& bytes) {
    return image.substr(0, offset) + bytes + image.substr(offset);
  };
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"--bad-file-header"}, put(0, 0x20067919u)},
      {{"--file-header-size", "100"}, put(4, 100)},
      {{"--no-file-header"}, image.substr(3080)},
      {{"--bad-magic", "1"}, put(second, 0x21097019u)},
      {{"--magic", "0=0x19700920"}, put(3080, 0x19700920u)},
      {{"--header-size", "0=64"}, put(3080 + 4, 64)},
      {{"--length", "1=+10"}, put(second + 36, secondLength + 10)},
      {{"--length", "1=-1"}, put(second + 36, secondLength - 1)},
      {{"--length", "0=0"}, put(3080 + 36, 0)},
      {{"--time", "1=5"}, put(second + 12, 5)},
      {{"--truncate", "-100"}, image.substr(0, image.size() - 100)},
      {{"--truncate", "3100"}, image.substr(0, 3100)},
      {{"--truncate", "999999"}, image},
      {{"--truncate", "-999999"}, ""},
      {{"--zero", "3080:4"}, put(3080, 0)},
      {{"--zero", std::to_string(image.size() - 2) + ":100"},
       image.substr(0, image.size() - 2) + std::string(2, '\0')},
      {{"--patch", "3080=FFFF"}, put(3080, 0x1970FFFFu)},
      {{"--zeros-before", "1=16"}, insert(second, std::string(16, '\0'))},
      {{"--zeros-before", "2=3"}, image + std::string(3, '\0')},
      {{"--raw-before", "0=0d0A"}, insert(3080, "\r\n")},
      {{"--raw-after", "0=41", "--raw-before", "1=42"}, insert(second, "AB")},
      {{"--zeros-before", "1=16", "--bad-magic", "1", "--truncate", "-1"},
       [&] {
         std::string d = insert(second, std::string(16, '\0'));
         mkbase::PutLittleEndian32(&d, second + 16, 0x21097019u);
         return d.substr(0, d.size() - 1);
       }()},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(Path("d.tbb"));
    args.push_back(Path("in"));
    ASSERT_EQ(Run(args), 0) << c.args[0];
    EXPECT_TRUE(ReadBack("d.tbb") == c.expected) << c.args[0] << " "
                                                 << c.args.back();
  }
}

TEST_F(MkbaseCliTest, GarbageIsFixedBySeedAndClean) {
  const BaseBuilder sound = TwoMessages();
  const size_t second = sound.RecordOffset(1);
  for (const char* name : {"g1.tbb", "g2.tbb"}) {
    ASSERT_EQ(Run({"--garbage-before", "1=500", Path(name), Path("in")}), 0);
  }
  const std::string image = ReadBack("g1.tbb");
  EXPECT_EQ(image, ReadBack("g2.tbb"));
  ASSERT_EQ(image.size(), sound.Size() + 500);
  EXPECT_EQ(image.substr(second, 500).find_first_of(
                std::string("\0\t\n\r!DdFfRr", 11)),
            std::string::npos);
  EXPECT_EQ(Le32(image, second + 500), mkbase::kRecordMagic);
}

TEST_F(MkbaseCliTest, BadUsageExitsWithTwo) {
  TwoMessages();
  const std::string out = Path("u.tbb"), in = Path("in");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--frobnicate", out, in},
      {"--length", "2=1", out, in},         // two records: 0 and 1
      {"--zeros-before", "3=1", out, in},
      {"--length", "x=1", out, in},
      {"--length", "1", out, in},
      {"--zero", "10", out, in},
      {"--raw-after", "0=abc", out, in},
      {"--step", "4294967296", out, in},
      {"--synthetic", out},
      {out, Path("missing")},
      // Found only once the base is built; the output must not stay.
      {"--synthetic-bytes", "10000", "--time", "1000=1", out},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const std::string& arg : args) joined += arg + " ";
    EXPECT_EQ(Run(args), 2) << joined;
    EXPECT_FALSE(fs::exists(out)) << joined;
  }
  EXPECT_EQ(Run({"--help"}), 0);
}

}  // namespace

#include "convert/conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "base_builder.h"
#include "test_support.h"

namespace {

using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;

std::string Message(int i) {
  return "Return-Path: <m" + std::to_string(i) +
         "@example.org>\r\nSubject: s\r\n\r\nbody\r\n";
}

// What a conversion told its caller while it ran.
class Recorder : public ConversionProgress {
 public:
  void ScanStarting(ScanKind scan) override { scans.push_back(scan); }
  void Advanced(unsigned percent, uint64_t, uint64_t) override {
    percents.push_back(percent);
  }
  void CorruptionFound() override { ++warnings; }

  std::vector<ScanKind> scans;
  std::vector<unsigned> percents;
  int warnings = 0;
};

std::string SoundBase(int messages) {
  mkbase::BaseBuilder builder;
  for (int i = 0; i < messages; ++i) builder.AddMessage(Message(i), 1000000000);
  return builder.Build();
}

// A base whose walk breaks at its third record: two messages before, three
// behind it.
std::string BrokenBase() {
  mkbase::BaseBuilder builder;
  mkbase::Record broken;
  broken.text = Message(2);
  broken.magic = 0x12345678u;
  for (int i = 0; i < 5; ++i) {
    if (i == 2)
      builder.AddRecord(broken);
    else
      builder.AddMessage(Message(i), 1000000000);
  }
  return builder.Build();
}

TEST(ConversionTest, Outcomes) {
  struct Case {
    const char* what;
    bool exists;
    std::string base;
    ConversionOptions options;
    ConversionOutcome outcome;
    int32_t messages;
    ScanKind scan;
    bool recovered;
    bool outputExists;
  };
  ConversionOptions alternative, recover;
  alternative.alternativeScan = true;
  recover.recover = true;
  const std::string garbage(5000, 'x');
  const Case cases[] = {
      {"sound",
       true,
       SoundBase(3),
       {},
       ConversionOutcome::kConverted,
       3,
       ScanKind::kNormal,
       false,
       true},
      {"sound, recover", true, SoundBase(3), recover,
       ConversionOutcome::kConverted, 3, ScanKind::kNormal, false, true},
      {"missing",
       false,
       "",
       {},
       ConversionOutcome::kCantOpenBase,
       0,
       ScanKind::kNormal,
       false,
       false},
      {"0 bytes",
       true,
       "",
       {},
       ConversionOutcome::kCantOpenBase,
       0,
       ScanKind::kNormal,
       false,
       false},
      {"0 bytes, recover", true, "", recover, ConversionOutcome::kConverted, 0,
       ScanKind::kNormal, false, true},
      {"not a base",
       true,
       garbage,
       {},
       ConversionOutcome::kNotRecognised,
       0,
       ScanKind::kNormal,
       false,
       true},
      {"not a base, -a", true, garbage, alternative,
       ConversionOutcome::kNothingFound, 0, ScanKind::kAlternative, false,
       true},
      {"not a base, recover", true, garbage, recover,
       ConversionOutcome::kNothingFound, 0, ScanKind::kAlternative, true, true},
      {"broken walk",
       true,
       BrokenBase(),
       {},
       ConversionOutcome::kConverted,
       2,
       ScanKind::kNormal,
       false,
       true},
      {"broken walk, recover", true, BrokenBase(), recover,
       ConversionOutcome::kConverted, 5, ScanKind::kRecovered, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string base = dir.File("in.tbb"), out = dir.File("out.mbx");
    if (c.exists) {
      ASSERT_TRUE(mkbase::WriteFileBytes(base, c.base));
    }
    const ConversionResult r =
        ConvertBase(base.c_str(), out.c_str(), c.options, nullptr);
    EXPECT_EQ(int(c.outcome), int(r.outcome)) << r.failure.Text();
    EXPECT_EQ(c.messages, r.messages);
    EXPECT_EQ(int(c.scan), int(r.scan));
    EXPECT_EQ(c.recovered, r.recovered);
    EXPECT_EQ(c.outputExists, testing_support::FileExists(out));
    EXPECT_EQ(c.exists && c.base.empty() && c.options.recover, r.emptyBase);
    if (c.outputExists) {
      EXPECT_EQ(ReadFileOrEmpty(out).size(), r.bytesWritten);
    }
    if (r.outcome == ConversionOutcome::kCantOpenBase) {
      EXPECT_FALSE(r.failure.Text().empty());
    }
  }
}

// The rest of a broken walk converts as a base of its own with -a would.
TEST(ConversionTest, RecoveryAppendsTheAlternativeScanOfTheRest) {
  TempDir dir;
  const std::string image = BrokenBase();
  const std::string whole = dir.File("whole.tbb"), rest = dir.File("rest.tbb");
  ASSERT_TRUE(mkbase::WriteFileBytes(whole, image));
  // The third record starts after the file header and two records.
  const size_t broken = 3080 + 2 * (48 + Message(0).size());
  ASSERT_TRUE(mkbase::WriteFileBytes(rest, image.substr(broken)));

  ConversionOptions normal, alternative, recover;
  alternative.alternativeScan = true;
  recover.recover = true;
  const std::string a = dir.File("a"), b = dir.File("b"), r = dir.File("r");
  ConvertBase(whole.c_str(), a.c_str(), normal, nullptr);
  ConvertBase(rest.c_str(), b.c_str(), alternative, nullptr);
  Recorder recorder;
  ConversionResult result =
      ConvertBase(whole.c_str(), r.c_str(), recover, &recorder);
  EXPECT_EQ(ReadFileOrEmpty(a) + ReadFileOrEmpty(b), ReadFileOrEmpty(r));
  EXPECT_EQ(5, result.messages);
  EXPECT_EQ(1, recorder.warnings);
  EXPECT_EQ((std::vector<ScanKind>{ScanKind::kNormal, ScanKind::kRecovered}),
            recorder.scans);
}

std::vector<DWORD> scriptedTicks;
size_t tickCalls = 0;
DWORD ScriptedTicks() {
  return scriptedTicks[std::min(tickCalls++, scriptedTicks.size() - 1)];
}

TEST(ConversionTest, WarnsOnceAndSpacesProgress) {
  TempDir dir;
  mkbase::BaseBuilder builder;
  mkbase::Record empty;  // a record of length 0: unusable, nothing lost
  for (int i = 0; i < 4; ++i) {
    builder.AddRecord(empty);
    builder.AddRecord(empty);
    builder.AddMessage(Message(i), 1000000000);
  }
  const std::string base = dir.File("in.tbb"), out = dir.File("out.mbx");
  ASSERT_TRUE(mkbase::WriteFileBytes(base, builder.Build()));
  // The first reading starts the clock; then one reading per message, and
  // one more after each progress report.
  scriptedTicks = {1000,
                   1100 /* exactly 100 ms: nothing */,
                   1101 /* 101 ms */,
                   1101,
                   1150,
                   1202,
                   1202};
  tickCalls = 0;
  ConversionOptions options;
  options.tickCount = ScriptedTicks;
  Recorder recorder;
  ConversionResult r =
      ConvertBase(base.c_str(), out.c_str(), options, &recorder);
  EXPECT_EQ(4, r.messages);
  EXPECT_TRUE(r.corruptionWarning);
  EXPECT_EQ(1, recorder.warnings);
  ASSERT_EQ(3u, recorder.percents.size());  // the first, after 2 and 4
  EXPECT_EQ(PercentOf(3080, builder.Size()), recorder.percents[0]);
  EXPECT_EQ(100u, recorder.percents[2]);
  EXPECT_EQ(size_t(7), tickCalls);

  // The alternative scan passes unusable records in silence.
  options.alternativeScan = true;
  tickCalls = 0;
  Recorder quiet;
  r = ConvertBase(base.c_str(), out.c_str(), options, &quiet);
  EXPECT_EQ(4, r.messages);
  EXPECT_EQ(0, quiet.warnings);
  EXPECT_FALSE(r.corruptionWarning);
}

#ifndef _WIN32
// Cuts its base short as soon as the conversion has it mapped.
class Truncator : public ConversionProgress {
 public:
  explicit Truncator(std::string name) : name(std::move(name)) {}
  void Advanced(unsigned, uint64_t, uint64_t) override {
    if (!done) done = truncate(name.c_str(), 0) == 0;
  }
  std::string name;
  bool done = false;
};

// Windows lets nobody shrink a mapped file; elsewhere the conversion whose
// base shrank fails alone, and one beside it on another thread is whole.
TEST(ConversionTest, ConcurrentConversionsKeepTheirFaultsApart) {
  TempDir dir;
  const std::string sound = SoundBase(20000), cut = dir.File("cut.tbb");
  const std::string a = dir.File("a.tbb"), alone = dir.File("alone.mbx");
  ASSERT_TRUE(mkbase::WriteFileBytes(a, sound));
  ASSERT_TRUE(mkbase::WriteFileBytes(cut, sound));
  ConvertBase(a.c_str(), alone.c_str(), {}, nullptr);

  for (bool alternative : {false, true}) {
    SCOPED_TRACE(alternative ? "-a" : "normal");
    ASSERT_TRUE(mkbase::WriteFileBytes(cut, sound));
    // With the write thread, from the start or from the second buffer on:
    // the output must be the same as without.
    ConversionOptions options, behind;
    options.alternativeScan = alternative;
    options.writeBehind = true;
    const std::atomic<bool> spare{true};
    if (alternative)
      behind.writeBehindFrom = &spare;
    else
      behind.writeBehind = true;
    ConversionResult cutResult, soundResult;
    Truncator truncator(cut);
    std::thread first([&] {
      cutResult = ConvertBase(cut.c_str(), dir.File("cut.mbx").c_str(), options,
                              &truncator);
    });
    std::thread second([&] {
      soundResult =
          ConvertBase(a.c_str(), dir.File("a.mbx").c_str(), behind, nullptr);
    });
    first.join();
    second.join();
    EXPECT_TRUE(truncator.done);
    EXPECT_EQ(int(ConversionOutcome::kCantReadBase), int(cutResult.outcome));
    EXPECT_EQ("the file shrank while it was being read",
              cutResult.failure.Text());
    EXPECT_EQ(int(ConversionOutcome::kConverted), int(soundResult.outcome));
    EXPECT_EQ(20000, soundResult.messages);
    // Not EXPECT_EQ: its line diff of two mailboxes this size, were they
    // to differ, would take more memory than the machine has.
    EXPECT_TRUE(ReadFileOrEmpty(alone) == ReadFileOrEmpty(dir.File("a.mbx")))
        << "the output differs from the one made alone";
  }
}
#endif

TEST(ProgressTest, PercentOfLargeBasesDoesNotOverflow) {
  struct Case {
    uint64_t size;
    uint64_t done;
    unsigned expected;
  } cases[] = {{100, 0, 0},
               {100, 100, 100},
               {4294967295u, 4294967295u, 100},
               {4294967295u, 42949673u, 1},
               {3000000000u, 2999999999u, 99},
               {0, 0, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, PercentOf(c.done, c.size)) << c.size << " " << c.done;
}

}  // namespace

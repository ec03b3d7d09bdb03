// Runs the built korvane in a temporary folder and checks its exit status,
// what it prints and the files it leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base_builder.h"
#include "console/command_line.h"
#include "platform/win32.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using testing_support::FileExists;
using testing_support::ProgramResult;
using testing_support::ReadFileOrEmpty;
using testing_support::RunKorvaneBinary;
using testing_support::TempDir;

const char kBanner[] =
    "korvane v" KORVANE_VERSION " - message base to unix mailbox converter\n";

std::string UsageText() {
  return "usage: korvane <messages.tbb> [mboxname] [params...]\n"
         "type \"*\" instead of \"messages.tbb\" for fun\n"
         "<params>\n"
         "  -a[X][:Y]\n"
         "    Alternative scan (use for corrupted tbb's only) (default: "
         "64:2)\n"
         "                 X - instruct the scanner for minimal size of "
         "message header\n"
         "                 Y - more compatibility with normal tbb :) can be "
         "0, 1, 2 or 3\n"
         "  -d[X]\n"
         "    Watch deleted messages, where X: '+' - yes, '-' - no (default: "
         "+)\n"
         "\n"
         "Samples:\n"
         "  Convert message base to unix mailbox without deleted messages:\n"
         "      korvane * -d-\n"
         "  Convert corrupted message base to unix mailbox:\n"
         "      korvane messages_bad.tbb restore.mbx -a:3\n";
}

std::string TwoMessageBase() {
  mkbase::BaseBuilder b;
  b.AddMessage("Return-Path: <one@example.org>\r\nSubject: one\r\n\r\nbody\r\n",
               1000000000u);
  b.AddMessage("From: Two <two@example.org>\r\nSubject: two\r\n\r\nFrom me\r\n",
               1000003600u);
  return b.Build();
}

// The mailbox the two-message base gives with the time zone at UTC.
const char kTwoMessageMailbox[] =
    "From one@example.org  Sun Sep 9 01:46:40 2001\n"
    "Return-Path: <one@example.org>\nSubject: one\n\nbody\n\n"
    "From two@example.org  Sun Sep 9 02:46:40 2001\n"
    "From: Two <two@example.org>\nSubject: two\n\n>From me\n\n";

// A folder with a base in it; checks afterwards that the base is unchanged.
class RunTest : public ::testing::Test {
 protected:
  // Envelope dates depend on the time zone. The POSIX build takes it from
  // TZ, so the runs pin it there; Windows takes it from the system (Wine
  // from the TZ it was started with), which the tests need at UTC.
  void SetUp() override {
#ifdef _WIN32
    TIME_ZONE_INFORMATION zone = {};
    GetTimeZoneInformation(&zone);
    if (zone.Bias != 0) GTEST_SKIP() << "needs the system time zone at UTC";
#else
    SetTimeZone("UTC");
#endif
  }
#ifndef _WIN32
  static void SetTimeZone(const char* zone) { setenv("TZ", zone, 1); }
#endif
  void Put(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(testing_support::WriteFile(dir.File(name), bytes));
    kept.push_back({name, bytes});
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunKorvaneBinary(args, dir.path());
  }
  void TearDown() override {
    for (const auto& k : kept)
      EXPECT_EQ(k.second, ReadFileOrEmpty(dir.File(k.first)))
          << k.first << " changed";
  }
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> kept;
};

// Usage errors, and "--help" and "--version" (exactly so, and only as the
// first argument), print what they print and create nothing.
TEST_F(RunTest, UsageErrorsHelpAndVersionTouchNothing) {
  const std::string usage = kBanner + UsageText();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string output;
  } cases[] = {
      {{}, 1, usage},
      {{"in.tbb", "out.mbx", "extra"}, 1, usage},
      {{"in.tbb", "-x"}, 1, usage},
      {{"in.tbb", "-"}, 1, usage},
      {{"in.tbb", "-?"}, 1, usage},
      {{"in.tbb", "--help"}, 1, usage},
      {{"--help"}, 0, usage + MoreHelpText()},
      {{"--help", "in.tbb", "out.mbx"}, 0, usage + MoreHelpText()},
      {{"in.tbb", "-j2"},
       1,
       kBanner + std::string("error: -jN goes with -r (a folder tree)\n") +
           UsageText()},
      {{"in.tbb", "-r", "-j65"},
       1,
       kBanner +
           std::string("error: -j65: -j takes a number of bases at once, 1 "
                       "to 64\n") +
           UsageText()},
      {{"--version"}, 0, kBanner},
      {{"--version", "-x"}, 0, kBanner},
      {{"--HELP"},
       2,
       kBanner + std::string("error: can't open --HELP for read\n")},
      {{"-help"},
       2,
       kBanner + std::string("error: can't open -help for read\n")},
      {{"--version=1"},
       2,
       kBanner + std::string("error: can't open --version=1 for read\n")},
  };
  Put("in.tbb", TwoMessageBase());
  for (const Case& c : cases) {
    ProgramResult r = Run(c.args);
    SCOPED_TRACE(c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.output, r.output);
    auto files = std::filesystem::directory_iterator(dir.path());
    EXPECT_EQ(1, std::distance(begin(files), end(files))) << "only in.tbb";
  }
}

TEST_F(RunTest, ConvertsAndReportsProgressAndSummary) {
  std::string base = TwoMessageBase();
  Put("in.tbb", base);
  ProgramResult r = Run({"in.tbb"});
  EXPECT_EQ(0, r.status);
  // The first progress line shows the file header's share of the base.
  char first[16];
  snprintf(first, sizeof first, "%3d%%\r", int(3080 * 100 / base.size()));
  EXPECT_TRUE(std::regex_match(
      r.output, std::regex(std::string(kBanner) + first + "([ 0-9]{3}%\r)*" +
                           "found 2 messages, time left " +
                           "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\.\n")))
      << r.output;
  EXPECT_EQ(kTwoMessageMailbox, ReadFileOrEmpty(dir.File("in.mbx")));
}

TEST_F(RunTest, StarReadsMessagesTbb) {
  Put("messages.tbb", TwoMessageBase());
  for (const char* star : {"*", "*.tbb"}) {
    ProgramResult r = Run({star, "-d-"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(kTwoMessageMailbox, ReadFileOrEmpty(dir.File("messages.mbx")));
  }
}

TEST_F(RunTest, DeletedSwitchChangesNothing) {
  Put("in.tbb", TwoMessageBase());
  for (const char* sw : {"-d", "-d+", "-dyes", "-d-", "-dno", "-DN"}) {
    ProgramResult r = Run({"in.tbb", "out.mbx", sw});
    EXPECT_EQ(0, r.status) << sw;
    EXPECT_EQ(kTwoMessageMailbox, ReadFileOrEmpty(dir.File("out.mbx"))) << sw;
  }
}

// On POSIX these begin with "/", which must not make them switches there.
TEST_F(RunTest, AbsolutePathsAreNames) {
  Put("in.tbb", TwoMessageBase());
  ProgramResult r = Run({dir.File("in.tbb"), dir.File("abs.mbx")});
  EXPECT_EQ(0, r.status) << r.output;
  EXPECT_EQ(kTwoMessageMailbox, ReadFileOrEmpty(dir.File("abs.mbx")));
}

#ifdef _WIN32
TEST_F(RunTest, SlashIntroducesSwitchesOnWindows) {
  Put("in.tbb", TwoMessageBase());
  for (const char* sw : {"/d-", "/DN"}) {
    ProgramResult r = Run({"in.tbb", sw});
    EXPECT_EQ(0, r.status) << sw;
    EXPECT_EQ(kTwoMessageMailbox, ReadFileOrEmpty(dir.File("in.mbx"))) << sw;
  }
  ProgramResult r = Run({"in.tbb", "/a20", "out.mbx"});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(r.output.find("found 2 messages") != std::string::npos)
      << r.output;
  for (const char* bad : {"/", "/x", "/?"}) {
    r = Run({"in.tbb", "out2.mbx", bad});
    EXPECT_EQ(1, r.status) << bad;
    EXPECT_EQ(kBanner + UsageText(), r.output) << bad;
    EXPECT_FALSE(FileExists(dir.File("out2.mbx"))) << bad;
  }
}
#endif

TEST_F(RunTest, EnvelopeDatesAreUniversalTime) {
  Put("in.tbb", TwoMessageBase());
  struct Case {
    const char* zone;
    const char* firstEnvelope;
  } cases[] = {
      {"UTC", "From one@example.org  Sun Sep 9 01:46:40 2001\n"},
      // Stamps are local time: five hours west means five hours later.
      {"EST5", "From one@example.org  Sun Sep 9 06:46:40 2001\n"},
      {"EST5EDT", "From one@example.org  Sun Sep 9 06:46:40 2001\n"},
      {"UTC-3", "From one@example.org  Sat Sep 8 22:46:40 2001\n"},
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    // The zone cannot be set for the child here: only the first case, UTC,
    // applies. The Windows CI stage compares the other zones with the POSIX
    // build.
    if (&c != &cases[0]) continue;
#else
    SetTimeZone(c.zone);
#endif
    ProgramResult r = Run({"in.tbb"});
    EXPECT_EQ(0, r.status);
    std::string mailbox = ReadFileOrEmpty(dir.File("in.mbx"));
    EXPECT_EQ(c.firstEnvelope, mailbox.substr(0, mailbox.find('\n') + 1))
        << c.zone;
  }
}

TEST_F(RunTest, RecoveryScanSaysWhatItDoes) {
  Put("in.tbb", TwoMessageBase());
  Put("nothing.tbb", std::string(5000, 'x'));
  Put("tiny.tbb", "Date: today\r\n");
  ASSERT_TRUE(testing_support::WriteFile(dir.File("nothing.mbx"), "old"));
  const std::string scanning =
      "scanning message base. this may take few minutes...\n";
  const std::string empty =
      "warning: possible empty message base. if not report about\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string expected;  // a pattern for the output after the banner
  } cases[] = {
      // The first message is shorter than the 64 bytes passed over at the
      // start of every message; the intact record after it is found all
      // the same.
      {{"in.tbb", "-a"}, 0, scanning + "([ 0-9]{3}%\r)+found 2 messages, .*"},
      {{"nothing.tbb", "-a"}, 1, scanning + empty},
      // Not longer than X: refused before any search.
      {{"tiny.tbb", "-a"}, 1, scanning + empty},
      {{"tiny.tbb", "-a13"}, 1, scanning + empty},
      {{"tiny.tbb", "-a12"},
       0,
       scanning + "  0%\r([ 0-9]{3}%\r)*found 1 messages, .*"},
  };
  for (const Case& c : cases) {
    ProgramResult r = Run(c.args);
    EXPECT_EQ(c.status, r.status) << c.args[0] << " " << c.args[1];
    EXPECT_TRUE(std::regex_match(
        r.output, std::regex(kBanner + c.expected, std::regex::extended)))
        << r.output;
  }
  // The mailbox is created, and left empty, also when nothing is found.
  EXPECT_EQ("", ReadFileOrEmpty(dir.File("nothing.mbx")));
  EXPECT_EQ("From korvane  ",
            ReadFileOrEmpty(dir.File("tiny.mbx")).substr(0, 14));
}

TEST_F(RunTest, EmptyBaseGivesCountZero) {
  Put("empty.tbb", mkbase::FileHeader());
  ProgramResult r = Run({"empty.tbb"});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(std::regex_match(
      r.output, std::regex(std::string(kBanner) + "100%\r" +
                           "found 0 messages, time left " +
                           "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\.\n")))
      << r.output;
  EXPECT_TRUE(FileExists(dir.File("empty.mbx")));
  EXPECT_EQ("", ReadFileOrEmpty(dir.File("empty.mbx")));
}

TEST_F(RunTest, UnsupportedBaseEmptiesTheMailbox) {
  Put("notabase.tbb", std::string(5000, 'x'));
  ASSERT_TRUE(testing_support::WriteFile(dir.File("notabase.mbx"), "old"));
  ProgramResult r = Run({"notabase.tbb"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(std::string(kBanner) +
                "error: unsupported or corrupted message base\n"
                "hint: use -a switch\n",
            r.output);
  EXPECT_TRUE(FileExists(dir.File("notabase.mbx")));
  EXPECT_EQ("", ReadFileOrEmpty(dir.File("notabase.mbx")));
}

TEST_F(RunTest, CorruptedRecordWarnsOnce) {
  mkbase::BaseBuilder b;
  b.AddMessage("A: b\r\n", 1000000000u);
  b.AddMessage("", 1000000000u);
  b.AddMessage("", 1000000000u);
  mkbase::Record bad;
  bad.text = "lost";
  bad.magic = 0;
  b.AddRecord(bad);
  Put("in.tbb", b.Build());
  ProgramResult r = Run({"in.tbb"});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex("warning: possible corrupted message base\n"
                           "hint: use -a switch\nfound 1 messages, ")))
      << r.output;
}

TEST_F(RunTest, BasesThatCannotBeReadCreateNothing) {
  Put("empty.tbb", "");
  struct Case {
    std::string name;
    std::string mailbox;
  } cases[] = {{"missing.tbb", "missing.mbx"},
               {"empty.tbb", "empty.mbx"},
               {"-a", "-a.mbx"},
               {"", ".mbx"},
               {"folder.tbb", "folder.mbx"}};
#ifdef _WIN32
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("folder.tbb")));
#else
  ASSERT_EQ(0, mkdir(dir.File("folder.tbb").c_str(), 0755));
#endif
  for (const Case& c : cases) {
    ProgramResult r = Run({c.name});
    EXPECT_EQ(2, r.status) << c.name;
    EXPECT_EQ(
        std::string(kBanner) + "error: can't open " + c.name + " for read\n",
        r.output);
    EXPECT_FALSE(FileExists(dir.File(c.mailbox))) << c.mailbox;
  }
}

#ifndef _WIN32
TEST_F(RunTest, FifoAndDevicesAreRefusedWithoutHanging) {
  ASSERT_EQ(0, mkfifo(dir.File("pipe.tbb").c_str(), 0644));
  for (std::string name : {std::string("pipe.tbb"), std::string("/dev/zero"),
                           std::string("/dev/null")}) {
    ProgramResult r = Run({name, "out.mbx"});
    EXPECT_EQ(2, r.status) << name;
    EXPECT_EQ(
        std::string(kBanner) + "error: can't open " + name + " for read\n",
        r.output);
    EXPECT_FALSE(FileExists(dir.File("out.mbx")));
  }
}
#endif

TEST_F(RunTest, MailboxThatIsTheBaseUnderAnyNameIsRefused) {
  std::string base = TwoMessageBase();
  Put("base.mbx", base);
  Put("base.tbb", base);
  std::filesystem::create_hard_link(dir.File("base.tbb"), dir.File("hard"));
  std::vector<std::vector<std::string>> cases = {
      {"base.mbx"},
      {"base.tbb", "./base.tbb"},
      {"base.tbb", "base.tbb"},
      {"base.tbb", dir.File("base.tbb")},
      {"base.tbb", "hard"},
      {"hard", "base.tbb"},
  };
#ifndef _WIN32  // symbolic links need a privilege there
  ASSERT_EQ(0, symlink(dir.File("base.tbb").c_str(), dir.File("soft").c_str()));
  cases.push_back({"base.tbb", "soft"});
  cases.push_back({"soft", "base.tbb"});
#endif
  for (const auto& args : cases) {
    ProgramResult r = Run(args);
    std::string mailbox = args.size() > 1 ? args[1] : args[0];
    EXPECT_EQ(2, r.status) << args[0] << " " << mailbox;
    EXPECT_EQ(std::string(kBanner) + "error: can't open " + mailbox +
                  " for write\nhint: " + mailbox +
                  " is a message base, which is never written; name another "
                  "output\n",
              r.output);
  }
}

TEST_F(RunTest, BaseOfFourGiBIsRefused) {
  std::string name = dir.File("huge.tbb");
  ASSERT_TRUE(testing_support::WriteFile(name, mkbase::FileHeader()));
  std::filesystem::resize_file(name, uint64_t{5} << 30);  // sparse
  ProgramResult r = Run({"huge.tbb"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ(std::string(kBanner) +
                "error: can't open huge.tbb for read\n"
                "hint: message bases of 4 GiB or more are not supported\n",
            r.output);
  EXPECT_FALSE(FileExists(dir.File("huge.mbx")));
}

// Holds a file open in this process, as another program would, through the
// same calls that the program makes: POSIX share modes reach other
// processes by the layer's locks, Windows ones natively.
class HeldFile {
 public:
  HeldFile(const std::string& name, DWORD access, DWORD share)
      : handle_(CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST_F(RunTest, FilesHeldByAnotherProgram) {
  Put("in.tbb", TwoMessageBase());
  Put("out.mbx", "kept");
  const struct {
    const char* held;
    DWORD access, share;
    int status;
    const char* output;  // after the banner; empty for a run that converts
  } cases[] = {
      {"in.tbb", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 2,
       "error: can't open in.tbb for read\n"},
      {"out.mbx", GENERIC_READ, 0, 2, "error: can't open out.mbx for write\n"},
      // Readers of the base are welcome.
      {"in.tbb", GENERIC_READ, FILE_SHARE_READ, 0, ""},
  };
  for (const auto& c : cases) {
    ProgramResult r;
    {
      HeldFile held(dir.File(c.held), c.access, c.share);
      ASSERT_TRUE(held.held()) << c.held;
      r = Run({"in.tbb", "out.mbx"});
    }
    EXPECT_EQ(c.status, r.status) << c.held;
    if (*c.output != '\0') {
      EXPECT_EQ(std::string(kBanner) + c.output, r.output) << c.held;
      EXPECT_EQ("kept", ReadFileOrEmpty(dir.File("out.mbx"))) << c.held;
    } else {
      EXPECT_EQ(kTwoMessageMailbox, ReadFileOrEmpty(dir.File("out.mbx")));
      ASSERT_TRUE(testing_support::WriteFile(dir.File("out.mbx"), "kept"));
    }
  }
}

#ifndef _WIN32
TEST_F(RunTest, FullDeviceIsAWriteError) {
  // Enough messages that the mailbox outgrows any buffer on the way.
  mkbase::BaseBuilder b;
  std::string body(4000, 'x');
  for (int i = 0; i < 1000; ++i)
    b.AddMessage("Subject: " + std::to_string(i) + "\r\n\r\n" + body + "\r\n",
                 1000000000u + i);
  Put("in.tbb", b.Build());
  for (const char* sink : {"/dev/full"}) {
    ProgramResult r = Run({"in.tbb", sink});
    EXPECT_EQ(2, r.status);
    EXPECT_TRUE(std::regex_search(
        r.output,
        std::regex("found (\\d+) messages, time left [0-9:.]+\\.\n"
                   "error: can't write /dev/full: the disk is full\n$")))
        << r.output;
  }
  // A small mailbox fails only when its last block is written out.
  mkbase::BaseBuilder small;
  small.AddMessage("Subject: s\r\n\r\nx\r\n", 1000000000u);
  Put("small.tbb", small.Build());
  ProgramResult r = Run({"small.tbb", "/dev/full"});
  EXPECT_EQ(2, r.status);
  EXPECT_TRUE(std::regex_search(
      r.output,
      std::regex("found 1 messages, time left [0-9:.]+\\.\n"
                 "error: can't write /dev/full: the disk is full\n$")))
      << r.output;
}
#endif

}  // namespace

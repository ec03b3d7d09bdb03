// korvane ROOT [OUTDIR] -r, end to end with the built korvane: a tree of
// folders with names of every kind, sound and broken bases, the layout it
// gets, the same bytes per base as the single-base run, the statuses and
// the refusals. Runs under Wine too; links and permissions are POSIX cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base_builder.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using testing_support::FileExists;
using testing_support::ProgramResult;
using testing_support::ReadFileOrEmpty;
using testing_support::RunKorvaneBinary;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

// The widest folder name of the tree's table: wider on a terminal than in
// characters (a combining mark, wide letters).
const char kWideName[] = u8"Bücher Ωμε\u0301γα 日本語";

// n messages whose texts name the folder they are for.
std::string Base(const std::string& tag, int n) {
  mkbase::BaseBuilder b;
  for (int i = 0; i < n; ++i)
    b.AddMessage("Return-Path: <" + tag + "@example.org>\r\nSubject: " + tag +
                     " " + std::to_string(i) + "\r\n\r\nFrom " + tag + "\r\n" +
                     std::string(40 * i, 'x') + "\r\n",
                 1000000000u + 3600u * i);
  return b.Build();
}

// Every file below folder with its bytes, by "a/b"; the run's journal
// aside.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file() && e.path().filename() != ".korvane-run")
      files[fs::relative(e.path(), folder).u8string()] =
          ReadFileOrEmpty(e.path().u8string());
  return files;
}

std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/',
               char(fs::path::preferred_separator));
  return path;
}

class TreeTest : public ::testing::Test {
 protected:
  // A folder below ROOT ("" for ROOT) with a base of these bytes.
  void Put(const std::string& folder, const std::string& bytes) {
    fs::create_directories(fs::u8path(Root(folder)));
    ASSERT_TRUE(WriteFile(
        Root(folder.empty() ? "messages.tbb" : folder + "/messages.tbb"),
        bytes));
  }
  // UTF-8 both ways: on Windows a path made from a narrow string would
  // take it for another code page.
  std::string Root(const std::string& below = "") const {
    return (fs::u8path(dir.path()) / fs::u8path(Native("Mail/" + below)))
        .u8string();
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunKorvaneBinary(args, dir.path());
  }
  // What the single-base run makes of bytes, with these switches.
  std::string Single(const std::string& bytes,
                     const std::vector<std::string>& switches = {}) {
    TempDir scratch;
    EXPECT_TRUE(WriteFile(scratch.File("in.tbb"), bytes));
    std::vector<std::string> args = {"in.tbb", "out.mbx"};
    args.insert(args.end(), switches.begin(), switches.end());
    RunKorvaneBinary(args, scratch.path());
    return ReadFileOrEmpty(scratch.File("out.mbx"));
  }
  // The tree: outputs below OUTDIR, each with what it must hold.
  std::map<std::string, std::string> BuildTree() {
    std::map<std::string, std::string> expected;
    const std::vector<std::pair<std::string, std::string>> sound = {
        {"", "Mail"},
        {"Inbox", "Inbox"},
        {"Sent Items", "Sent Items"},
        {"Nora's $HOME mail", "Nora's $HOME mail"},
        {"v1.2 old.mail", "v1.2 old.mail"},
        {kWideName, kWideName},
        {"Archive/2001/Q1", "Archive.sbd/2001.sbd/Q1"},
        {"Archive.sbd", "Archive.sbd-2"},  // "Archive" has folders below
    };
    int n = 1;
    for (const auto& s : sound) {
      const std::string bytes = Base("m" + std::to_string(n), n);
      Put(s.first, bytes);
      expected[s.second] = Single(bytes);
      ++n;
    }
    expected["Archive"] = "";
    expected["Archive.sbd/2001"] = "";

    mkbase::BaseBuilder rejected;  // a file header the normal scan refuses
    rejected.SetFileHeader(0x20067919u, mkbase::kFileHeaderSize);
    for (int i = 0; i < 3; ++i)
      rejected.AddMessage("Date: x\r\nSubject: r\r\n\r\nbody\r\n", 1000000000u);
    Put("Rejected", rejected.Build());
    expected["Rejected"] = Single(rejected.Build(), {"-a"});

    // The walk stops at record 2, whose length runs past the end: what it
    // wrote, then the rest of the base converted as a base of its own by
    // the alternative scan (which finds the records' times in it).
    mkbase::BaseBuilder stopped;
    for (int i = 0; i < 5; ++i) {
      mkbase::Record r;
      r.text = "Return-Path: <s@example.org>\r\nSubject: s" +
               std::to_string(i) + "\r\n\r\nbody\r\n";
      r.timeStamp = 1000000000u + 60u * i;
      r.overrideLength = i == 2;
      r.length = 1u << 20;
      stopped.AddRecord(r);
    }
    const std::string image = stopped.Build();
    Put("Stopped", image);
    expected["Stopped"] =
        Single(image) + Single(image.substr(stopped.RecordOffset(2)), {"-a"});

    Put("Empty", "");
    expected["Empty"] = "";
    return expected;
  }

  TempDir dir;
};

TEST_F(TreeTest, ConvertsEveryBaseAsTheSingleRunDoesIntoTheLayout) {
  const std::map<std::string, std::string> expected = BuildTree();
  std::map<std::string, std::string> want;
  for (const auto& e : expected) want[Native(e.first)] = e.second;
  std::string twinLine = "\n";  // a second base in one folder
  int sound = 8;
#ifndef _WIN32
  // Where names differ in case: the first name takes the folder's place.
  const std::string twin = Base("t", 3);
  ASSERT_TRUE(WriteFile(Root("Inbox/MESSAGES.TBB"), twin));
  want["Inbox-2"] = want["Inbox"];
  want["Inbox"] = Single(twin);
  twinLine =
      "\nInbox/MESSAGES.TBB +3 .*\nInbox/messages.tbb +2 .* converted "
      "\\(written as Inbox-2: \"Inbox\" is taken\\)\n";
  sound = 9;
#endif
  const std::map<std::string, std::string> before = Files(Root());

  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    const std::string out = dir.File(std::string("out") + jobs);
    ProgramResult r = Run({"Mail", out, "-r", jobs});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Files(out), want);
    const std::string journal = ReadFileOrEmpty(out + "/.korvane-run");
    EXPECT_EQ(journal.substr(journal.size() - 6), "end\t0\n");
    // No progress fragments when the output is not a console.
    EXPECT_EQ(r.output.find('\r'), std::string::npos);
    for (const std::string& line : std::vector<std::string>{
             twinLine,
             "\nfolder {15}messages ",  // the columns line up
             std::string("\n") + kWideName + " {9}6 ",
             "\nRejected +3 .* alternative  recovered: the normal scan does "
             "not recognise the base\n",
             "\nStopped +\\d+ .* normal\\+alt   recovered: the normal scan "
             "stopped",
             "\nEmpty +0 +0 B  -  +empty",
             "\nArchive.sbd +8 .* converted \\(written as Archive.sbd-2: "
             "\"Archive.sbd\" is taken\\)\n",
             "\n" + std::to_string(sound + 3) +
                 " folders, \\d+ messages, .* seconds: " +
                 std::to_string(sound) +
                 " converted, 2 recovered, 1 empty, 0 failed\n$"})
      EXPECT_TRUE(std::regex_search(r.output, std::regex(line))) << line << "\n"
                                                                 << r.output;
  }
  EXPECT_EQ(Files(Root()), before);

  // Without OUTDIR: ROOT's name with "-mbox", beside ROOT.
  ProgramResult r = Run({Root() + char(fs::path::preferred_separator), "-r"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Files(dir.File("Mail-mbox")), want);
}

TEST_F(TreeTest, StatusesTellTheWorstBase) {
  Put("Inbox", Base("i", 2));
  std::string garbage(3000, 'x');
  Put("Garbage", garbage);
#ifndef _WIN32
  // Named as bases, but no regular files: told, never read, and no worse
  // a status for them. A name that would recolour the terminal.
  fs::create_directories(Root("Linked"));
  fs::create_symlink(Root("Inbox/messages.tbb"), Root("Linked/messages.tbb"));
  fs::create_directories(Root("Pipe"));
  ASSERT_EQ(0, mkfifo(Root("Pipe/messages.tbb").c_str(), 0600));
  Put("Red\x1b[31m", Base("r", 1));
#endif
  ProgramResult r = Run({"Mail", "out1", "-r"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex("\nGarbage +0 .* alternative  failed: no message "
                           "found, not even by the alternative scan\n")))
      << r.output;
#ifndef _WIN32
  for (const std::string line :
       {"\nLinked +- +- +- +skipped: not a regular file \\(a link\\)\n",
        "\nPipe +- +- +- +skipped: not a regular file \\(a FIFO, device or "
        "socket\\)\n",
        "\nRed\\\\x1b\\[31m +1 ", ", 2 skipped\n"})
    EXPECT_TRUE(std::regex_search(r.output, std::regex(line))) << line;
  EXPECT_EQ(r.output.find('\x1b'), std::string::npos);
#endif
  // It has no output; the sound base has.
  EXPECT_FALSE(FileExists(dir.File(Native("out1/Garbage"))));
  EXPECT_TRUE(FileExists(dir.File(Native("out1/Inbox"))));

#ifndef _WIN32
  // A folder that cannot be listed, and a link loop that is not followed.
  // Root reads any folder: it runs without the capabilities for that.
  fs::create_directory_symlink("..", Root("Inbox/loop"));
  fs::create_directories(Root("Locked/Inner"));
  Put("Locked/Inner", Base("l", 1));
  fs::permissions(Root("Locked"), fs::perms::none);
  std::vector<std::string> args = {KORVANE_BINARY, "Mail", "out2", "-r"};
  std::string program = KORVANE_BINARY;
  if (geteuid() == 0) {
    args.insert(args.begin(), "--bounding-set=-dac_override,-dac_read_search");
    program = "setpriv";
  } else {
    args.erase(args.begin());
  }
  r = RunProgram(program, args, dir.path());
  fs::permissions(Root("Locked"), fs::perms::owner_all);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex("\nLocked +- +- +- +failed: can't list the "
                           "folder: access denied\n")))
      << r.output;
  EXPECT_TRUE(std::regex_search(
      r.output,
      std::regex("\n3 folders, .*, 1 folders not listed, 2 skipped\n$")))
      << r.output;
  EXPECT_EQ(Files(dir.File("out2")).size(), 2u);  // Inbox, Red

  // An OUTDIR that cannot be listed is not taken for one that is not empty.
  fs::create_directories(dir.File("locked-out"));
  fs::permissions(dir.File("locked-out"), fs::perms::none);
  args[args.size() - 2] = "locked-out";
  r = RunProgram(program, args, dir.path());
  fs::permissions(dir.File("locked-out"), fs::perms::owner_all);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("error: can't list the output folder " +
                          dir.File("locked-out") + ": access denied\n"),
            std::string::npos)
      << r.output;
#endif
}

#ifndef _WIN32
TEST_F(TreeTest, FullDiskStopsTheRunAfterTheBasesInProgress) {
  mkbase::BaseBuilder big;
  for (int i = 0; i < 2000; ++i)
    big.AddMessage("Subject: big\r\n\r\n" + std::string(200, 'b') + "\r\n",
                   1000000000u);
  Put("Big", big.Build());
  Put("Small", Base("s", 2));
  ProgramResult r = RunProgram(
      "sh",
      {"-c", "ulimit -f 100 && exec env --default-signal=XFSZ \"$0\" \"$@\"",
       KORVANE_BINARY, "Mail", "out", "-r", "-j1"},
      dir.path());
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex("\nBig .* failed: can't write the output: .*\n"
                           "Small +- .* not converted: the run stopped\n"
                           ".*: 0 converted, .*, 1 failed, 1 not converted\n"
                           "error: the run stopped: .*Big: .*\n$")))
      << r.output;
}
#endif

TEST_F(TreeTest, RefusalsCreateNothing) {
  Put("Inbox", Base("i", 1));
  fs::create_directories(dir.File("full"));
  ASSERT_TRUE(WriteFile(dir.File(Native("full/x")), "x"));
  ASSERT_TRUE(WriteFile(dir.File("file"), "x"));
#ifndef _WIN32
  fs::create_directory_symlink("Mail", dir.File("to-mail"));
  fs::create_directory_symlink("Mail/Inbox", dir.File("to-inbox"));
#endif
  const std::map<std::string, std::string> before = Files(dir.path());
  const struct {
    std::vector<std::string> args;
    int status;
    std::string error;  // "" for the usage text
  } kCases[] = {
      {{"Mail", "full", "-r"}, 2, "exists and is not an empty folder"},
      {{"Mail", "file", "-r"}, 2, "exists and is not an empty folder"},
      {{"Mail", Native("Mail/out"), "-r"}, 2, "lies inside"},
      {{"Mail", "Mail", "-r"}, 2, "lies inside"},
      {{Native("Mail/Inbox"), ".", "-r"}, 2, "lies inside the output folder"},
#ifndef _WIN32
      {{"Mail", "to-mail/out", "-r"}, 2, "/to-mail/out (" + dir.path()},
      {{"to-inbox", "Mail", "-r"}, 2, "Inbox) lies inside the output folder"},
#endif
      {{"missing", "out", "-r"}, 2, "can't open missing: "},
      {{Native("Mail/Inbox/messages.tbb"), "out", "-r"}, 2, "is not a folder"},
      {{"Mail", "out", "-j2"}, 1, ""},
      {{"Mail", "out", "-r", "-j65"}, 1, ""},
  };
  for (const auto& c : kCases) {
    ProgramResult r = Run(c.args);
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.error.empty() ? "usage: " : "error: "),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find(c.error), std::string::npos) << r.output;
    EXPECT_EQ(Files(dir.path()), before);
    EXPECT_FALSE(FileExists(dir.File("out")));
  }
}

}  // namespace

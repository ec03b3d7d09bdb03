// A tree run cut off and run again, end to end with the built korvane:
// killed or interrupted at several points, the rerun carries on and leaves
// exactly what a run that was never cut off leaves, nothing twice; a run
// that went through is not done again; an OUTDIR that holds another run is
// refused, unchanged. And names swapped for links under a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "base_builder.h"
#include "test_support.h"

#ifndef _WIN32
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using testing_support::OutputTree;
using testing_support::ProgramResult;
using testing_support::ReadFileOrEmpty;
using testing_support::ReadOutputTree;
using testing_support::RunKorvaneBinary;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Base(int messages, size_t size) {
  return mkbase::UniformBase(messages, size, 3600u);
}

class RerunTest : public ::testing::Test {
 protected:
  // One big base, which is still converted when the small ones are done,
  // the Inbox (the Maildir++ top folder), a hierarchy and an empty base.
  void SetUp() override {
    Put("Big", Base(1000, 6000));
    Put("Inbox", Base(50, 500));
    Put("Archive/2001", Base(40, 300));
    for (int i = 1; i <= 6; ++i)
      Put("Small" + std::to_string(i), Base(30, 200));
    Put("Empty", "");
  }
  void Put(const std::string& folder, const std::string& bytes) {
    fs::create_directories(dir.File("Mail/" + folder));
    ASSERT_TRUE(WriteFile(dir.File("Mail/" + folder + "/messages.tbb"), bytes));
  }
  ProgramResult Run(std::vector<std::string> args, bool maildir) {
    if (maildir) args.push_back("-m");
    return RunKorvaneBinary(args, dir.path());
  }
  OutputTree Outputs(const std::string& out, int* leftovers) {
    return ReadOutputTree(dir.File(out), leftovers);
  }
#ifndef _WIN32
  // korvane Mail out -r jobs [kind] started, its console into console;
  // niced unless the test watches it in the real-time class (Watcher).
  pid_t Start(const std::string& out, const char* jobs, const char* kind,
              bool realTime, const std::string& console = "/dev/null") {
    const pid_t child = fork();
    if (child == 0) {
      // Behind the test for the processor, which on a loaded machine could
      // otherwise leave it to run on unseen for a long time.
      if (!realTime && setpriority(PRIO_PROCESS, 0, 19) != 0) _exit(126);
      if (chdir(dir.path().c_str()) == 0 &&
          freopen(console.c_str(), "w", stdout) != nullptr)
        execl(KORVANE_BINARY, KORVANE_BINARY, "Mail", out.c_str(), "-r", jobs,
              kind, nullptr);
      _exit(127);
    }
    return child;
  }
#endif

  TempDir dir;
};

#ifndef _WIN32
enum Point {
  kJournal,  // the journal exists: the layout, or the first bases
  kWriting,  // an output is being written (a partial file, a message)
  kHalf,     // three bases are done (mostly while the big one is not)
  kRows,     // the inventory holds rows of the big base, which is not done
};

// Whether the run into out has come to point.
bool At(Point point, const std::string& out) {
  std::error_code error;
  if (point == kJournal) return fs::exists(out + "/.korvane-run", error);
  if (point == kRows) {
    return ReadFileOrEmpty(out + "/inventory.csv").find("\nBig,") !=
               std::string::npos &&
           ReadFileOrEmpty(out + "/.korvane-run").find("\ndone\tBig\t") ==
               std::string::npos;
  }
  if (point == kHalf) {
    const std::string journal = ReadFileOrEmpty(out + "/.korvane-run");
    size_t done = 0;
    for (size_t at = 0; (at = journal.find("\ndone\t", at)) != journal.npos;
         ++at)
      ++done;
    return done >= 3;
  }
  for (fs::recursive_directory_iterator e(out, error), end; !error && e != end;
       e.increment(error)) {
    const std::string name = e->path().filename().string();
    const std::string in = e->path().parent_path().filename().string();
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0)
      return true;
    if (in == "cur" || in == "new" || in == "tmp") return true;
  }
  return false;
}

// While it lives, this thread and the runs it starts share one processor,
// and the thread runs ahead of them there: in the real-time class where the
// system lets it (as root), else with the runs niced (Start). A held run
// then gets the processor only while StopWhen pauses between two looks, and
// no longer, however busy the machine: a run on another processor could go
// on while the test waits for its turn, and a virtual machine's processors
// are themselves taken away at times.
class Watcher {
 public:
  Watcher() : policy(sched_getscheduler(0)) {
    sched_getparam(0, &param);
    CPU_ZERO(&processors);
    cpu_set_t here;
    CPU_ZERO(&here);
    const int cpu = sched_getcpu();
    if (cpu >= 0 && sched_getaffinity(0, sizeof processors, &processors) == 0) {
      CPU_SET(cpu, &here);
      pinned = sched_setaffinity(0, sizeof here, &here) == 0;
    }
    struct sched_param first = {};
    first.sched_priority = 1;
    realTime =
        sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &first) == 0;
  }
  ~Watcher() {
    if (realTime) sched_setscheduler(0, policy, &param);
    if (pinned) sched_setaffinity(0, sizeof processors, &processors);
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  bool realTime = false;

 private:
  const int policy;
  struct sched_param param = {};
  cpu_set_t processors;
  bool pinned = false;
};

// Lets the child run on in short steps until there() holds, looking only
// while it is stopped, so that it cannot pass the point unseen. True with
// the child stopped there; false, with its *status, when it ended first.
bool StopWhen(pid_t child, const std::function<bool()>& there, int* status) {
  for (;;) {
    usleep(100);
    kill(child, SIGSTOP);
    if (waitpid(child, status, WUNTRACED) != child || !WIFSTOPPED(*status))
      return false;
    if (there()) return true;
    kill(child, SIGCONT);
  }
}

// The mbox runs keep an inventory too: the rerun's has every row once.
TEST_F(RerunTest, CutOffRunsCarryOnToTheSameOutputs) {
  OutputTree reference[2];
  for (bool maildir : {false, true}) {
    const std::string out = maildir ? "ref-m" : "ref";
    ASSERT_EQ(
        Run({"Mail", out, "-r", "-j2", maildir ? "-d" : "-l"}, maildir).status,
        0);
    int leftovers = 0;
    reference[maildir] = Outputs(out, &leftovers);
  }
  const struct {
    bool maildir;
    int signal;
    Point point;
  } kCases[] = {
      {false, SIGKILL, kJournal}, {false, SIGKILL, kWriting},
      {false, SIGKILL, kHalf},    {false, SIGINT, kWriting},
      {false, SIGKILL, kRows},    {true, SIGKILL, kJournal},
      {true, SIGKILL, kWriting},  {true, SIGKILL, kHalf},
      {true, SIGINT, kHalf},
  };
  int n = 0;
  for (const auto& c : kCases) {
    const std::string out = "out" + std::to_string(n++);
    SCOPED_TRACE(out);
    int status = 0;
    {
      Watcher watcher;
      const pid_t child =
          Start(out, "-j2", c.maildir ? "-m" : "-l", watcher.realTime);
      ASSERT_GE(child, 0);
      if (StopWhen(
              child, [&] { return At(c.point, dir.File(out)); }, &status)) {
        kill(child, c.signal);
        kill(child, SIGCONT);
        ASSERT_EQ(waitpid(child, &status, 0), child);
      }
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was cut off";
    // What has its name is whole already.
    int leftovers = 0;
    const OutputTree cut = Outputs(out, &leftovers);
    const OutputTree& all = reference[c.maildir];
    for (const auto& place : cut) {
      ASSERT_EQ(all.count(place.first), 1u) << place.first;
      EXPECT_TRUE(std::includes(all.at(place.first).begin(),
                                all.at(place.first).end(), place.second.begin(),
                                place.second.end()))
          << place.first;
    }

    const char* inventory = c.maildir ? "-d" : "-l";
    ProgramResult r = Run({"Mail", out, "-r", "-j2", inventory}, c.maildir);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("carrying on the run in "), std::string::npos)
        << r.output;
    if (c.point == kHalf) {
      EXPECT_NE(r.output.find("done before\n"), std::string::npos) << r.output;
    }
    leftovers = 0;
    EXPECT_EQ(Outputs(out, &leftovers), all);
    EXPECT_EQ(leftovers, 0);

    r = Run({"Mail", out, "-r", inventory}, c.maildir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("nothing to do"), std::string::npos) << r.output;
    EXPECT_EQ(Outputs(out, &leftovers), all);
  }
}

// Names swapped for links under a running tree run: a place below OUTDIR,
// and OUTDIR itself. The run writes on through the folders it opened,
// follows neither link and says so; nothing reaches the links' targets.
TEST_F(RerunTest, NamesSwappedForLinksSendNothingOutside) {
  TempDir outside;
  const std::string out = dir.File("out");
  Watcher watcher;
  const pid_t child =
      Start("out", "-j1", nullptr, watcher.realTime, dir.File("console"));
  ASSERT_GE(child, 0);
  // Big, the biggest base, goes first; held while the names are swapped.
  int status = 0;
  ASSERT_TRUE(StopWhen(
      child, [&] { return fs::exists(out + "/.Big.partial"); }, &status))
      << "ended before";
  fs::rename(out + "/Archive.sbd", out + "/Archive.sbd.moved");
  fs::create_directory_symlink(outside.path(), out + "/Archive.sbd");
  fs::rename(out, out + ".moved");
  fs::create_directory_symlink(outside.path(), out);
  kill(child, SIGCONT);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
  EXPECT_TRUE(fs::is_empty(outside.path()));
  const std::string console = ReadFileOrEmpty(dir.File("console"));
  EXPECT_TRUE(std::regex_search(
      console, std::regex("\nArchive/2001 .* failed: can't create the "
                          "output: it is a symbolic link, which is not "
                          "followed\n")))
      << console;
  EXPECT_GT(fs::file_size(out + ".moved/Big"), 6000000u);
}
#endif

// Each refused rerun names what differs and changes nothing in OUTDIR.
TEST_F(RerunTest, AnOutputFolderOfAnotherRunIsRefused) {
  ASSERT_EQ(Run({"Mail", "done", "-r"}, false).status, 0);
  fs::copy(dir.File("Mail"), dir.File("Copy"), fs::copy_options::recursive);
  // A run cut off after its layout: the journal has no end.
  fs::copy(dir.File("done"), dir.File("cut"), fs::copy_options::recursive);
  std::string journal = ReadFileOrEmpty(dir.File("cut/.korvane-run"));
  journal.erase(journal.rfind("end\t"));
  ASSERT_TRUE(WriteFile(dir.File("cut/.korvane-run"), journal));
  fs::create_directories(dir.File("bad"));
  ASSERT_TRUE(WriteFile(dir.File("bad/.korvane-run"), "korvane-run 1\nx\n"));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string said;
  } kCases[] = {
      {{"Mail", "done", "-r"}, 0, "nothing to do (it ended with status 0)"},
      {{"Mail", "done", "-r", "-m"},
       2,
       "holds a run into another kind of output, mbox;"},
      {{"Mail", "done", "-r", "-a"},
       2,
       "holds a run with another scan, normal (this one: alternative "},
      {{"Copy", "done", "-r"}, 2, "holds a run from another folder, "},
      {{"Mail", "bad", "-r"}, 2, "that cannot be read: it is not one"},
      // Last: a base ROOT did not have.
      {{"Mail", "cut", "-r"}, 2, "are not those of that run (New"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.said);
    if (c.args[1] == "cut") Put("New", Base(1, 10));
    int leftovers = 0;
    const OutputTree before = Outputs(c.args[1], &leftovers);
    const std::string journal =
        ReadFileOrEmpty(dir.File(c.args[1] + "/.korvane-run"));
    ProgramResult r = Run(c.args, false);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    EXPECT_EQ(Outputs(c.args[1], &leftovers), before);
    EXPECT_EQ(ReadFileOrEmpty(dir.File(c.args[1] + "/.korvane-run")), journal);
  }
}

}  // namespace

// The run as a library, told as events: the order and thread of the
// events, a cancel that leaves a tree for its rerun to carry on, and a
// survey that counts what a run writes.
#include "run/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base_builder.h"
#include "kinds/output_kind.h"
#include "run/event_log.h"
#include "run/run_status.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::OutputTree;
using testing_support::ReadFileOrEmpty;
using testing_support::ReadOutputTree;
using testing_support::TempDir;
using testing_support::WriteFile;

// Every event as a word, with the thread it came on.
class Recorder : public RunEvents {
 public:
  void EarlierRun(const EarlierRunInfo& e) override {
    Add("earlier " + std::to_string(e.doneBefore));
  }
  void Planned(const RunPlan& p) override {
    Add("planned " + std::to_string(p.basesToConvert));
  }
  void BaseStarted(const BaseEvent& b) override {
    Add("started " + b.folder->path);
    if (cancelAt == b.folder->path) cancel.store(true);
  }
  void BaseFinished(const BaseEvent& b) override {
    Add("finished " + b.folder->path);
  }
  void Error(const Status& e) override { Add("error " + e.Text()); }
  void Finished(const RunReport& r) override {
    Add("end " + std::to_string(r.status));
    report = r;
    if (r.folders != nullptr) folders = *r.folders;
  }
  void Add(const std::string& event) {
    EXPECT_EQ(std::this_thread::get_id(), caller) << event;
    events.push_back(event);
  }

  std::thread::id caller = std::this_thread::get_id();
  std::vector<std::string> events;
  RunReport report;
  TreeFolders folders;
  std::string cancelAt;  // cancel as this folder's base starts
  std::atomic<bool> cancel{false};
};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Big first: the run takes the biggest base first.
    for (const char* folder : {"Mail/Big", "Mail/Small"})
      fs::create_directories(dir.File(folder));
    ASSERT_TRUE(WriteFile(dir.File("Mail/Big/messages.tbb"),
                          mkbase::UniformBase(200, 2000, 60u)));
    ASSERT_TRUE(WriteFile(dir.File("Mail/Small/messages.tbb"),
                          mkbase::UniformBase(3, 300, 60u)));
  }

  RunRequest Tree(const std::string& out) {
    RunRequest request;
    request.source = dir.File("Mail");
    request.destination = dir.File(out);
    request.tree = true;
    request.jobs = 1;
    return request;
  }

  TempDir dir;
};

TEST_F(RunTest, EventsComeInOrderOnTheCallersThread) {
  Recorder told;
  EXPECT_EQ(ExecuteRun(Tree("out"), &told), kRunDone);
  const std::vector<std::string> expected = {"planned 2",      "started Big",
                                             "finished Big",   "started Small",
                                             "finished Small", "end 0"};
  EXPECT_EQ(told.events, expected);
  EXPECT_TRUE(told.report.planned && told.report.tree);

  // A refusal before anything is made: an error, and no plan.
  Recorder refused;
  RunRequest inside = Tree("Mail/Big/out");
  EXPECT_EQ(ExecuteRun(inside, &refused), kRunFailed);
  ASSERT_EQ(refused.events.size(), 2u);
  EXPECT_NE(refused.events[0].find("lies inside"), std::string::npos);
  EXPECT_FALSE(refused.report.planned);
}

// Threads of this process as Linux counts them; 0 elsewhere (under Wine a
// path of /proc is not this process's).
size_t ThreadsNow() {
#ifdef __linux__
  std::error_code error;
  size_t threads = 0;
  for (fs::directory_iterator i("/proc/self/task", error);
       !error && i != fs::directory_iterator(); i.increment(error))
    ++threads;
  return error ? 0 : threads;
#else
  return 0;
#endif
}

// The console's way in runs a base on the caller's own thread, which saves
// the C library's costlier path for a process of several threads on every
// file of a Maildir: the same events, all on that thread, and no thread
// more than before the run while the base is written (a sanitizer may keep
// one of its own).
TEST_F(RunTest, ABaseRunHereIsToldAsOneRunOnItsOwnThread) {
  struct Counter : Recorder {
    void BaseFinished(const BaseEvent& b) override {
      threads = ThreadsNow();
      Recorder::BaseFinished(b);
    }
    size_t threads = 0;
  };
  std::vector<std::string> told[2];
  for (int here = 0; here < 2; ++here) {
    RunRequest request;
    request.source = dir.File("Mail/Big/messages.tbb");
    request.destination = dir.File("out" + std::to_string(here));
    request.kind = OutputKindOfLetter('m');
    Counter counter;
    const size_t before = ThreadsNow();
    EXPECT_EQ((here ? ExecuteRunHere : ExecuteRun)(request, &counter),
              kRunDone);
    told[here] = counter.events;
    if (before != 0) {
      EXPECT_EQ(counter.threads == before, here == 1);
    }
  }
  EXPECT_EQ(told[0], told[1]);
  EXPECT_EQ(told[1].back(), "end 0");
}

// Cancelled as a base starts: that base stops before its output has a name,
// the journal stays open, and the next run carries on to the outputs of a
// run never cancelled.
TEST_F(RunTest, ACancelledTreeIsCarriedOnByTheNextRun) {
  Recorder reference;
  ASSERT_EQ(ExecuteRun(Tree("ref"), &reference), kRunDone);
  int leftovers = 0;
  const OutputTree all = ReadOutputTree(dir.File("ref"), &leftovers);

  for (const char* at : {"Big", "Small"}) {
    SCOPED_TRACE(at);
    const std::string out = std::string("out-") + at;
    Recorder cut;
    cut.cancelAt = at;
    RunRequest request = Tree(out);
    request.cancel = &cut.cancel;
    ExecuteRun(request, &cut);
    EXPECT_TRUE(cut.report.cancelled);
    EXPECT_EQ(ReadFileOrEmpty(dir.File(out + "/.korvane-run")).find("\nended"),
              std::string::npos);
    leftovers = 0;
    const OutputTree part = ReadOutputTree(dir.File(out), &leftovers);
    EXPECT_EQ(leftovers, 0);
    EXPECT_EQ(part.size(), std::string(at) == "Big" ? 0u : 1u);
    for (const auto& place : part) EXPECT_EQ(place.second, all.at(place.first));

    Recorder rerun;
    EXPECT_EQ(ExecuteRun(Tree(out), &rerun), kRunDone);
    EXPECT_EQ(rerun.events.front(),
              std::string("earlier ") + (std::string(at) == "Big" ? "0" : "1"));
    EXPECT_EQ(ReadOutputTree(dir.File(out), &leftovers), all);
    EXPECT_EQ(leftovers, 0);
  }
}

// What a survey finds is what the run writes: the messages of each base,
// a damaged base recovered, a link skipped; nothing is made.
TEST_F(RunTest, ASurveyCountsWhatTheRunWrites) {
  fs::create_directories(dir.File("Mail/Damaged"));
  mkbase::BaseBuilder damaged;
  damaged.AddMessage("Subject: one\r\n\r\nbody\r\n", 1000000000u);
  mkbase::Record broken;
  broken.text = "lost";
  broken.magic = 0;
  damaged.AddRecord(broken);
  damaged.AddMessage("Subject: two\r\n\r\nbody\r\n", 1000000000u);
  ASSERT_TRUE(
      WriteFile(dir.File("Mail/Damaged/messages.tbb"), damaged.Build()));
#ifndef _WIN32
  // Windows makes no such link without special rights; Wine none at all.
  fs::create_directories(dir.File("Mail/Linked"));
  fs::create_symlink(dir.File("Mail/Big/messages.tbb"),
                     dir.File("Mail/Linked/messages.tbb"));
#endif

  Recorder survey;
  RunRequest request = Tree("never");
  request.jobs = 2;
  EXPECT_EQ(SurveySource(request, &survey), kRunDone);
  EXPECT_FALSE(fs::exists(dir.File("never")));
  Recorder run;
  EXPECT_EQ(ExecuteRun(Tree("out"), &run), kRunDone);

  ASSERT_EQ(survey.folders.size(), run.folders.size());
  for (size_t i = 0; i < run.folders.size(); ++i) {
    const TreeFolder& s = survey.folders[i];
    const TreeFolder& r = run.folders[i];
    SCOPED_TRACE(r.path);
    EXPECT_EQ(s.result.messages, r.result.messages);
    EXPECT_EQ(s.result.recovered, r.result.recovered);
    EXPECT_EQ(s.skippedName, r.skippedName);
    EXPECT_EQ(s.result.recovered, r.path == "Damaged");
    EXPECT_EQ(!s.skippedName.empty(), r.path == "Linked");
  }
}

}  // namespace

// The log: one JSON object per event, each line whole, whatever bytes the
// names hold.
TEST_F(RunTest, TheLogIsOneJsonObjectPerEvent) {
#ifdef _WIN32
  // Windows names hold no control characters and are always Unicode;
  // this test program runs in the system's code page, not the programs'
  // UTF-8 one, so its names stay ASCII.
  const std::string odd = "odd [2J 'name'";
  const std::string expectedPath = odd;
#else
  const std::string odd = "odd\x1b[2J\xff\xfe";
  // The escape stays an escape; each bad byte is U+FFFD.
  const std::string expectedPath = "odd\x1b[2J\xef\xbf\xbd\xef\xbf\xbd";
#endif
  // Written under a plain name and moved: the path functions take UTF-8
  // where narrow file streams take the system's code page.
  ASSERT_TRUE(
      WriteFile(dir.File("plain.tbb"), mkbase::UniformBase(2, 100, 60u)));
  fs::create_directories(fs::u8path(dir.File("Mail/" + odd)));
  fs::rename(dir.File("plain.tbb"),
             fs::u8path(dir.File("Mail/" + odd + "/messages.tbb")));
  Status failure;
  std::unique_ptr<EventLog> log =
      EventLog::Create(RealFileSystem(), dir.File("run.jsonl"), &failure);
  ASSERT_TRUE(log) << failure.Text();
  Recorder told;
  EventFanOut both({&told, log.get()});
  EXPECT_EQ(ExecuteRun(Tree("out"), &both), kRunDone);
  EXPECT_TRUE(log->Close().IsOk());

  std::vector<std::string> events;
  std::string oddPath;
  const std::string text = ReadFileOrEmpty(dir.File("run.jsonl"));
  for (size_t at = 0, end; (end = text.find('\n', at)) != text.npos;
       at = end + 1) {
    const nlohmann::json line =
        nlohmann::json::parse(text.substr(at, end - at));
    const std::string event = line.at("event");
    if (event == "progress") continue;  // as many as the clock gives
    events.push_back(event);
    if (event == "base-finished" && line.at("path") != "Big" &&
        line.at("path") != "Small")
      oddPath = line.at("path");
  }
  const std::vector<std::string> expected = {
      "planned",      "base-started",  "scan",          "base-finished",
      "base-started", "scan",          "base-finished", "base-started",
      "scan",         "base-finished", "finished"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(oddPath, expectedPath);
}

// A provider's daily limit ends a run with a status of its own, unless
// something else failed; the bases it kept from their turn wait.
TEST(RunStatusTest, ADailyLimitIsNoFailure) {
  auto Base = [](TreeBaseState state, ConversionOutcome outcome,
                 bool dailyLimit) {
    TreeFolder f;
    f.baseName = "messages.tbb";
    f.state = state;
    f.result.outcome = outcome;
    f.result.tallied = true;
    f.result.tally.dailyLimit = dailyLimit;
    return f;
  };
  const TreeFolder done =
      Base(TreeBaseState::kDone, ConversionOutcome::kConverted, false);
  const TreeFolder stopped =
      Base(TreeBaseState::kDone, ConversionOutcome::kCantWriteOutput, true);
  const TreeFolder waiting =
      Base(TreeBaseState::kNotStarted, ConversionOutcome::kConverted, false);
  const TreeFolder failed =
      Base(TreeBaseState::kDone, ConversionOutcome::kCantOpenBase, false);
  const struct {
    TreeFolders folders;
    bool stopped;
    int status;
  } kCases[] = {
      {{done, stopped, waiting}, true, kRunDailyLimit},
      {{done, stopped, failed}, true, kRunFailed},
      {{done, waiting}, true, kRunFailed},
      {{done}, false, kRunDone},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(TreeStatus(c.folders, c.stopped), c.status);
  EXPECT_EQ(StatusOfBase(stopped.result), kRunDailyLimit);
}

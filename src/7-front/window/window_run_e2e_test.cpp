// The window's model with the real run behind it, as korvanew.exe has it
// but on any system: the survey and the run on their threads, their events
// through the queue. A run stopped and started again on the same choices
// leaves what the command line leaves.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "base_builder.h"
#include "test_support.h"
#include "window/run_thread.h"

namespace fs = std::filesystem;

namespace {

using testing_support::OutputTree;
using testing_support::ReadOutputTree;
using testing_support::RunKorvaneBinary;
using testing_support::TempDir;
using testing_support::WriteFile;

// The window's thread, played by the test: it waits for a wake, then runs
// what was posted.
class WindowThread {
 public:
  WindowThread()
      : queue([this] {
          std::lock_guard<std::mutex> lock(mutex);
          woken = true;
          wake.notify_one();
        }),
        threads(&model, &queue, [](ModelChange, size_t) {}) {}

  // Runs the posted tasks until done() holds; false after a minute.
  template <typename Done>
  bool Until(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
      std::unique_lock<std::mutex> lock(mutex);
      if (!wake.wait_until(lock, end, [this] { return woken; })) return false;
      woken = false;
      lock.unlock();
      queue.Drain();
    }
    return true;
  }

  WindowModel model;
  std::mutex mutex;
  std::condition_variable wake;
  bool woken = false;
  UiQueue queue;
  RunThreads threads;
};

TEST(WindowRunTest, AStoppedRunStartedAgainLeavesWhatTheCommandLineLeaves) {
  TempDir dir;
  auto put = [&dir](const std::string& folder, const std::string& bytes) {
    fs::create_directories(dir.File("Mail/" + folder));
    ASSERT_TRUE(WriteFile(dir.File("Mail/" + folder + "/messages.tbb"), bytes));
  };
  put("Inbox", mkbase::UniformBase(400, 2000, 3600));
  put("Archive/2001", mkbase::UniformBase(50, 300, 3600));
  put("Empty", "");
  // Not a base at all: found, and failed, by both.
  put("Noise", std::string(5000, 'x'));

  WindowThread window;
  WindowModel& model = window.model;
  int runs = 1;
  const uint64_t ticket = model.ChooseSource(dir.File("Mail"));
  window.threads.StartSurvey(ticket);
  ASSERT_TRUE(window.Until([&] { return model.Survey().counted; }));
  const SurveyTotals totals = TotalsOf(model.Survey());
  EXPECT_EQ(totals.bases, 3);
  EXPECT_EQ(totals.unreadable, 1);
  EXPECT_EQ(totals.messages, 450);

  ASSERT_TRUE(model.Next());  // the destination: folders for Thunderbird
  model.SetInventory(true);
  ASSERT_TRUE(model.Next());  // Start
  window.threads.StartRun("");
  // Stopped wherever it is: the first base or the last.
  model.StopRequested();
  window.threads.StopRun();
  ASSERT_TRUE(window.Until([&] { return !model.Running(); }));
  if (model.CurrentPage() == Page::kConvert) {
    EXPECT_TRUE(model.Run().report.cancelled);
    ASSERT_TRUE(model.Next());  // Start again, on the same choices
    window.threads.StartRun("");
    ++runs;
    ASSERT_TRUE(window.Until([&] { return !model.Running(); }));
  }
  ASSERT_EQ(model.CurrentPage(), Page::kDone) << model.RunNotes();
  EXPECT_EQ(model.Title(), "Done, with problems");
  EXPECT_EQ(OutcomeRows(model.Run()).size(), 4u);

  // The report: each run's events as --log writes them, one object a line.
  std::istringstream report(model.Report());
  int finished = 0;
  for (std::string line; std::getline(report, line);)
    finished += nlohmann::json::parse(line).at("event") == "finished";
  EXPECT_EQ(finished, runs);

  ASSERT_EQ(RunKorvaneBinary({"Mail", "cli", "-r", "-l"}, dir.path()).status,
            1);
  int leftovers = 0, cliLeftovers = 0;
  const OutputTree windowOutput =
      ReadOutputTree(dir.File("Mail-mbox"), &leftovers);
  EXPECT_EQ(leftovers, 0);
  EXPECT_EQ(windowOutput, ReadOutputTree(dir.File("cli"), &cliLeftovers));
  std::string places;
  for (const auto& place : windowOutput) places += place.first + " ";
  EXPECT_EQ(places, "Archive Archive.sbd/2001 Empty Inbox inventory.csv ");
}

}  // namespace

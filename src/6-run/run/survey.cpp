// What a run would find: the walk and a scan of every base that counts
// its messages, with nothing written.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "io/paths.h"
#include "run/run_context.h"
#include "run/run_places.h"
#include "run/run_status.h"
#include "tree/tree_runner.h"

namespace {

// One base's scan, told as the run's events.
class SurveyProgress : public ConversionProgress {
 public:
  SurveyProgress(RunContext* run, size_t index) : run(run), index(index) {}
  void ScanStarting(ScanKind scan) override {
    BaseEvent base;
    base.index = index;
    base.folder = &run->folders[index];
    run->events->ScanStarting(base, scan);
  }
  void Advanced(unsigned, uint64_t bytesDone, uint64_t) override {
    bytes.store(bytesDone, std::memory_order_relaxed);
  }
  std::atomic<uint64_t> bytes{0};

 private:
  RunContext* const run;
  const size_t index;
};

class Survey {
 public:
  Survey(RunContext* run, const Folder* root) : run(run), root(root) {}

  // Scans every base waiting, jobs at once, biggest first.
  void Go() {
    const TreeFolders& folders = run->folders;
    for (size_t i = 0; i < folders.size(); ++i)
      if (folders[i].state == TreeBaseState::kWaiting) order.push_back(i);
    // As a run takes them: the biggest first.
    std::stable_sort(order.begin(), order.end(),
                     [&folders](size_t a, size_t b) {
                       return folders[a].baseSize > folders[b].baseSize;
                     });
    for (size_t i : order) total += run->folders[i].baseSize;
    const size_t wanted = std::min(
        order.size(), static_cast<size_t>(std::max(run->concurrency.jobs, 1)));
    start = GetTickCount();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < wanted; ++i) {
      try {
        threads.emplace_back(&Survey::Work, this);
        std::lock_guard<std::mutex> lock(mutex);
        ++running;
      } catch (const std::system_error&) {
        break;
      }
    }
    if (threads.empty() && !order.empty()) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++running;
      }
      Work();
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(200),
                              [this] { return running == 0; })) {
      lock.unlock();
      Tell();
      lock.lock();
    }
    lock.unlock();
    for (std::thread& t : threads) t.join();
    Tell();
  }

 private:
  void Work() {
    for (;;) {
      size_t index;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (run->Cancelled() || next == order.size()) break;
        index = order[next++];
      }
      Scan(index);
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished.notify_all();
  }

  void Scan(size_t index) {
    TreeFolder& folder = run->folders[index];
    BaseEvent base;
    base.index = index;
    base.folder = &folder;
    run->events->BaseStarted(base);
    SurveyProgress progress(run, index);
    {
      std::lock_guard<std::mutex> lock(mutex);
      inProgress.push_back(&progress);
    }
    ConversionOptions options;
    options.alternativeScan = run->request.scan.alternative;
    options.minHeaderSize = run->request.scan.minHeaderSize;
    options.compatibilityLevel = run->request.scan.compatibilityLevel;
    options.recover = run->request.tree || run->request.recover;
    options.destination = run->destination.get();
    options.countOnly = true;
    options.cancel = run->request.cancel;
    options.fs = run->fs;
    ConversionResult result;
    FolderBelow place;
    const DWORD error = root != nullptr
                            ? place.Open(run->fs, *root, folder.path)
                            : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) {
      result.outcome = ConversionOutcome::kCantOpenBase;
      result.failure = Status::System(error);
    } else {
      options.baseFolder = root != nullptr ? &place.get() : nullptr;
      result = ConvertBase(folder.baseName.c_str(), "", options, &progress);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      inProgress.erase(
          std::find(inProgress.begin(), inProgress.end(), &progress));
      folder.result = std::move(result);
      folder.state = TreeBaseState::kDone;
      if (root == nullptr) folder.baseSize = folder.result.bytesRead;
      ++basesDone;
      bytesDone += folder.baseSize;
      messages += uint64_t(folder.result.messages);
    }
    run->events->BaseFinished(base);
  }

  void Tell() {
    RunProgress p;
    {
      std::lock_guard<std::mutex> lock(mutex);
      p.basesDone = basesDone;
      p.bytesDone = bytesDone;
      for (const SurveyProgress* s : inProgress)
        p.bytesDone += s->bytes.load(std::memory_order_relaxed);
      p.messagesDone = messages;
    }
    p.basesTotal = static_cast<int>(order.size());
    p.bytesTotal = total;
    p.bytesDone = std::min(p.bytesDone, p.bytesTotal);
    p.percent = PercentOf(p.bytesDone, p.bytesTotal);
    p.seconds = (GetTickCount() - start) / 1000.0;
    run->events->Progress(p);
  }

  RunContext* const run;
  const Folder* const root;  // null: a single base, by its name
  std::vector<size_t> order;
  uint64_t total = 0;
  DWORD start = 0;

  std::mutex mutex;  // guards what follows
  std::condition_variable finished;
  size_t next = 0;
  int running = 0;
  int basesDone = 0;
  uint64_t bytesDone = 0;
  uint64_t messages = 0;
  std::vector<SurveyProgress*> inProgress;
};

}  // namespace

int RunSourceSurvey(RunContext* run) {
  const RunRequest& request = run->request;
  Places places;
  RunPlan plan;
  plan.tree = request.tree;
  plan.kind = &run->kind;
  if (request.tree) {
    const Status status = OpenRoot(run->fs, request.source, &places);
    if (!status.IsOk()) return run->Fail(status);
    DWORD error = 0;
    if (!DiscoverTree(run->fs, *places.rootFolder, &run->folders, &error))
      return run->Fail(
          Status::System(error).Within("can't list " + places.root));
    plan.source = places.root;
  } else {
    TreeFolder base;
    base.baseName = request.source;
    run->folders.push_back(base);
    plan.source = request.source;
  }
  // Every base has a turn; none has a place.
  for (TreeFolder& f : run->folders) {
    if (!f.HasBase()) continue;
    f.state = TreeBaseState::kWaiting;
    ++plan.basesToConvert;
    plan.bytesToConvert += f.baseSize;
  }
  plan.jobs = std::max(std::min(run->concurrency.jobs, plan.basesToConvert), 1);
  run->Plan(plan);
  const DWORD start = GetTickCount();
  Survey survey(run, places.rootFolder.get());
  survey.Go();
  MarkNotStarted(&run->folders);
  run->report.cancelled = run->Cancelled();
  run->report.seconds = (GetTickCount() - start) / 1000.0;
  int bases = 0;
  for (const TreeFolder& f : run->folders) bases += f.HasBase();
  return run->Finish(bases == 0 ? kRunNothingFound
                                : TreeStatus(run->folders, false));
}

#include "tree/tree_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "io/paths.h"
#include "kinds/output_kind.h"
#include "tree/run_journal.h"

namespace {

// One worker's view of the base it is converting.
class WorkerProgress : public ConversionProgress {
 public:
  void ScanStarting(ScanKind scan) override {
    if (told != nullptr) told->ScanStarting(index, scan);
  }
  void Advanced(unsigned, uint64_t bytesDone, uint64_t count) override {
    bytes.store(bytesDone, std::memory_order_relaxed);
    messages.store(count, std::memory_order_relaxed);
  }
  void CorruptionFound() override {
    if (told != nullptr) told->CorruptionFound(index);
  }
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint64_t> messages{0};
  // The run's progress, and the folder of the base in progress.
  TreeProgress* told = nullptr;
  size_t index = 0;
};

class Run {
 public:
  Run(const Folder& root, const Folder& outDir, const std::string& outDirName,
      TreeLayout* layout, const TreeRunOptions& options, TreeFolders* folders)
      : fs(OrRealFileSystem(options.conversion.fs)),
        root(root),
        outDir(outDir),
        outDirName(outDirName),
        layout(layout),
        options(options),
        folders(*folders) {
    destination = options.conversion.destination;
    if (destination == nullptr) {
      ownDestination = DefaultOutputKind().destination(outDirName);
      destination = ownDestination.get();
    }
  }

  TreeProgress* progress = nullptr;

  TreeRunSummary Go();

 private:
  void Work(WorkerProgress* mine);
  ConversionResult Convert(const TreeFolder& folder, WorkerProgress* mine);
  void Stop(const Status& reason);
  bool Cancelled() const;
  TreeProgressState State();

  FileSystem* const fs;
  const Folder& root;
  const Folder& outDir;
  const std::string& outDirName;
  TreeLayout* layout;
  const TreeRunOptions& options;
  TreeFolders& folders;
  // Where the outputs go: the run's, or the default kind's.
  Destination* destination;
  std::unique_ptr<Destination> ownDestination;

  // Set once a worker has left and a processor is spare.
  std::atomic<bool> processorSpare{false};

  std::mutex mutex;  // guards what follows
  std::condition_variable finished;
  std::vector<size_t> order;  // the folders to convert, biggest base first
  size_t next = 0;
  int running = 0;
  int basesDone = 0;
  uint64_t bytesFinished = 0;
  uint64_t messagesFinished = 0;
  std::vector<std::unique_ptr<WorkerProgress>> workers;
  TreeRunSummary summary;
};

bool Run::Cancelled() const {
  return options.conversion.cancel != nullptr &&
         options.conversion.cancel->load(std::memory_order_relaxed);
}

void Run::Work(WorkerProgress* mine) {
  mine->told = progress;
  for (;;) {
    size_t index;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (Cancelled()) summary.cancelled = true;
      if (summary.stopped || summary.cancelled || next == order.size()) break;
      index = order[next++];
    }
    // Until it is marked done, this folder is this worker's alone.
    TreeFolder& folder = folders[index];
    mine->index = index;
    if (progress != nullptr) progress->BaseStarted(index);
    ConversionResult result = Convert(folder, mine);
    const bool outputFailed =
        result.outcome == ConversionOutcome::kCantCreateOutput ||
        result.outcome == ConversionOutcome::kCantWriteOutput;
    // A cancelled base keeps its place for the run that carries it on.
    if (result.outcome != ConversionOutcome::kConverted &&
        result.outcome != ConversionOutcome::kCancelled &&
        result.bytesWritten == 0)
      layout->Discard(outDir, folder);

    std::unique_lock<std::mutex> lock(mutex);
    folder.result = std::move(result);
    folder.state = TreeBaseState::kDone;
    if (folder.result.outcome == ConversionOutcome::kCancelled)
      summary.cancelled = true;
    ++basesDone;
    bytesFinished += folder.baseSize;
    messagesFinished += uint64_t(folder.result.messages);
    mine->bytes.store(0, std::memory_order_relaxed);
    mine->messages.store(0, std::memory_order_relaxed);
    if (outputFailed) {
      std::string place = destination->PlaceName(outDirName, folder.output);
      // A fallback name is no name the user knows: the folder is.
      if (!folder.renamedBecause.empty())
        place +=
            " (the folder " + (folder.path.empty() ? "." : folder.path) + ")";
      Stop(folder.result.failure.Within(place));
    }
    if (folder.result.outcome == ConversionOutcome::kConverted &&
        options.journal != nullptr) {
      const DWORD error = options.journal->Done(folder);
      if (error != ERROR_SUCCESS)
        Stop(Status::System(error).Within("can't write " +
                                          JoinPath(outDirName, kJournalName)));
    }
    lock.unlock();
    if (progress != nullptr) progress->BaseFinished(index);
  }
  std::lock_guard<std::mutex> lock(mutex);
  --running;
  // The bases still in progress may write on the processor this worker
  // leaves free: the biggest base, started first, often ends the run alone.
  if (running > 0 && running < options.processors) processorSpare = true;
  finished.notify_all();
}

// The folder's base into its place: the base's folder opened below ROOT,
// the place's as its destination says (below OUTDIR, one name in the
// other; a place of a server is named in full).
ConversionResult Run::Convert(const TreeFolder& folder, WorkerProgress* mine) {
  ConversionResult result;
  FolderBelow base, place;
  const DWORD error = base.Open(fs, root, folder.path);
  if (error != ERROR_SUCCESS) {
    result.outcome = ConversionOutcome::kCantOpenBase;
    result.failure = Status::System(error);
    return result;
  }
  bool inFolder = false;
  std::string name;
  result.failure = destination->OpenPlace(fs, outDir, folder.output, &place,
                                          &inFolder, &name);
  if (!result.failure.IsOk()) {
    result.outcome = ConversionOutcome::kCantCreateOutput;
    return result;
  }
  ConversionOptions conversion = options.conversion;
  conversion.destination = destination;
  conversion.fs = fs;
  conversion.baseFolder = &base.get();
  conversion.outputFolder = inFolder ? &place.get() : nullptr;
  conversion.writeBehindFrom = &processorSpare;
  std::unique_ptr<MessageObserver> rows;
  if (options.inventory != nullptr) {
    rows = options.inventory->ForBase(
        InventoryFolder(folder), destination->InventoryPrefix(folder.output));
    conversion.observer = rows.get();
  }
  return ConvertBase(folder.baseName.c_str(), name.c_str(), conversion, mine);
}

// The first reason stops the run; called with the mutex held.
void Run::Stop(const Status& reason) {
  if (summary.stopped) return;
  summary.stopped = true;
  summary.stopReason = reason;
}

// Called with the mutex held.
TreeProgressState Run::State() {
  TreeProgressState state;
  state.basesDone = basesDone;
  state.basesTotal = static_cast<int>(order.size());
  for (size_t i : order) state.bytesTotal += folders[i].baseSize;
  state.bytesDone = bytesFinished;
  state.messagesDone = messagesFinished;
  for (const auto& w : workers) {
    state.bytesDone += w->bytes.load(std::memory_order_relaxed);
    state.messagesDone += w->messages.load(std::memory_order_relaxed);
  }
  // A base may have grown since the walk saw it.
  state.bytesDone = std::min(state.bytesDone, state.bytesTotal);
  return state;
}

TreeRunSummary Run::Go() {
  order = ConversionOrder(folders);

  const size_t wanted =
      std::min(order.size(), static_cast<size_t>(std::max(options.jobs, 1)));
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < wanted; ++i)
      workers.push_back(std::make_unique<WorkerProgress>());
  }
  for (size_t i = 0; i < wanted; ++i) {
    try {
      std::lock_guard<std::mutex> lock(mutex);
      threads.emplace_back(&Run::Work, this, workers[i].get());
      ++running;
    } catch (const std::system_error&) {
      break;  // as many as the system gives
    }
  }
  if (threads.empty() && !order.empty()) {
    ++running;
    Work(workers[0].get());
  }

  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    const bool done = finished.wait_for(lock, std::chrono::milliseconds(200),
                                        [this] { return running == 0; });
    if (done) break;
    TreeProgressState state = State();
    lock.unlock();
    if (progress != nullptr) progress->Advanced(state);
    lock.lock();
  }
  lock.unlock();
  for (std::thread& t : threads) t.join();

  MarkNotStarted(&folders);
  if (progress != nullptr) progress->Advanced(State());
  return summary;
}

}  // namespace

void MarkNotStarted(TreeFolders* folders) {
  for (TreeFolder& f : *folders)
    if (f.state == TreeBaseState::kWaiting)
      f.state = TreeBaseState::kNotStarted;
}

std::vector<size_t> ConversionOrder(const TreeFolders& folders) {
  std::vector<size_t> order;
  for (size_t i = 0; i < folders.size(); ++i)
    if (folders[i].state == TreeBaseState::kWaiting &&
        !folders[i].output.empty())
      order.push_back(i);
  // The biggest bases take longest: started first, the run ends soonest.
  std::stable_sort(order.begin(), order.end(), [&folders](size_t a, size_t b) {
    return folders[a].baseSize > folders[b].baseSize;
  });
  return order;
}

TreeRunSummary RunTree(const Folder& root, const Folder& outDir,
                       const std::string& outDirName, TreeLayout* layout,
                       const TreeRunOptions& options, TreeFolders* folders,
                       TreeProgress* progress) {
  Run run(root, outDir, outDirName, layout, options, folders);
  run.progress = progress;
  return run.Go();
}

std::string InventoryFolder(const TreeFolder& folder) {
  std::string path =
      folder.twin ? JoinPath(folder.path, folder.baseName) : folder.path;
  for (char& c : path)
    if (IsPathSeparator(c)) c = '/';
  return path;
}

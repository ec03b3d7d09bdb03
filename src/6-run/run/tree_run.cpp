// A tree: every base below ROOT, into an OUTDIR (with its journal, and the
// carrying on of a run that was cut off) or into a folder of an account
// (where the folders are the record, and a rerun uploads only what they do
// not hold).
#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "io/paths.h"
#include "run/run_context.h"
#include "run/run_inventory.h"
#include "run/run_places.h"
#include "run/run_status.h"
#include "tree/run_journal.h"
#include "tree/tree_runner.h"

namespace {

Status SystemFailure(DWORD error, const std::string& doing) {
  return Status::System(error).Within(doing);
}

// The runner's progress as the run's events.
class TreeEvents : public TreeProgress {
 public:
  TreeEvents(RunContext* run, DWORD startTick)
      : run(run), startTick(startTick) {}

  void Advanced(const TreeProgressState& s) override {
    RunProgress p;
    p.basesDone = s.basesDone;
    p.basesTotal = s.basesTotal;
    p.bytesDone = s.bytesDone;
    p.bytesTotal = s.bytesTotal;
    p.percent = PercentOf(s.bytesDone, s.bytesTotal);
    p.messagesDone = s.messagesDone;
    p.uploaded = uploaded.load();
    p.alreadyThere = alreadyThere.load();
    p.refused = refused.load();
    p.seconds = (GetTickCount() - startTick) / 1000.0;
    run->events->Progress(p);
  }
  void BaseStarted(size_t index) override {
    run->events->BaseStarted(Base(index));
  }
  void BaseFinished(size_t index) override {
    const ConversionResult& r = run->folders[index].result;
    if (r.tallied) {
      uploaded += r.tally.delivered;
      alreadyThere += r.tally.alreadyThere;
      refused += r.tally.refused;
    }
    run->events->BaseFinished(Base(index));
  }
  void ScanStarting(size_t index, ScanKind scan) override {
    run->events->ScanStarting(Base(index), scan);
  }
  void CorruptionFound(size_t index) override {
    RunWarning warning;
    warning.kind = RunWarning::Kind::kUnusableRecord;
    warning.index = index;
    run->events->Warning(warning);
  }

 private:
  BaseEvent Base(size_t index) const {
    BaseEvent base;
    base.index = index;
    base.folder = &run->folders[index];
    return base;
  }

  RunContext* const run;
  const DWORD startTick;
  std::atomic<uint64_t> uploaded{0}, alreadyThere{0}, refused{0};
};

// What every tree run's conversions share: the scans, the jobs, the
// output kind; the caller adds where the outputs go.
TreeRunOptions BaseOptions(const RunContext& run) {
  const RunRequest& request = run.request;
  TreeRunOptions options;
  options.jobs = run.concurrency.jobs;
  options.processors = run.concurrency.processors;
  options.conversion.alternativeScan = request.scan.alternative;
  options.conversion.minHeaderSize = request.scan.minHeaderSize;
  options.conversion.compatibilityLevel = request.scan.compatibilityLevel;
  options.conversion.recover = true;
  options.conversion.destination = run.destination.get();
  options.conversion.fs = run.fs;
  options.conversion.cancel = request.cancel;
  return options;
}

// The plan of a tree from root into destination: the folders still to
// convert. Their bytes.
uint64_t PlanTree(RunContext* run, const std::string& root,
                  const std::string& destination, int jobs) {
  RunPlan plan;
  plan.tree = true;
  plan.source = root;
  plan.destination = destination;
  plan.kind = &run->kind;
  for (const TreeFolder& f : run->folders) {
    if (f.state != TreeBaseState::kWaiting) continue;
    ++plan.basesToConvert;
    plan.bytesToConvert += f.baseSize;
  }
  plan.jobs = std::max(std::min(jobs, plan.basesToConvert), 1);
  plan.tallied = run->destination->Tallies();
  run->Plan(plan);
  return plan.bytesToConvert;
}

// What this run is, for the journal.
RunCommand CommandOf(const RunRequest& request, const OutputKind& kind,
                     const Places& places) {
  RunCommand command;
  command.root = places.rootIdentity;
  command.rootName = places.root;
  // An inventory is output too: a rerun must make one where the run did.
  command.kind =
      std::string(kind.name) + (request.inventory ? " with an inventory" : "");
  command.scan = request.scan.alternative
                     ? "alternative " +
                           std::to_string(request.scan.minHeaderSize) + ":" +
                           std::to_string(request.scan.compatibilityLevel)
                     : "normal";
  return command;
}

std::string RootName(const Places& places) {
  const std::string name = LastName(places.root);
  return name.empty() ? "messages" : name;
}

// The bases converted, and the end: the runner, the report, the inventory.
// Places the folders first where layOut (below outDir, named outName).
int ConvertTree(RunContext* run, const Places& places, const Folder& outDir,
                const std::string& outName, TreeLayout* layout, bool layOut,
                const TreeRunOptions& options, RunJournal* journal,
                Inventory* inventory, const std::string& inventoryName,
                DWORD startTick) {
  TreeRunSummary summary;
  std::string why;
  DWORD error;
  if (layOut && !PlaceFolders(layout, outDir, outName, RootName(places),
                              &run->folders, &why)) {
    summary.stopped = true;
    summary.stopReason = Status::Of(StatusKind::kOther, why);
  } else if (layOut && journal != nullptr &&
             (error = journal->Placed(run->folders)) != ERROR_SUCCESS) {
    summary.stopped = true;
    summary.stopReason =
        SystemFailure(error, "can't write " + JoinPath(outName, kJournalName));
  } else {
    TreeEvents progress(run, startTick);
    summary = RunTree(*places.rootFolder, outDir, outName, layout, options,
                      &run->folders, &progress);
  }
  MarkNotStarted(&run->folders);
  // Cancelled, even after the last base: left for the next run to carry on.
  const bool cancelled = summary.cancelled || run->Cancelled();
  int status = TreeStatus(run->folders, summary.stopped);
  // Only a run that went through says so: one that stopped is carried on
  // by its rerun.
  if (journal != nullptr && !summary.stopped && !cancelled) {
    error = journal->Ended(status);
    if (error != ERROR_SUCCESS) {
      summary.stopped = true;
      summary.stopReason = SystemFailure(
          error, "can't write " + JoinPath(outName, kJournalName));
    }
  }
  RunReport& report = run->report;
  report.cancelled = cancelled;
  report.stopped = summary.stopped;
  if (summary.stopped) report.stopReason = summary.stopReason;
  report.seconds = (GetTickCount() - startTick) / 1000.0;
  report.inventory = CloseInventory(inventory, inventoryName);
  status = TreeStatus(run->folders, summary.stopped);
  if (!report.inventory.failure.IsOk()) status = kRunFailed;
  return run->Finish(status);
}

// A tree into a destination that keeps no files of the run (the folders of
// a mail account): no OUTDIR, no journal; the run's own files (the
// inventory) go into the current folder, which the layout is handed as its
// OUTDIR and does not use.
int IntoPlacesElsewhere(RunContext* run, const Places& places) {
  const RunRequest& request = run->request;
  Destination* destination = run->destination.get();
  const std::string& parent = destination->Name();
  AccountPlace place;
  Status status = OpenAccount(run, &place);
  if (!status.IsOk()) return run->Fail(status);

  std::unique_ptr<Folder> here;
  std::string inventoryName;
  std::unique_ptr<Inventory> inventory;
  if (request.inventory) {
    status = AccountInventory(run->fs, destination->InventoryStem(), &here,
                              &inventoryName, &inventory);
    if (!status.IsOk()) return run->Fail(status);
  } else {
    const DWORD error = run->fs->OpenFolder(".", &here);
    if (error != ERROR_SUCCESS)
      return run->Fail(SystemFailure(error, "can't open the current folder"));
  }

  std::unique_ptr<TreeLayout> layout = destination->Layout(run->fs, &status);
  if (!layout) return run->Fail(status);
  if (inventory) {
    const DWORD error = inventory->Make();
    if (error != ERROR_SUCCESS)
      return run->Fail(
          SystemFailure(error, "can't create the inventory " + inventoryName));
  }

  TreeRunOptions options = BaseOptions(*run);
  options.inventory = inventory.get();
  options.jobs = CapJobs(run, place, options.jobs);
  TellUploadSize(run, place, PlanTree(run, places.root, parent, options.jobs));
  const DWORD startTick = GetTickCount();
  return ConvertTree(run, places, *here, parent, layout.get(), true, options,
                     nullptr, inventory.get(), inventoryName, startTick);
}

}  // namespace

int RunFolderTree(RunContext* run) {
  const RunRequest& request = run->request;
  const OutputKind& kind = run->kind;
  FileSystem* fs = run->fs;
  Places places;
  // A tree into an account has no OUTDIR to check.
  Destination* destination = run->destination.get();
  Status status = !destination->KeepsRecordsBeside()
                      ? OpenRoot(fs, request.source, &places)
                      : CheckPlaces(fs, request.source, request.destination,
                                    kind.treeSuffix, &places);
  if (!status.IsOk()) return run->Fail(status);

  TreeFolders& folders = run->folders;
  DWORD error = 0;
  if (!DiscoverTree(fs, *places.rootFolder, &folders, &error))
    return run->Fail(SystemFailure(error, "can't list " + places.root));
  int bases = 0;
  bool listErrors = false;
  for (const TreeFolder& f : folders) {
    bases += f.HasBase();
    listErrors = listErrors || f.listError != 0;
  }
  if (bases == 0) {
    for (const TreeFolder& f : folders)
      if (f.listError != 0)
        run->events->Error(SystemFailure(
            f.listError, "can't list " + JoinPath(places.root, f.path)));
    run->events->Error(
        Status::Of(StatusKind::kNotFound, std::string("no message base (") +
                                              kBaseFileName + ") in " +
                                              places.root + " or below it"));
    return run->Finish(listErrors ? kRunFailed : kRunNothingFound);
  }

  if (!destination->KeepsRecordsBeside())
    return IntoPlacesElsewhere(run, places);
  std::unique_ptr<TreeLayout> layout = destination->Layout(fs, &status);
  if (!layout) return run->Fail(status);
  const RunCommand command = CommandOf(request, kind, places);
  RunJournal journal;
  EarlierRun earlier = EarlierRun::kLayOutAnew;
  if (places.withJournal) {
    EarlierRunInfo told;
    Status failure;
    earlier = TakeUpEarlierRun(fs, places, command, layout.get(), &folders,
                               &journal, &told, &failure);
    if (!failure.IsOk()) return run->Fail(failure);
    run->events->EarlierRun(told);
    if (earlier == EarlierRun::kNothingToDo) return run->Finish(told.status);
    if (request.inventory) {
      error = SetInventoryAside(fs, *places.outFolder);
      if (error != ERROR_SUCCESS)
        return run->Fail(
            SystemFailure(error, "can't carry on the run in " + places.out +
                                     ": can't set its inventory aside"));
    }
  } else {
    if (!places.outFolder) {
      status = CreateOutDir(fs, &places);
      if (!status.IsOk()) return run->Fail(status);
    }
    // Made before any place, so that a run cut off at any point leaves
    // OUTDIR to its rerun.
    error = journal.Create(fs, *places.outFolder, command);
    if (error != ERROR_SUCCESS)
      return run->Fail(SystemFailure(
          error, "can't create " + JoinPath(places.out, kJournalName)));
  }

  TreeRunOptions options = BaseOptions(*run);
  options.conversion.writeBehind = run->concurrency.writeThread;
  options.conversion.outputMade = true;
  options.journal = &journal;
  PlanTree(run, places.root, places.out, options.jobs);

  const DWORD startTick = GetTickCount();
  // Made in OUTDIR before the folders' places (which give way to it); a
  // rerun's takes over the rows of the bases done before.
  const std::string inventoryName = JoinPath(places.out, kTreeInventoryName);
  std::unique_ptr<Inventory> inventory;
  if (request.inventory) {
    inventory.reset(
        new Inventory(fs, places.outFolder.get(), kTreeInventoryName));
    options.inventory = inventory.get();
    std::set<std::string> doneBefore;
    for (const TreeFolder& f : folders)
      if (f.state == TreeBaseState::kDoneBefore)
        doneBefore.insert(InventoryFolder(f));
    error = places.withJournal
                ? inventory->CarryOver(kEarlierInventoryName, doneBefore)
                : inventory->Make();
    if (error != ERROR_SUCCESS)
      return run->Fail(
          SystemFailure(error, "can't create the inventory " + inventoryName));
  }
  return ConvertTree(run, places, *places.outFolder, places.out, layout.get(),
                     earlier == EarlierRun::kLayOutAnew, options, &journal,
                     inventory.get(), inventoryName, startTick);
}

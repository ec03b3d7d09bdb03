// One base into one output.
#include <memory>
#include <string>

#include "convert/conversion.h"
#include "inventory/inventory.h"
#include "io/file_stream.h"
#include "run/run_context.h"
#include "run/run_inventory.h"
#include "run/run_status.h"

namespace {

// The conversion's progress as the run's events.
class BaseProgress : public ConversionProgress {
 public:
  BaseProgress(RunContext* run, uint64_t size) : run(run), size(size) {
    start = GetTickCount();
  }
  void ScanStarting(ScanKind scan) override {
    run->events->ScanStarting(Base(), scan);
  }
  void Advanced(unsigned percent, uint64_t bytesDone,
                uint64_t messages) override {
    RunProgress p;
    p.basesTotal = 1;
    p.bytesDone = bytesDone;
    p.bytesTotal = size;
    p.percent = percent;
    p.messagesDone = messages;
    p.seconds = (GetTickCount() - start) / 1000.0;
    run->events->Progress(p);
  }
  void CorruptionFound() override {
    RunWarning warning;
    warning.kind = RunWarning::Kind::kUnusableRecord;
    warning.index = 0;
    run->events->Warning(warning);
  }
  BaseEvent Base() const {
    BaseEvent base;
    base.index = 0;
    base.folder = &run->folders[0];
    return base;
  }

 private:
  RunContext* const run;
  const uint64_t size;
  DWORD start;
};

// The base's size where it can be told before it is opened for the run.
uint64_t SizeOf(const std::string& name) {
  FileStream file;
  if (!file.Open(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                 OPEN_EXISTING))
    return 0;
  return file.GetSize();
}

}  // namespace

int RunSingleBase(RunContext* run) {
  const RunRequest& request = run->request;
  const OutputKind& kind = run->kind;
  const std::string& inputName = request.source;
  const std::string outputName = DefaultDestination(request);

  ConversionOptions options;
  options.alternativeScan = request.scan.alternative;
  options.minHeaderSize = request.scan.minHeaderSize;
  options.compatibilityLevel = request.scan.compatibilityLevel;
  options.recover = request.recover;
  options.destination = run->destination.get();
  options.writeBehind = run->concurrency.writeThread;
  options.fs = request.fs;
  options.cancel = request.cancel;
  AccountPlace place;
  const Status account = OpenAccount(run, &place);
  if (!account.IsOk()) return run->Fail(account);
  // The inventory goes beside the output, named after it, or where the
  // destination keeps no files, into the current folder.
  std::string inventoryName = outputName + ".csv";
  std::unique_ptr<Folder> here;
  std::unique_ptr<Inventory> inventory;
  std::unique_ptr<MessageObserver> rows;
  if (request.inventory) {
    if (!run->destination->KeepsRecordsBeside()) {
      const Status status =
          AccountInventory(run->fs, run->destination->InventoryStem(), &here,
                           &inventoryName, &inventory);
      if (!status.IsOk()) return run->Fail(status);
    } else {
      inventory.reset(new Inventory(run->fs, nullptr, inventoryName));
    }
    rows = inventory->ForBase(std::string(), std::string());
    options.observer = rows.get();
  }

  TreeFolder base;
  base.baseName = inputName;
  base.output = outputName;
  base.baseSize = SizeOf(inputName);
  base.state = TreeBaseState::kWaiting;
  run->folders.push_back(base);
  RunPlan plan;
  plan.source = inputName;
  plan.destination = outputName;
  plan.kind = &kind;
  plan.basesToConvert = 1;
  plan.bytesToConvert = base.baseSize;
  plan.tallied = run->destination->Tallies();
  run->Plan(plan);
  if (run->account) TellUploadSize(run, place, base.baseSize);
  if (run->Cancelled()) {
    run->report.cancelled = true;
    return run->Finish(kRunFailed);
  }

  BaseProgress progress(run, base.baseSize);
  run->events->BaseStarted(progress.Base());
  const DWORD startTick = GetTickCount();
  ConversionResult result =
      ConvertBase(inputName.c_str(), outputName.c_str(), options, &progress);
  rows.reset();
  TreeFolder& done = run->folders[0];
  done.result = std::move(result);
  done.state = TreeBaseState::kDone;
  run->report.seconds = (GetTickCount() - startTick) / 1000.0;
  run->report.cancelled = done.result.outcome == ConversionOutcome::kCancelled;
  run->events->BaseFinished(progress.Base());

  int status = StatusOfBase(done.result);
  run->report.inventory = CloseInventory(inventory.get(), inventoryName);
  if (!run->report.inventory.failure.IsOk()) status = kRunFailed;
  return run->Finish(status);
}

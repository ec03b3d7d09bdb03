// korvane ROOT [OUTDIR] -r: the run, from the walk to the report, its
// journal, and the progress line.
#include "console/tree_console.h"

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "console/display_width.h"
#include "console/exit_status.h"
#include "console/run.h"
#include "console/tree_outdir.h"
#include "platform/win32.h"
#include "tree/run_journal.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

void PrintError(const std::string& text) {
  printf("error: %s", text.c_str());
  printf("\n");
}

// A run cut off left its inventory: set aside for the rerun's to take
// rows over from (one set aside already, by a rerun cut off itself, is
// the one that holds them; the newer file goes).
DWORD SetInventoryAside(FileSystem* fs, const Folder& outDir) {
  DWORD error =
      fs->Rename(outDir, kTreeInventoryName, outDir, kEarlierInventoryName);
  if (error == ERROR_ALREADY_EXISTS)
    error = fs->RemoveFile(outDir, kTreeInventoryName);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace

ConsoleTreeProgress::ConsoleTreeProgress(DWORD startTick)
    : startTick(startTick), terminal(StdoutIsTerminal()) {}

void ConsoleTreeProgress::Advanced(const TreeProgressState& s) {
  if (!terminal) return;
  const DWORD elapsed = GetTickCount() - startTick;
  const double perSecond =
      elapsed == 0 ? 0 : s.bytesDone / 1048576.0 / (elapsed / 1000.0);
  char line[96];
  snprintf(line, sizeof line, "%d of %d bases, %3u%%, %.1f MiB/s", s.basesDone,
           s.basesTotal, PercentOf(s.bytesDone, s.bytesTotal), perSecond);
  printf("%-*s\r", kWidth, line);
  fflush(stdout);
  shown = true;
}

void ConsoleTreeProgress::Clear() {
  if (shown) printf("%-*s\r", kWidth, "");
}

TreeRunOptions BaseTreeRunOptions(const RunSettings& settings,
                                  const Concurrency& concurrency,
                                  const OutputKind& kind, FileSystem* fs) {
  TreeRunOptions options;
  options.jobs = concurrency.jobs;
  options.processors = concurrency.processors;
  options.conversion.alternativeScan = settings.alternativeScan;
  options.conversion.minHeaderSize = settings.minHeaderSize;
  options.conversion.compatibilityLevel = settings.compatibilityLevel;
  options.conversion.recover = true;
  options.conversion.output = &kind;
  options.conversion.fs = fs;
  return options;
}

void PrintTreeStart(const TreeFolders& folders, const std::string& root,
                    const std::string& out, int jobs) {
  int toConvert = 0;
  uint64_t bytes = 0;
  for (const TreeFolder& f : folders) {
    if (f.state != TreeBaseState::kWaiting) continue;
    ++toConvert;
    bytes += f.baseSize;
  }
  printf("converting %d bases (%s) from %s into %s, %d at once\n", toConvert,
         SizeText(bytes).c_str(), ConsoleText(root).c_str(),
         ConsoleText(out).c_str(), std::max(std::min(jobs, toConvert), 1));
  fflush(stdout);
}

int RunTreeMode(const RunSettings& settings, const Concurrency& concurrency,
                FileSystem* fs) {
  const OutputKind& kind = settings.Output();
  Places places;
  // A tree into an account has no OUTDIR to check.
  if (!(kind.remote ? OpenRoot(settings, fs, &places)
                    : CheckPlaces(settings, fs, &places)))
    return kExitFailed;

  TreeFolders folders;
  DWORD error = 0;
  if (!DiscoverTree(fs, *places.rootFolder, &folders, &error)) {
    PrintError("can't list " + ConsoleText(places.root) + ": " +
               SystemErrorText(error));
    return kExitFailed;
  }
  int bases = 0;
  bool listErrors = false;
  for (const TreeFolder& f : folders) {
    bases += f.HasBase();
    listErrors = listErrors || f.listError != 0;
  }
  if (bases == 0) {
    for (const TreeFolder& f : folders)
      if (f.listError != 0)
        PrintError("can't list " + ConsoleText(JoinPath(places.root, f.path)) +
                   ": " + SystemErrorText(f.listError));
    PrintError(std::string("no message base (") + kBaseFileName + ") in " +
               ConsoleText(places.root) + " or below it");
    return listErrors ? kExitFailed : kExitNothingFound;
  }

  if (kind.remote)
    return RunTreeIntoAccount(settings, concurrency, fs, places, &folders);
  std::unique_ptr<TreeLayout> layout = kind.treeLayout(fs);
  const RunCommand command = CommandOf(settings, places);
  RunJournal journal;
  EarlierRun earlier = EarlierRun::kLayOutAnew;
  if (places.withJournal) {
    int status = kExitFailed;
    earlier = TakeUpEarlierRun(fs, places, command, layout.get(), &folders,
                               &journal, &status);
    if (earlier == EarlierRun::kNothingToDo) return status;
    if (settings.inventory) {
      error = SetInventoryAside(fs, *places.outFolder);
      if (error != ERROR_SUCCESS) {
        PrintError(
            "can't carry on the run in " + ConsoleText(places.out) +
            ": can't set its inventory aside: " + SystemErrorText(error));
        return kExitFailed;
      }
    }
  } else {
    error = places.outFolder ? ERROR_SUCCESS : CreateOutDir(fs, &places);
    if (error != ERROR_SUCCESS) {
      PrintError("can't create the output folder " + ConsoleText(places.out) +
                 ": " + SystemErrorText(error));
      return kExitFailed;
    }
    // Made before any place, so that a run cut off at any point leaves
    // OUTDIR to its rerun.
    error = journal.Create(fs, *places.outFolder, command);
    if (error != ERROR_SUCCESS) {
      PrintError("can't create " +
                 ConsoleText(JoinPath(places.out, kJournalName)) + ": " +
                 SystemErrorText(error));
      return kExitFailed;
    }
  }

  TreeRunOptions options = BaseTreeRunOptions(settings, concurrency, kind, fs);
  options.conversion.writeBehind = concurrency.writeThread;
  options.conversion.outputMade = true;
  options.journal = &journal;
  PrintTreeStart(folders, places.root, places.out, options.jobs);

  const DWORD startTick = GetTickCount();
  std::string rootName = LastName(places.root);
  if (rootName.empty()) rootName = "messages";
  // Made in OUTDIR before the folders' places (which give way to it); a
  // rerun's takes over the rows of the bases done before.
  const std::string kInventoryName = kTreeInventoryName;
  std::unique_ptr<Inventory> inventory;
  if (settings.inventory) {
    inventory.reset(new Inventory(fs, places.outFolder.get(), kInventoryName));
    options.inventory = inventory.get();
    std::set<std::string> doneBefore;
    for (const TreeFolder& f : folders)
      if (f.state == TreeBaseState::kDoneBefore)
        doneBefore.insert(InventoryFolder(f));
    error = places.withJournal
                ? inventory->CarryOver(kEarlierInventoryName, doneBefore)
                : inventory->Make();
    if (error != ERROR_SUCCESS) {
      PrintError("can't create the inventory " +
                 ConsoleText(JoinPath(places.out, kInventoryName)) + ": " +
                 SystemErrorText(error));
      return kExitFailed;
    }
  }
  TreeRunSummary summary;
  std::string why;
  if (earlier == EarlierRun::kLayOutAnew &&
      !PlaceFolders(layout.get(), *places.outFolder, places.out, rootName,
                    &folders, &why)) {
    summary.stopped = true;
    summary.stopReason = why;
  } else if (earlier == EarlierRun::kLayOutAnew &&
             (error = journal.Placed(folders)) != ERROR_SUCCESS) {
    summary.stopped = true;
    summary.stopReason = "can't write " + JoinPath(places.out, kJournalName) +
                         ": " + SystemErrorText(error);
  } else {
    ConsoleTreeProgress progress(startTick);
    summary = RunTree(*places.rootFolder, *places.outFolder, places.out,
                      layout.get(), options, &folders, &progress);
    progress.Clear();
  }
  if (summary.stopped) {
    for (TreeFolder& f : folders)
      if (f.state == TreeBaseState::kWaiting)
        f.state = TreeBaseState::kNotStarted;
  }
  const int status = TreeExitStatus(folders, summary);
  // Only a run that went through says so: one that stopped is carried on
  // by its rerun.
  if (!summary.stopped) {
    error = journal.Ended(status);
    if (error != ERROR_SUCCESS) {
      summary.stopped = true;
      summary.stopReason = "can't write " + JoinPath(places.out, kJournalName) +
                           ": " + SystemErrorText(error);
    }
  }
  PrintTreeReport(folders, summary, (GetTickCount() - startTick) / 1000.0);
  if (inventory &&
      !ReportInventory(inventory.get(), JoinPath(places.out, kInventoryName)))
    return kExitFailed;
  return TreeExitStatus(folders, summary);
}

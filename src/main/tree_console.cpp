// korvane ROOT [OUTDIR] -r: the checks before anything is created, the
// run, and the progress line.
#include "main/tree_console.h"

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "main/display_width.h"
#include "main/exit_status.h"
#include "main/run.h"
#include "platform/win32.h"

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

// The progress over the whole tree on one console line, rewritten in
// place; nothing when the output goes to a file or a pipe.
class ConsoleTreeProgress : public TreeProgress {
 public:
  explicit ConsoleTreeProgress(DWORD startTick)
      : startTick(startTick), terminal(StdoutIsTerminal()) {}

  void Advanced(const TreeProgressState& s) override {
    if (!terminal) return;
    const DWORD elapsed = GetTickCount() - startTick;
    const double perSecond =
        elapsed == 0 ? 0 : s.bytesDone / 1048576.0 / (elapsed / 1000.0);
    char line[96];
    snprintf(line, sizeof line, "%d of %d bases, %3u%%, %.1f MiB/s",
             s.basesDone, s.basesTotal, PercentOf(s.bytesDone, s.bytesTotal),
             perSecond);
    printf("%-*s\r", kWidth, line);
    fflush(stdout);
    shown = true;
  }

  void Clear() {
    if (shown) printf("%-*s\r", kWidth, "");
  }

 private:
  static const int kWidth = 56;
  DWORD startTick;
  bool terminal;
  bool shown = false;
};

// A full path, and where its links lead when that is elsewhere.
std::string Named(const std::string& full) {
  const std::string resolved = WithLinksResolved(full);
  return ConsoleText(full == resolved ? full : full + " (" + resolved + ")");
}

// Whether folder, named name, is the folder of identity outer or lies
// below it. Where folder cannot be searched for its parent, the parent is
// the one its name leads to with the links resolved.
DWORD LiesIn(FileSystem* fs, const Folder& folder, const std::string& name,
             const FileIdentity& outer, bool* below) {
  DWORD error = IsSameOrBelow(fs, folder, outer, below);
  if (error != ERROR_ACCESS_DENIED) return error;
  std::unique_ptr<Folder> parent;
  error = fs->OpenFolder(ParentPath(WithLinksResolved(name)), &parent);
  if (error != ERROR_SUCCESS) return error;
  return IsSameOrBelow(fs, *parent, outer, below);
}

struct Places {
  std::string root;  // full paths
  std::string out;
  std::unique_ptr<Folder> rootFolder;
  std::unique_ptr<Folder> outFolder;  // when it exists
};

// Where the tree comes from and goes to, or a refusal (status 2) before
// anything is created. Whether one lies in the other is told by the
// folders' identities, which neither a link nor a bind mount hides.
bool CheckPlaces(const RunSettings& settings, FileSystem* fs, Places* places) {
  const std::string rootGiven = settings.inputName;
  DWORD error = fs->OpenFolder(rootGiven, &places->rootFolder);
  if (error == ERROR_DIRECTORY) {
    PrintError(ConsoleText(rootGiven) + " is not a folder");
    return false;
  }
  if (error == ERROR_SUCCESS && !FullPath(rootGiven, &places->root, &error))
    places->rootFolder.reset();
  if (error != ERROR_SUCCESS) {
    PrintError("can't open " + ConsoleText(rootGiven) + ": " +
               SystemErrorText(error));
    return false;
  }

  std::string outGiven;
  if (settings.mailboxName != nullptr) {
    outGiven = settings.mailboxName;
  } else {
    const std::string name = LastName(places->root);
    if (name.empty()) {
      PrintError(ConsoleText(places->root) +
                 " has no name to name the output folder after: name one");
      return false;
    }
    outGiven =
        JoinPath(ParentPath(places->root), name + settings.Output().treeSuffix);
  }
  if (!FullPath(outGiven, &places->out, &error)) {
    PrintError("can't open " + ConsoleText(outGiven) + ": " +
               SystemErrorText(error));
    return false;
  }
  // The nearest folder of OUTDIR's path that exists stands for OUTDIR.
  std::string nearestName = places->out;
  std::unique_ptr<Folder> nearest;
  bool outIsNoFolder = false;
  for (;;) {
    error = fs->OpenFolder(nearestName, &nearest);
    if (error == ERROR_DIRECTORY && nearestName == places->out)
      outIsNoFolder = true;
    else if (error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND)
      break;
    const std::string parent = ParentPath(nearestName);
    if (parent == nearestName) break;
    nearestName = parent;
  }
  if (error != ERROR_SUCCESS) {
    PrintError("can't open " + ConsoleText(nearestName) + ": " +
               SystemErrorText(error));
    return false;
  }
  FileIdentity rootIdentity, outIdentity;
  bool inside = false, around = false;
  error = fs->Identify(*places->rootFolder, &rootIdentity);
  if (error == ERROR_SUCCESS)
    error = LiesIn(fs, *nearest, nearestName, rootIdentity, &inside);
  if (error == ERROR_SUCCESS && nearestName == places->out) {
    places->outFolder = std::move(nearest);
    error = fs->Identify(*places->outFolder, &outIdentity);
    if (error == ERROR_SUCCESS)
      error =
          LiesIn(fs, *places->rootFolder, places->root, outIdentity, &around);
  }
  if (error != ERROR_SUCCESS) {
    PrintError("can't tell whether " + ConsoleText(places->out) +
               " lies inside " + ConsoleText(places->root) + ": " +
               SystemErrorText(error));
    return false;
  }
  if (inside) {
    PrintError("the output folder " + Named(places->out) + " lies inside " +
               Named(places->root));
    return false;
  }
  if (around) {
    PrintError(Named(places->root) + " lies inside the output folder " +
               Named(places->out));
    return false;
  }
  std::vector<FolderEntry> entries;
  if (places->outFolder) {
    error = fs->List(*places->outFolder, &entries);
    if (error != ERROR_SUCCESS) {
      PrintError("can't list the output folder " + ConsoleText(places->out) +
                 ": " + SystemErrorText(error));
      return false;
    }
  }
  if (outIsNoFolder || !entries.empty()) {
    PrintError("the output folder " + ConsoleText(places->out) +
               " exists and is not an empty folder");
    return false;
  }
  return true;
}

// Creates OUTDIR, new, and opens it.
DWORD CreateOutDir(FileSystem* fs, Places* places) {
  std::unique_ptr<Folder> holder;
  std::string name;
  DWORD error = OpenHolder(fs, places->out, &holder, &name);
  if (error == ERROR_SUCCESS) error = fs->MakeFolder(*holder, name);
  if (error == ERROR_SUCCESS)
    error = fs->OpenSubfolder(*holder, name, &places->outFolder);
  return error;
}

}  // namespace

int RunTreeMode(const RunSettings& settings, const Concurrency& concurrency) {
  FileSystem* fs = RealFileSystem();
  Places places;
  if (!CheckPlaces(settings, fs, &places)) return kExitFailed;

  TreeFolders folders;
  DWORD error = 0;
  if (!DiscoverTree(fs, *places.rootFolder, &folders, &error)) {
    PrintError("can't list " + ConsoleText(places.root) + ": " +
               SystemErrorText(error));
    return kExitFailed;
  }
  int bases = 0;
  uint64_t bytes = 0;
  bool listErrors = false;
  for (const TreeFolder& f : folders) {
    bases += f.HasBase();
    bytes += f.baseSize;
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
  if (!places.outFolder) {
    error = CreateOutDir(fs, &places);
    if (error != ERROR_SUCCESS) {
      PrintError("can't create the output folder " + ConsoleText(places.out) +
                 ": " + SystemErrorText(error));
      return kExitFailed;
    }
  }

  TreeRunOptions options;
  options.jobs = concurrency.jobs;
  options.processors = concurrency.processors;
  options.conversion.alternativeScan = settings.alternativeScan;
  options.conversion.minHeaderSize = settings.minHeaderSize;
  options.conversion.compatibilityLevel = settings.compatibilityLevel;
  options.conversion.recover = true;
  options.conversion.writeBehind = concurrency.writeThread;
  printf("converting %d bases (%s) from %s into %s, %d at once", bases,
         SizeText(bytes).c_str(), ConsoleText(places.root).c_str(),
         ConsoleText(places.out).c_str(), std::min(options.jobs, bases));
  printf("\n");
  fflush(stdout);

  const DWORD startTick = GetTickCount();
  const OutputKind& kind = settings.Output();
  std::unique_ptr<TreeLayout> layout = kind.treeLayout(fs);
  options.conversion.output = &kind;
  options.conversion.outputMade = true;
  std::string rootName = LastName(places.root);
  if (rootName.empty()) rootName = "messages";
  // Made in OUTDIR before the folders' places, which give way to it.
  const char kInventoryName[] = "inventory.csv";
  std::unique_ptr<Inventory> inventory;
  if (settings.inventory) {
    inventory.reset(new Inventory(fs, places.outFolder.get(), kInventoryName));
    options.inventory = inventory.get();
    error = inventory->Make();
    if (error != ERROR_SUCCESS) {
      PrintError("can't create the inventory " +
                 ConsoleText(JoinPath(places.out, kInventoryName)) + ": " +
                 SystemErrorText(error));
      return kExitFailed;
    }
  }
  TreeRunSummary summary;
  std::string why;
  if (!PlaceFolders(layout.get(), *places.outFolder, places.out, rootName,
                    &folders, &why)) {
    summary.stopped = true;
    summary.stopReason = why;
    for (TreeFolder& f : folders)
      if (f.state == TreeBaseState::kWaiting)
        f.state = TreeBaseState::kNotStarted;
  } else {
    ConsoleTreeProgress progress(startTick);
    summary = RunTree(places.root, places.out, layout.get(), options, &folders,
                      &progress);
    progress.Clear();
  }
  PrintTreeReport(folders, summary, (GetTickCount() - startTick) / 1000.0);
  int status = TreeExitStatus(folders, summary);
  if (inventory &&
      !ReportInventory(inventory.get(), JoinPath(places.out, kInventoryName)))
    status = kExitFailed;
  return status;
}

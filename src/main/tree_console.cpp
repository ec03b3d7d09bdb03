// korvane ROOT [OUTDIR] -r: the checks before anything is created, the
// run, and the progress line.
#include "main/tree_console.h"

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>

#include "io/paths.h"
#include "main/exit_status.h"
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

bool IsEmptyFolder(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") empty = false;
  } while (empty && FindNextFileA(find, &data));
  FindClose(find);
  return empty;
}

// A full path, and where its links lead when that is elsewhere.
std::string Named(const std::string& full, const std::string& resolved) {
  return full == resolved ? full : full + " (" + resolved + ")";
}

struct Places {
  std::string root;  // full paths
  std::string out;
  bool outExists = false;
};

// Where the tree comes from and goes to, or a refusal (status 2) before
// anything is created.
bool CheckPlaces(const RunSettings& settings, Places* places) {
  const std::string rootGiven = settings.inputName;
  DWORD error = 0;
  const DWORD rootAttributes = GetFileAttributesA(rootGiven.c_str());
  if (rootAttributes == INVALID_FILE_ATTRIBUTES) {
    PrintError("can't open " + rootGiven + ": " +
               SystemErrorText(GetLastError()));
    return false;
  }
  if (!(rootAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    PrintError(rootGiven + " is not a folder");
    return false;
  }
  if (!FullPath(rootGiven, &places->root, &error)) {
    PrintError("can't open " + rootGiven + ": " + SystemErrorText(error));
    return false;
  }

  std::string outGiven;
  if (settings.mailboxName != nullptr) {
    outGiven = settings.mailboxName;
  } else {
    const std::string name = LastName(places->root);
    if (name.empty()) {
      PrintError(places->root +
                 " has no name to name the output folder after: name one");
      return false;
    }
    outGiven =
        JoinPath(ParentPath(places->root), name + settings.Output().treeSuffix);
  }
  if (!FullPath(outGiven, &places->out, &error)) {
    PrintError("can't open " + outGiven + ": " + SystemErrorText(error));
    return false;
  }
  // Through a link a name may lie elsewhere than its text says.
  const std::string rootReal = WithLinksResolved(places->root);
  const std::string outReal = WithLinksResolved(places->out);
  if (IsSameOrInside(outReal, rootReal)) {
    PrintError("the output folder " + Named(places->out, outReal) +
               " lies inside " + Named(places->root, rootReal));
    return false;
  }
  if (IsSameOrInside(rootReal, outReal)) {
    PrintError(Named(places->root, rootReal) +
               " lies inside the output folder " + Named(places->out, outReal));
    return false;
  }
  const DWORD outAttributes = GetFileAttributesA(places->out.c_str());
  places->outExists = outAttributes != INVALID_FILE_ATTRIBUTES;
  if (!places->outExists) {
    error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      PrintError("can't open " + places->out + ": " + SystemErrorText(error));
      return false;
    }
  } else if (!(outAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
             !IsEmptyFolder(places->out)) {
    PrintError("the output folder " + places->out +
               " exists and is not an empty folder");
    return false;
  }
  return true;
}

}  // namespace

int RunTreeMode(const RunSettings& settings, const Concurrency& concurrency) {
  Places places;
  if (!CheckPlaces(settings, &places)) return kExitFailed;

  TreeFolders folders;
  DWORD error = 0;
  if (!DiscoverTree(places.root, &folders, &error)) {
    PrintError("can't list " + places.root + ": " + SystemErrorText(error));
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
        PrintError("can't list " + JoinPath(places.root, f.path) + ": " +
                   SystemErrorText(f.listError));
    PrintError(std::string("no message base (") + kBaseFileName + ") in " +
               places.root + " or below it");
    return listErrors ? kExitFailed : kExitNothingFound;
  }
  if (!places.outExists && !CreateDirectoryA(places.out.c_str(), nullptr)) {
    PrintError("can't create the output folder " + places.out + ": " +
               SystemErrorText(GetLastError()));
    return kExitFailed;
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
         SizeText(bytes).c_str(), places.root.c_str(), places.out.c_str(),
         std::min(options.jobs, bases));
  printf("\n");
  fflush(stdout);

  const DWORD startTick = GetTickCount();
  const OutputKind& kind = settings.Output();
  std::unique_ptr<TreeLayout> layout = kind.treeLayout();
  options.conversion.output = &kind;
  options.conversion.outputMade = true;
  std::string rootName = LastName(places.root);
  if (rootName.empty()) rootName = "messages";
  TreeRunSummary summary;
  std::string why;
  if (!PlaceFolders(layout.get(), places.out, rootName, &folders, &why)) {
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
  return TreeExitStatus(folders, summary);
}

// korvane ROOT [OUTDIR] -r: the checks of ROOT and OUTDIR before anything
// is created, and the earlier run an OUTDIR may hold.
#include "console/tree_outdir.h"

#include <stdio.h>

#include <vector>

#include "io/paths.h"
#include "console/display_width.h"
#include "console/exit_status.h"
#include "tree/tree_rerun.h"

namespace {

void PrintError(const std::string& text) {
  printf("error: %s", text.c_str());
  printf("\n");
}

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

}  // namespace

bool OpenRoot(const RunSettings& settings, FileSystem* fs, Places* places) {
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
  return true;
}

bool CheckPlaces(const RunSettings& settings, FileSystem* fs, Places* places) {
  if (!OpenRoot(settings, fs, places)) return false;
  DWORD error = ERROR_SUCCESS;
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
  FileIdentity outIdentity;
  bool inside = false, around = false;
  error = fs->Identify(*places->rootFolder, &places->rootIdentity);
  if (error == ERROR_SUCCESS)
    error = LiesIn(fs, *nearest, nearestName, places->rootIdentity, &inside);
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
  // An earlier run into it left its journal: taken up later.
  for (const FolderEntry& e : entries)
    places->withJournal = places->withJournal || (e.name == kJournalName &&
                                                  e.kind == EntryKind::kFile);
  if (outIsNoFolder || (!entries.empty() && !places->withJournal)) {
    PrintError("the output folder " + ConsoleText(places->out) +
               " exists and is not an empty folder");
    return false;
  }
  return true;
}

DWORD CreateOutDir(FileSystem* fs, Places* places) {
  std::unique_ptr<Folder> holder;
  std::string name;
  DWORD error = OpenHolder(fs, places->out, &holder, &name);
  if (error == ERROR_SUCCESS) error = fs->MakeFolder(*holder, name);
  if (error == ERROR_SUCCESS)
    error = fs->OpenSubfolder(*holder, name, &places->outFolder);
  return error;
}

RunCommand CommandOf(const RunSettings& settings, const Places& places) {
  RunCommand command;
  command.root = places.rootIdentity;
  command.rootName = places.root;
  // An inventory is output too: a rerun must make one where the run did.
  command.kind = std::string(settings.Output().name) +
                 (settings.inventory ? " with an inventory" : "");
  command.scan = settings.alternativeScan
                     ? "alternative " + std::to_string(settings.minHeaderSize) +
                           ":" + std::to_string(settings.compatibilityLevel)
                     : "normal";
  return command;
}

EarlierRun TakeUpEarlierRun(FileSystem* fs, const Places& places,
                            const RunCommand& command, TreeLayout* layout,
                            TreeFolders* folders, RunJournal* journal,
                            int* status) {
  *status = kExitFailed;
  const std::string out = ConsoleText(places.out);
  JournalContents earlier;
  DWORD error = ReadJournal(fs, *places.outFolder, &earlier);
  if (error != ERROR_SUCCESS) {
    PrintError("the output folder " + out + " holds a journal (" +
               kJournalName + ") that cannot be read: " +
               (error == ERROR_FILE_INVALID ? "it is not one korvane wrote"
                                            : SystemErrorText(error)));
    return EarlierRun::kNothingToDo;
  }
  std::string why;
  if (!earlier.begun) {
    // Cut off before it made anything but the journal: begun anew.
    if (!ClearUnplaced(fs, *places.outFolder, places.out, &why)) {
      PrintError("can't carry on the run in " + out + ": " + ConsoleText(why));
      return EarlierRun::kNothingToDo;
    }
    error = fs->RemoveFile(*places.outFolder, kJournalName);
    if (error == ERROR_SUCCESS)
      error = journal->Create(fs, *places.outFolder, command);
    if (error != ERROR_SUCCESS) {
      PrintError("can't create " +
                 ConsoleText(JoinPath(places.out, kJournalName)) + ": " +
                 SystemErrorText(error));
      return EarlierRun::kNothingToDo;
    }
    printf("carrying on the run in %s that was cut off: it had not begun",
           out.c_str());
    printf("\n");
    return EarlierRun::kLayOutAnew;
  }
  const RunCommand& was = earlier.command;
  std::string other;
  if (was.root != command.root)
    other = "from another folder, " + was.rootName;
  else if (was.kind != command.kind)
    other = "into another kind of output, " + was.kind;
  else if (was.scan != command.scan)
    other =
        "with another scan, " + was.scan + " (this one: " + command.scan + ")";
  if (!other.empty()) {
    PrintError("the output folder " + out + " holds a run " +
               ConsoleText(other) + "; name another output folder");
    return EarlierRun::kNothingToDo;
  }
  if (earlier.ended) {
    printf(
        "the output folder %s holds a run of %s that went through: "
        "nothing to do (it ended with status %d)",
        out.c_str(), ConsoleText(places.root).c_str(), earlier.status);
    printf("\n");
    *status = earlier.status;
    return EarlierRun::kNothingToDo;
  }
  const bool placed = earlier.placed;
  if (placed ? !PlaceAsJournal(earlier, folders, &why)
             : !ClearUnplaced(fs, *places.outFolder, places.out, &why)) {
    PrintError("can't carry on the run in " + out + ": " +
               (placed ? "the folders of " + ConsoleText(places.root) +
                             " are not those of that run (" + ConsoleText(why) +
                             ")"
                       : ConsoleText(why)));
    return EarlierRun::kNothingToDo;
  }
  int doneBefore = 0;
  for (const TreeFolder& f : *folders)
    doneBefore += f.state == TreeBaseState::kDoneBefore;
  if (placed && !ClearLeftovers(layout, *places.outFolder, places.out, earlier,
                                *folders, &why)) {
    PrintError("can't carry on the run in " + out + ": " + ConsoleText(why));
    return EarlierRun::kNothingToDo;
  }
  error = journal->Continue(fs, *places.outFolder);
  if (error != ERROR_SUCCESS) {
    PrintError("can't write " +
               ConsoleText(JoinPath(places.out, kJournalName)) + ": " +
               SystemErrorText(error));
    return EarlierRun::kNothingToDo;
  }
  printf("carrying on the run in %s that was cut off: %d bases done before",
         out.c_str(), doneBefore);
  printf("\n");
  return placed ? EarlierRun::kCarryOn : EarlierRun::kLayOutAnew;
}

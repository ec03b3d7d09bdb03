// The checks of ROOT and OUTDIR before anything is created, and the
// earlier run an OUTDIR may hold.
#include "run/run_places.h"

#include <vector>

#include "io/paths.h"
#include "tree/tree_rerun.h"

namespace {

Status Refusal(const std::string& text) {
  return Status::Of(StatusKind::kBadInput, text);
}

// A failure of the system while doing something.
Status SystemFailure(DWORD error, const std::string& doing) {
  return Status::System(error).Within(doing);
}

// A full path, and where its links lead when that is elsewhere.
std::string Named(const std::string& full) {
  const std::string resolved = WithLinksResolved(full);
  return full == resolved ? full : full + " (" + resolved + ")";
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

Status OpenRoot(FileSystem* fs, const std::string& rootGiven, Places* places) {
  DWORD error = fs->OpenFolder(rootGiven, &places->rootFolder);
  if (error == ERROR_DIRECTORY)
    return Status::Of(StatusKind::kBadInput, rootGiven + " is not a folder",
                      error);
  if (error == ERROR_SUCCESS && !FullPath(rootGiven, &places->root, &error))
    places->rootFolder.reset();
  if (error != ERROR_SUCCESS)
    return SystemFailure(error, "can't open " + rootGiven);
  return Status::Ok();
}

Status CheckPlaces(FileSystem* fs, const std::string& rootGiven,
                   const std::optional<std::string>& outName,
                   const char* treeSuffix, Places* places) {
  Status status = OpenRoot(fs, rootGiven, places);
  if (!status.IsOk()) return status;
  DWORD error = ERROR_SUCCESS;
  std::string outGiven = outName.value_or("");
  if (!outName) {
    const std::string name = LastName(places->root);
    if (name.empty())
      return Refusal(places->root +
                     " has no name to name the output folder after: name one");
    outGiven = JoinPath(ParentPath(places->root), name + treeSuffix);
  }
  if (!FullPath(outGiven, &places->out, &error))
    return SystemFailure(error, "can't open " + outGiven);
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
  if (error != ERROR_SUCCESS)
    return SystemFailure(error, "can't open " + nearestName);
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
  if (error != ERROR_SUCCESS)
    return SystemFailure(error, "can't tell whether " + places->out +
                                    " lies inside " + places->root);
  if (inside)
    return Refusal("the output folder " + Named(places->out) + " lies inside " +
                   Named(places->root));
  if (around)
    return Refusal(Named(places->root) + " lies inside the output folder " +
                   Named(places->out));
  std::vector<FolderEntry> entries;
  if (places->outFolder) {
    error = fs->List(*places->outFolder, &entries);
    if (error != ERROR_SUCCESS)
      return SystemFailure(error,
                           "can't list the output folder " + places->out);
  }
  // An earlier run into it left its journal: taken up later.
  for (const FolderEntry& e : entries)
    places->withJournal = places->withJournal || (e.name == kJournalName &&
                                                  e.kind == EntryKind::kFile);
  if (outIsNoFolder || (!entries.empty() && !places->withJournal))
    return Status::Of(StatusKind::kExists,
                      "the output folder " + places->out +
                          " exists and is not an empty folder");
  return Status::Ok();
}

Status CreateOutDir(FileSystem* fs, Places* places) {
  std::unique_ptr<Folder> holder;
  std::string name;
  DWORD error = OpenHolder(fs, places->out, &holder, &name);
  if (error == ERROR_SUCCESS) error = fs->MakeFolder(*holder, name);
  if (error == ERROR_SUCCESS)
    error = fs->OpenSubfolder(*holder, name, &places->outFolder);
  if (error != ERROR_SUCCESS)
    return SystemFailure(error,
                         "can't create the output folder " + places->out);
  return Status::Ok();
}

EarlierRun TakeUpEarlierRun(FileSystem* fs, const Places& places,
                            const RunCommand& command, TreeLayout* layout,
                            TreeFolders* folders, RunJournal* journal,
                            EarlierRunInfo* told, Status* failure) {
  const std::string& out = places.out;
  const std::string journalPath = JoinPath(out, kJournalName);
  told->source = places.root;
  told->destination = out;
  JournalContents earlier;
  DWORD error = ReadJournal(fs, *places.outFolder, &earlier);
  if (error != ERROR_SUCCESS) {
    *failure = Status::Of(
        error == ERROR_FILE_INVALID ? StatusKind::kBadInput
                                    : KindOfSystemError(error),
        "the output folder " + out + " holds a journal (" + kJournalName +
            ") that cannot be read: " +
            (error == ERROR_FILE_INVALID ? "it is not one korvane wrote"
                                         : SystemErrorText(error)),
        error == ERROR_FILE_INVALID ? 0 : error);
    return EarlierRun::kNothingToDo;
  }
  std::string why;
  const std::string cantCarryOn = "can't carry on the run in " + out + ": ";
  if (!earlier.begun) {
    // Cut off before it made anything but the journal: begun anew.
    if (!ClearUnplaced(fs, *places.outFolder, out, &why)) {
      *failure = Status::Of(StatusKind::kOther, cantCarryOn + why);
      return EarlierRun::kNothingToDo;
    }
    error = fs->RemoveFile(*places.outFolder, kJournalName);
    if (error == ERROR_SUCCESS)
      error = journal->Create(fs, *places.outFolder, command);
    if (error != ERROR_SUCCESS) {
      *failure = SystemFailure(error, "can't create " + journalPath);
      return EarlierRun::kNothingToDo;
    }
    told->state = EarlierRunInfo::State::kNotBegun;
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
    *failure = Refusal("the output folder " + out + " holds a run " + other +
                       "; name another output folder");
    return EarlierRun::kNothingToDo;
  }
  if (earlier.ended) {
    told->state = EarlierRunInfo::State::kWentThrough;
    told->status = earlier.status;
    return EarlierRun::kNothingToDo;
  }
  const bool placed = earlier.placed;
  if (placed ? !PlaceAsJournal(earlier, folders, &why)
             : !ClearUnplaced(fs, *places.outFolder, out, &why)) {
    *failure = Status::Of(
        placed ? StatusKind::kBadInput : StatusKind::kOther,
        cantCarryOn + (placed ? "the folders of " + places.root +
                                    " are not those of that run (" + why + ")"
                              : why));
    return EarlierRun::kNothingToDo;
  }
  int doneBefore = 0;
  for (const TreeFolder& f : *folders)
    doneBefore += f.state == TreeBaseState::kDoneBefore;
  if (placed && !ClearLeftovers(layout, *places.outFolder, out, earlier,
                                *folders, &why)) {
    *failure = Status::Of(StatusKind::kOther, cantCarryOn + why);
    return EarlierRun::kNothingToDo;
  }
  error = journal->Continue(fs, *places.outFolder);
  if (error != ERROR_SUCCESS) {
    *failure = SystemFailure(error, "can't write " + journalPath);
    return EarlierRun::kNothingToDo;
  }
  told->state = EarlierRunInfo::State::kCutOff;
  told->doneBefore = doneBefore;
  return placed ? EarlierRun::kCarryOn : EarlierRun::kLayOutAnew;
}

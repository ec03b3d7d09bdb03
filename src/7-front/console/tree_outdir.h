// Where a tree run reads and writes, checked before anything is made, and
// what OUTDIR holds of an earlier run that was cut off.
#ifndef KORVANE_CONSOLE_TREE_OUTDIR_H_
#define KORVANE_CONSOLE_TREE_OUTDIR_H_

#include <memory>
#include <string>

#include "io/file_system.h"
#include "output_tree/tree_layout.h"
#include "console/command_line.h"
#include "tree/run_journal.h"
#include "tree/tree_folders.h"

struct Places {
  std::string root;  // full paths
  std::string out;
  std::unique_ptr<Folder> rootFolder;
  std::unique_ptr<Folder> outFolder;  // when it exists
  FileIdentity rootIdentity;
  // OUTDIR is not empty but holds the journal of an earlier run.
  bool withJournal = false;
};

// Opens ROOT, or prints why not (status 2).
bool OpenRoot(const RunSettings& settings, FileSystem* fs, Places* places);

// Where the tree comes from and goes to, or a refusal (status 2, printed)
// before anything is created. Whether one lies in the other is told by the
// folders' identities, which neither a link nor a bind mount hides.
bool CheckPlaces(const RunSettings& settings, FileSystem* fs, Places* places);

// Creates OUTDIR, new, and opens it.
DWORD CreateOutDir(FileSystem* fs, Places* places);

// What this run is, for the journal.
RunCommand CommandOf(const RunSettings& settings, const Places& places);

enum class EarlierRun {
  kCarryOn,      // the folders have the earlier run's places; the bases it
                 // finished are done before, what it left else is gone
  kLayOutAnew,   // it was cut off before its places were all made: they are
                 // gone, the folders are to be placed anew
  kNothingToDo,  // it went through, or it cannot be taken up (printed)
};

// Takes up the run whose journal OUTDIR holds (places.withJournal), with
// layout, and continues its journal in journal. For kNothingToDo, *status
// is the process's exit status.
EarlierRun TakeUpEarlierRun(FileSystem* fs, const Places& places,
                            const RunCommand& command, TreeLayout* layout,
                            TreeFolders* folders, RunJournal* journal,
                            int* status);

#endif  // KORVANE_CONSOLE_TREE_OUTDIR_H_

// Where a tree run reads and writes, checked before anything is made, and
// what OUTDIR holds of an earlier run that was cut off.
#ifndef KORVANE_RUN_RUN_PLACES_H_
#define KORVANE_RUN_RUN_PLACES_H_

#include <memory>
#include <optional>
#include <string>

#include "io/file_system.h"
#include "output_tree/tree_layout.h"
#include "run/run_events.h"
#include "status/status.h"
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

// Opens ROOT (rootGiven, as the user named it).
Status OpenRoot(FileSystem* fs, const std::string& rootGiven, Places* places);

// Where the tree comes from (rootGiven) and goes to (outGiven; none for the
// default, ROOT's name with treeSuffix beside it), or a refusal before
// anything is created. Whether one lies in the other is told by the
// folders' identities, which neither a link nor a bind mount hides.
Status CheckPlaces(FileSystem* fs, const std::string& rootGiven,
                   const std::optional<std::string>& outGiven,
                   const char* treeSuffix, Places* places);

// Creates OUTDIR, new, and opens it.
Status CreateOutDir(FileSystem* fs, Places* places);

enum class EarlierRun {
  kCarryOn,      // the folders have the earlier run's places; the bases it
                 // finished are done before, what it left else is gone
  kLayOutAnew,   // it was cut off before its places were all made: they are
                 // gone, the folders are to be placed anew
  kNothingToDo,  // it went through (*told says so), or it cannot be taken
                 // up (*error says why)
};

// Takes up the run whose journal OUTDIR holds (places.withJournal), with
// layout, and continues its journal in journal. *told: what became of the
// earlier run, where it could be taken up or went through.
EarlierRun TakeUpEarlierRun(FileSystem* fs, const Places& places,
                            const RunCommand& command, TreeLayout* layout,
                            TreeFolders* folders, RunJournal* journal,
                            EarlierRunInfo* told, Status* error);

#endif  // KORVANE_RUN_RUN_PLACES_H_

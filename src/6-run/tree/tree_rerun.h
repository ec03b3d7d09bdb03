// Carrying on a tree run that was cut off (killed, interrupted, stopped
// by a full disk), from the journal it left in OUTDIR: the same places,
// the bases it finished kept, everything else it left taken away.
#ifndef KORVANE_TREE_TREE_RERUN_H_
#define KORVANE_TREE_TREE_RERUN_H_

#include <string>

#include "io/file_system.h"
#include "output_tree/tree_layout.h"
#include "tree/run_journal.h"
#include "tree/tree_folders.h"

// Gives every folder the place the journal recorded for it and marks each
// base it recorded finished as done before, with its messages. False, with
// *why, where the journal's folders are not these (ROOT changed since).
bool PlaceAsJournal(const JournalContents& journal, TreeFolders* folders,
                    std::string* why);

// Has layout take away, at the place of every base still to convert, what
// the journal's runs left there. False, with *why naming the place, where
// something cannot be taken away.
bool ClearLeftovers(TreeLayout* layout, const Folder& outDir,
                    const std::string& outDirName,
                    const JournalContents& journal, const TreeFolders& folders,
                    std::string* why);

// Takes away below outDir what a run cut off while it made its places left
// there: empty files and empty folders (the journal stays). False, with
// *why, where anything else is there; nothing is taken away then.
bool ClearUnplaced(FileSystem* fs, const Folder& outDir,
                   const std::string& outDirName, std::string* why);

#endif  // KORVANE_TREE_TREE_RERUN_H_

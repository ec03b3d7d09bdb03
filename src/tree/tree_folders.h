// The folders of a tree run: what the walk found under ROOT, where the
// layout puts each one, and how its conversion went.
#ifndef KORVANE_TREE_TREE_FOLDERS_H_
#define KORVANE_TREE_TREE_FOLDERS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "convert/conversion.h"
#include "layout/tree_layout.h"
#include "platform/win32.h"

// The name of a folder's base, compared without regard to case.
extern const char kBaseFileName[];

enum class TreeBaseState {
  kNoBase,      // the folder holds no base
  kWaiting,     // a base to convert
  kDone,        // converted or failed: see result
  kNotStarted,  // the run stopped before it came to this base
};

// Found by the walk: the place's name, parent, base and basesBelow, and
// what follows; the layout sets the place's output.
struct TreeFolder : FolderPlace {
  std::string path;  // below ROOT, with the system's separators; "" for ROOT
  // A further base in the folder before this one, its name differing only
  // in case (where names are told apart by case): converted as a folder
  // of its own, with no folders below it.
  bool twin = false;
  uint64_t baseSize = 0;
  DWORD listError = 0;  // the folder could not be listed: why

  // Set by the run.
  TreeBaseState state = TreeBaseState::kNoBase;
  ConversionResult result;
};

// The folders in tree order: each folder, then its twins, then the folders
// below it, those of one folder sorted by name (CompareNames). ROOT comes
// first.
typedef std::vector<TreeFolder> TreeFolders;

// Walks the folder rootPath and everything below it. Symbolic links and
// junctions to folders are not followed. A folder that cannot be listed is
// kept with its listError. False only when rootPath itself cannot be
// listed; *error is then the system's code.
bool DiscoverTree(const std::string& rootPath, TreeFolders* folders,
                  DWORD* error);

// Has layout place every folder below outDir (TreeLayout::Prepare).
bool PlaceFolders(TreeLayout* layout, const std::string& outDir,
                  const std::string& rootName, TreeFolders* folders,
                  std::string* error);

#endif  // KORVANE_TREE_TREE_FOLDERS_H_

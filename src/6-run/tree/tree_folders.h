// The folders of a tree run: what the walk found under ROOT, where the
// layout puts each one, and how its conversion went.
#ifndef KORVANE_TREE_TREE_FOLDERS_H_
#define KORVANE_TREE_TREE_FOLDERS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "convert/conversion.h"
#include "io/file_system.h"
#include "output_tree/tree_layout.h"
#include "platform/win32.h"

// The name of a folder's base, compared without regard to case.
extern const char kBaseFileName[];

enum class TreeBaseState {
  kNoBase,      // the folder holds no base
  kWaiting,     // a base to convert
  kDone,        // converted or failed: see result
  kNotStarted,  // the run stopped before it came to this base
  kDoneBefore,  // converted by the run that was cut off (see result.messages)
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
  // An entry named as a base that is no regular file (a link, a FIFO, a
  // device, ...): never opened, told in the table and nothing more. The
  // folder's regular bases come first; such an entry is a twin of its own.
  std::string skippedName;
  EntryKind skippedKind = EntryKind::kOther;

  // Set by the run.
  TreeBaseState state = TreeBaseState::kNoBase;
  ConversionResult result;
};

// The folders in tree order: each folder, then its twins, then the folders
// below it, those of one folder sorted by name (CompareNames). ROOT comes
// first.
typedef std::vector<TreeFolder> TreeFolders;

// Walks the open folder root and everything below it, each folder opened
// in the one above it, so that no path is too long to reach. Symbolic
// links and junctions are not followed. A folder that cannot be opened or
// listed is kept with its listError. False only when root itself cannot be
// listed; *error is then the system's code.
bool DiscoverTree(FileSystem* fs, const Folder& root, TreeFolders* folders,
                  DWORD* error);
// The same for the folder named rootPath.
bool DiscoverTree(const std::string& rootPath, TreeFolders* folders,
                  DWORD* error);

// Has layout place every folder below outDir, named outDirName in messages
// (TreeLayout::Prepare).
bool PlaceFolders(TreeLayout* layout, const Folder& outDir,
                  const std::string& outDirName, const std::string& rootName,
                  TreeFolders* folders, std::string* error);
// The same in the folder named outDir.
bool PlaceFolders(TreeLayout* layout, const std::string& outDir,
                  const std::string& rootName, TreeFolders* folders,
                  std::string* error);

#endif  // KORVANE_TREE_TREE_FOLDERS_H_

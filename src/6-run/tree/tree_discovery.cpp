// The walk over ROOT: every folder below it, in tree order, and the base
// in each.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bytes/ascii.h"
#include "inventory/inventory.h"
#include "io/paths.h"
#include "tree/run_journal.h"
#include "tree/tree_folders.h"

const char kBaseFileName[] = "messages.tbb";

namespace {

// A folder being walked: open while the folders below it are.
struct Frame {
  const Folder* folder;
  std::unique_ptr<Folder> owned;
  int index;                          // in the folders
  std::vector<std::string> children;  // sorted
  size_t next = 0;
};

bool NameOrder(const std::string& a, const std::string& b) {
  return CompareNames(a, b) < 0;
}

// Lists the folder at index and records its bases (the regular ones first,
// then the entries so named that are not regular files, each after the
// first a twin); *children gets its folders, sorted.
DWORD Visit(FileSystem* fs, const Folder& folder, int index,
            TreeFolders* folders, std::vector<std::string>* children) {
  std::vector<FolderEntry> entries;
  const DWORD error = fs->List(folder, &entries);
  if (error != ERROR_SUCCESS) return error;
  std::vector<const FolderEntry*> bases;
  for (const FolderEntry& e : entries) {
    if (e.kind == EntryKind::kFolder)
      children->push_back(e.name);
    else if (FoldedAscii(e.name) == kBaseFileName)
      bases.push_back(&e);  // more than one only where case counts
  }
  std::sort(bases.begin(), bases.end(),
            [](const FolderEntry* a, const FolderEntry* b) {
              const bool aFile = a->kind == EntryKind::kFile;
              if (aFile != (b->kind == EntryKind::kFile)) return aFile;
              return NameOrder(a->name, b->name);
            });
  for (size_t i = 0; i < bases.size(); ++i) {
    if (i > 0) {
      TreeFolder twin = (*folders)[index];
      twin.baseName.clear();
      twin.skippedName.clear();
      twin.baseSize = 0;
      twin.state = TreeBaseState::kNoBase;
      twin.twin = true;
      folders->push_back(std::move(twin));
    }
    TreeFolder& f = folders->back();
    if (bases[i]->kind == EntryKind::kFile) {
      f.baseName = bases[i]->name;
      f.baseSize = bases[i]->size;
      f.state = TreeBaseState::kWaiting;
    } else {
      f.skippedName = bases[i]->name;
      f.skippedKind = bases[i]->kind;
    }
  }
  std::sort(children->begin(), children->end(), NameOrder);
  return ERROR_SUCCESS;
}

}  // namespace

bool DiscoverTree(FileSystem* fs, const Folder& root, TreeFolders* folders,
                  DWORD* error) {
  folders->clear();
  folders->emplace_back();
  std::vector<Frame> stack(1);
  stack[0].folder = &root;
  stack[0].index = 0;
  *error = Visit(fs, root, 0, folders, &stack[0].children);
  if (*error != ERROR_SUCCESS) {
    folders->clear();
    return false;
  }
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.children.size()) {
      stack.pop_back();
      continue;
    }
    const std::string name = top.children[top.next++];
    const int parent = top.index;
    const int index = static_cast<int>(folders->size());
    folders->emplace_back();
    TreeFolder& folder = folders->back();
    folder.path = JoinPath((*folders)[parent].path, name);
    folder.name = name;
    folder.parent = parent;

    Frame child;
    child.index = index;
    // Opened in its parent, never through a link: what was listed as a
    // folder and is no longer one is told, not passed over.
    DWORD failure = fs->OpenSubfolder(*top.folder, name, &child.owned);
    if (failure == ERROR_SUCCESS) {
      child.folder = child.owned.get();
      failure = Visit(fs, *child.folder, index, folders, &child.children);
    }
    if (failure != ERROR_SUCCESS) {
      (*folders)[index].listError = failure;
      continue;
    }
    stack.push_back(std::move(child));
  }
  // Parents come before their children: one pass backwards tells each
  // folder whether a base lies below it.
  for (size_t i = folders->size(); i-- > 1;) {
    const TreeFolder& f = (*folders)[i];
    if (f.parent >= 0 && (f.HasBase() || f.basesBelow))
      (*folders)[f.parent].basesBelow = true;
  }
  return true;
}

bool DiscoverTree(const std::string& rootPath, TreeFolders* folders,
                  DWORD* error) {
  std::unique_ptr<Folder> root;
  *error = RealFileSystem()->OpenFolder(rootPath, &root);
  if (*error == ERROR_SUCCESS)
    return DiscoverTree(RealFileSystem(), *root, folders, error);
  folders->clear();
  return false;
}

bool PlaceFolders(TreeLayout* layout, const Folder& outDir,
                  const std::string& outDirName, const std::string& rootName,
                  TreeFolders* folders, std::string* error) {
  FolderPlaces places(folders->begin(), folders->end());
  const bool placed = layout->Prepare(
      outDir, outDirName, rootName, &places, error,
      {kJournalName, kTreeInventoryName, kEarlierInventoryName});
  for (size_t i = 0; i < places.size(); ++i) {
    (*folders)[i].output = places[i].output;
    (*folders)[i].renamedBecause = places[i].renamedBecause;
  }
  return placed;
}

bool PlaceFolders(TreeLayout* layout, const std::string& outDir,
                  const std::string& rootName, TreeFolders* folders,
                  std::string* error) {
  std::unique_ptr<Folder> open;
  const DWORD failure = RealFileSystem()->OpenFolder(outDir, &open);
  if (failure != ERROR_SUCCESS) {
    *error = "can't open " + outDir + ": " + SystemErrorText(failure);
    return false;
  }
  return PlaceFolders(layout, *open, outDir, rootName, folders, error);
}

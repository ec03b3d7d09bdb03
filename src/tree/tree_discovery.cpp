// The walk over ROOT: every folder below it, in tree order, and the base
// in each.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "io/paths.h"
#include "tree/tree_folders.h"

const char kBaseFileName[] = "messages.tbb";

namespace {

struct Pending {
  std::string path;
  std::string name;
  int parent;
};

struct Base {
  std::string name;
  uint64_t size;
};

struct Listing {
  std::vector<std::string> folders;
  std::vector<Base> bases;  // more than one only where case counts
};

// Lists one folder. False with the system's code when it cannot.
bool ListFolder(const std::string& folder, Listing* listing, DWORD* error) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  do {
    const std::string name = data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A link or junction to a folder is not followed: it may lead out of
      // the tree or round in a loop.
      if (name != "." && name != ".." &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        listing->folders.push_back(name);
    } else if (_stricmp(name.c_str(), kBaseFileName) == 0) {
      listing->bases.push_back(
          {name, (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    }
  } while (FindNextFileA(find, &data));
  *error = GetLastError();
  FindClose(find);
  return *error == ERROR_NO_MORE_FILES;
}

}  // namespace

bool DiscoverTree(const std::string& rootPath, TreeFolders* folders,
                  DWORD* error) {
  folders->clear();
  std::vector<Pending> stack;
  stack.push_back({std::string(), std::string(), -1});
  while (!stack.empty()) {
    Pending next = std::move(stack.back());
    stack.pop_back();
    const int index = static_cast<int>(folders->size());
    folders->emplace_back();
    TreeFolder& folder = folders->back();
    folder.path = next.path;
    folder.name = next.name;
    folder.parent = next.parent;

    Listing listing;
    DWORD listError = 0;
    if (!ListFolder(JoinPath(rootPath, next.path), &listing, &listError)) {
      if (index == 0) {
        *error = listError;
        folders->clear();
        return false;
      }
      folder.listError = listError;
      continue;
    }
    std::sort(listing.bases.begin(), listing.bases.end(),
              [](const Base& a, const Base& b) {
                return CompareNames(a.name, b.name) < 0;
              });
    // The folder takes the first base; each further one (a name that
    // differs only in case) comes right after it, to be converted too.
    for (size_t i = 0; i < listing.bases.size(); ++i) {
      if (i > 0) {
        TreeFolder twin = (*folders)[index];
        twin.twin = true;
        folders->push_back(std::move(twin));
      }
      TreeFolder& f = folders->back();
      f.baseName = listing.bases[i].name;
      f.baseSize = listing.bases[i].size;
      f.state = TreeBaseState::kWaiting;
    }
    std::sort(listing.folders.begin(), listing.folders.end(),
              [](const std::string& a, const std::string& b) {
                return CompareNames(a, b) < 0;
              });
    for (auto i = listing.folders.rbegin(); i != listing.folders.rend(); ++i)
      stack.push_back({JoinPath(next.path, *i), *i, index});
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

bool PlaceFolders(TreeLayout* layout, const std::string& outDir,
                  const std::string& rootName, TreeFolders* folders,
                  std::string* error) {
  FolderPlaces places(folders->begin(), folders->end());
  const bool placed = layout->Prepare(outDir, rootName, &places, error);
  for (size_t i = 0; i < places.size(); ++i) {
    (*folders)[i].output = places[i].output;
    (*folders)[i].renamedBecause = places[i].renamedBecause;
  }
  return placed;
}

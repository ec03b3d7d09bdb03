// The mbox tree layout: OUTDIR/A.sbd/B for the base in ROOT/A/B.
#include "mbox/mbox_tree_layout.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include "bytes/ascii.h"
#include "io/paths.h"
#include "platform/system_error.h"

namespace {

const char kSubfolderSuffix[] = ".sbd";

// The names taken in one output folder, folded.
typedef std::set<std::string> Claimed;

// The first of name, name-2, name-3, ... that is free in claimed, together
// with its subfolder name when one is needed.
std::string FirstFree(const std::string& name, bool withFolder,
                      const Claimed& claimed) {
  for (int n = 1;; ++n) {
    std::string candidate = n == 1 ? name : name + "-" + std::to_string(n);
    if (claimed.count(FoldedAscii(candidate)) == 0 &&
        (!withFolder ||
         claimed.count(FoldedAscii(candidate + kSubfolderSuffix)) == 0))
      return candidate;
  }
}

// Creates the empty mbox file at path, and before it the subfolder for the
// folders below, when there are any. Neither may exist yet. False with the
// system's code; then neither is left behind.
bool CreatePlace(const std::string& path, bool withFolder, DWORD* error) {
  const std::string folder = path + kSubfolderSuffix;
  if (withFolder && !CreateDirectoryA(folder.c_str(), nullptr)) {
    *error = GetLastError();
    return false;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    if (withFolder) RemoveDirectoryA(folder.c_str());
    return false;
  }
  CloseHandle(file);
  return true;
}

}  // namespace

bool MboxTreeLayout::Prepare(const std::string& outDir,
                             const std::string& rootName, FolderPlaces* folders,
                             std::string* error) {
  // Below outDir: where each folder's subfolders go ("" for outDir).
  std::vector<std::string> subfolders(folders->size());
  std::map<std::string, Claimed> claimed;
  for (size_t i = 0; i < folders->size(); ++i) {
    FolderPlace& f = (*folders)[i];
    const bool isRoot = f.parent < 0;  // ROOT or a further base of it
    if (!f.HasBase() && (isRoot || !f.basesBelow)) continue;
    // ROOT's folders go into outDir itself; its base beside them.
    const bool withFolder = !isRoot && f.basesBelow;
    const std::string where = isRoot ? std::string() : subfolders[f.parent];
    const std::string own = isRoot ? rootName : f.name;
    Claimed& taken = claimed[where];

    std::string name = FirstFree(own, withFolder, taken);
    DWORD refusal = 0;
    if (!CreatePlace(JoinPath(outDir, JoinPath(where, name)), withFolder,
                     &refusal)) {
      name = FirstFree("folder-" + std::to_string(i), withFolder, taken);
      DWORD failure = 0;
      if (!CreatePlace(JoinPath(outDir, JoinPath(where, name)), withFolder,
                       &failure)) {
        *error = "can't create " + JoinPath(outDir, JoinPath(where, name)) +
                 ": " + SystemErrorText(failure);
        return false;
      }
      f.renamedBecause = "the name \"" + own +
                         "\" cannot be used there: " + SystemErrorText(refusal);
    } else if (name != own) {
      f.renamedBecause = "\"" + own + "\" is taken";
    }
    taken.insert(FoldedAscii(name));
    if (withFolder) taken.insert(FoldedAscii(name + kSubfolderSuffix));
    f.output = JoinPath(where, name);
    if (withFolder) subfolders[i] = f.output + kSubfolderSuffix;
  }
  return true;
}

void MboxTreeLayout::Discard(const std::string& outDir,
                             const FolderPlace& folder) {
  // A folder with folders below it keeps its file, for the hierarchy.
  if (folder.output.empty() || (folder.parent >= 0 && folder.basesBelow))
    return;
  DeleteFileA(JoinPath(outDir, folder.output).c_str());
}

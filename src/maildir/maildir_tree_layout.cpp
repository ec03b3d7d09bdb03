// The Maildir++ tree layout: OUTDIR/.A.B for the base in ROOT/A/B.
#include "maildir/maildir_tree_layout.h"

#include <set>
#include <string>
#include <vector>

#include "bytes/ascii.h"
#include "io/paths.h"
#include "maildir/maildir_folder.h"
#include "maildir/maildir_plus.h"
#include "platform/system_error.h"

namespace {

const char kTopFolder[] = ".";
const char kInboxPrefix[] = ".INBOX";

// The first of prefix.name, prefix.name-2, ... that is free in claimed.
std::string FirstFree(const std::string& prefix, const std::string& name,
                      const std::set<std::string>& claimed) {
  for (int n = 1;; ++n) {
    const std::string candidate =
        prefix + "." +
        MaildirPlusName(n == 1 ? name : name + "-" + std::to_string(n));
    if (claimed.count(FoldedAscii(candidate)) == 0) return candidate;
  }
}

// Creates the Maildir of a folder below the top one; it must not exist.
DWORD CreateFolder(const std::string& outDir, const std::string& name) {
  // Where "\" separates names, an escape would make a path of the name.
  if (kPathSeparator == '\\' && name.find('\\') != std::string::npos)
    return ERROR_INVALID_NAME;
  const std::string path = JoinPath(outDir, name);
  if (!CreateDirectoryA(path.c_str(), nullptr)) return GetLastError();
  return CreateMaildir(path, true);
}

}  // namespace

bool MaildirTreeLayout::Prepare(const std::string& outDir,
                                const std::string& rootName,
                                FolderPlaces* folders, std::string* error) {
  DWORD failure = CreateMaildir(outDir, false);
  if (failure != ERROR_SUCCESS) {
    *error = "can't create " + outDir + ": " + SystemErrorText(failure);
    return false;
  }
  // What the folders below each folder are named after ("" for ROOT's).
  std::vector<std::string> prefixes(folders->size());
  std::set<std::string> claimed;
  bool topTaken = false;
  for (size_t i = 0; i < folders->size(); ++i) {
    FolderPlace& f = (*folders)[i];
    const bool isRoot = f.parent < 0;  // ROOT or a further base of it
    if (!f.HasBase() && (isRoot || !f.basesBelow)) continue;
    const std::string own = isRoot ? rootName : f.name;
    // ROOT's folders go into the top folder; its base beside them.
    const std::string prefix = isRoot ? std::string() : prefixes[f.parent];

    if (!topTaken && (isRoot || f.parent == 0) && IsInboxName(own)) {
      topTaken = true;
      f.output = kTopFolder;
      if (!isRoot) prefixes[i] = kInboxPrefix;
      claimed.insert(FoldedAscii(kInboxPrefix));
      continue;
    }
    std::string name = FirstFree(prefix, own, claimed);
    const DWORD refusal = CreateFolder(outDir, name);
    if (refusal != ERROR_SUCCESS) {
      name = FirstFree("", "folder-" + std::to_string(i), claimed);
      failure = CreateFolder(outDir, name);
      if (failure != ERROR_SUCCESS) {
        *error = "can't create " + JoinPath(outDir, name) + ": " +
                 SystemErrorText(failure);
        return false;
      }
      f.renamedBecause = "the name \"" + own +
                         "\" cannot be used there: " + SystemErrorText(refusal);
    } else if (name != prefix + "." + MaildirPlusName(own)) {
      f.renamedBecause = "\"" + own + "\" is taken";
    }
    claimed.insert(FoldedAscii(name));
    f.output = name;
    if (!isRoot) prefixes[i] = name;
  }
  return true;
}

void MaildirTreeLayout::Discard(const std::string& outDir,
                                const FolderPlace& folder) {
  // The top folder stays, and so does a folder with folders below it.
  if (folder.output.empty() || folder.output == kTopFolder ||
      (folder.parent >= 0 && folder.basesBelow))
    return;
  const std::string path = JoinPath(outDir, folder.output);
  DeleteFileA(JoinPath(path, "maildirfolder").c_str());
  for (const char* sub : {"cur", "new", "tmp"})
    RemoveDirectoryA(JoinPath(path, sub).c_str());
  RemoveDirectoryA(path.c_str());
}

#include "tree/tree_rerun.h"

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "inventory/inventory.h"
#include "io/paths.h"
#include "platform/system_error.h"

namespace {

typedef std::pair<std::string, std::string> Key;  // path, base name

std::string Told(const Key& key) {
  return key.second.empty() ? (key.first.empty() ? "." : key.first)
                            : JoinPath(key.first, key.second);
}

// Whether everything below folder is empty files and folders (the journal
// aside), and what makes it not so; takes them away when remove.
DWORD EmptiesBelow(FileSystem* fs, const Folder& folder, const std::string& at,
                   bool top, bool remove, std::string* other) {
  std::vector<FolderEntry> entries;
  DWORD error = fs->List(folder, &entries);
  for (const FolderEntry& e : entries) {
    if (error != ERROR_SUCCESS || !other->empty()) break;
    // The journal, and the run's inventory (the rerun takes it over).
    if (top && (e.name == kJournalName || e.name == kTreeInventoryName ||
                e.name == kEarlierInventoryName))
      continue;
    const std::string name = JoinPath(at, e.name);
    if (e.kind == EntryKind::kFile && e.size == 0) {
      if (remove) error = fs->RemoveFile(folder, e.name);
    } else if (e.kind == EntryKind::kFolder) {
      std::unique_ptr<Folder> sub;
      error = fs->OpenSubfolder(folder, e.name, &sub);
      if (error == ERROR_SUCCESS)
        error = EmptiesBelow(fs, *sub, name, false, remove, other);
      sub.reset();  // an open folder cannot be removed everywhere
      if (error == ERROR_SUCCESS && remove)
        error = fs->RemoveFolder(folder, e.name);
    } else {
      *other = name;
    }
  }
  return error;
}

}  // namespace

bool PlaceAsJournal(const JournalContents& journal, TreeFolders* folders,
                    std::string* why) {
  std::map<Key, size_t> found;
  size_t bases = 0;
  for (size_t i = 0; i < folders->size(); ++i) {
    const TreeFolder& f = (*folders)[i];
    found.emplace(Key(f.path, f.baseName), i);  // a folder before its twins
    bases += f.HasBase();
  }
  size_t placedBases = 0;
  for (const JournalPlace& p : journal.places) {
    const auto at = found.find(Key(p.path, p.baseName));
    if (at == found.end()) {
      *why = Told(Key(p.path, p.baseName)) + " is gone";
      return false;
    }
    TreeFolder& f = (*folders)[at->second];
    f.output = p.output;
    f.renamedBecause = p.renamedBecause;
    placedBases += f.HasBase();
  }
  if (placedBases != bases) {
    for (const TreeFolder& f : *folders)
      if (f.HasBase() && f.output.empty()) {
        *why = Told(Key(f.path, f.baseName)) + " is new";
        return false;
      }
  }
  for (const JournalDone& d : journal.done) {
    const auto at = found.find(Key(d.path, d.baseName));
    if (at == found.end() || !(*folders)[at->second].HasBase()) {
      *why = Told(Key(d.path, d.baseName)) + " is gone";
      return false;
    }
    TreeFolder& f = (*folders)[at->second];
    f.state = TreeBaseState::kDoneBefore;
    f.result.messages = d.messages;
  }
  return true;
}

bool ClearLeftovers(TreeLayout* layout, const Folder& outDir,
                    const std::string& outDirName,
                    const JournalContents& journal, const TreeFolders& folders,
                    std::string* why) {
  for (const TreeFolder& f : folders) {
    if (f.state != TreeBaseState::kWaiting || f.output.empty()) continue;
    const DWORD error = layout->Clear(outDir, f, journal.runs);
    if (error != ERROR_SUCCESS) {
      *why = "can't clear " + JoinPath(outDirName, f.output) + ": " +
             SystemErrorText(error);
      return false;
    }
  }
  return true;
}

bool ClearUnplaced(FileSystem* fs, const Folder& outDir,
                   const std::string& outDirName, std::string* why) {
  std::string other;
  DWORD error = EmptiesBelow(fs, outDir, "", true, false, &other);
  if (error == ERROR_SUCCESS && other.empty())
    error = EmptiesBelow(fs, outDir, "", true, true, &other);
  if (error != ERROR_SUCCESS)
    *why = "can't clear " + outDirName + ": " + SystemErrorText(error);
  else if (!other.empty())
    *why = JoinPath(outDirName, other) + " is not what the run left there";
  return error == ERROR_SUCCESS && other.empty();
}

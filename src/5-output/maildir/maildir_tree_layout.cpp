// The Maildir++ tree layout: OUTDIR/.A.B for the base in ROOT/A/B.
#include "maildir/maildir_tree_layout.h"

#include <string>
#include <vector>

#include "maildir/maildir_folder.h"
#include "maildir/maildir_name.h"
#include "maildir/maildir_plus.h"

namespace {

const char kTopFolder[] = ".";
const char kInboxPrefix[] = ".INBOX";

// What the places below folder i's folder are named after ("" for ROOT's).
std::string Prefix(const FolderPlaces& folders, size_t i) {
  const int parent = folders[i].parent;
  if (parent <= 0) return std::string();
  const std::string& output = folders[parent].output;
  return output == kTopFolder ? kInboxPrefix : output;
}

// Takes the Maildir name in outDir away, as far as it holds only what a
// place is made of.
void RemoveMaildir(FileSystem* fs, const Folder& outDir,
                   const std::string& name) {
  std::unique_ptr<Folder> folder;
  if (fs->OpenSubfolder(outDir, name, &folder) == ERROR_SUCCESS) {
    fs->RemoveFile(*folder, "maildirfolder");
    for (const char* sub : {"cur", "new", "tmp"})
      fs->RemoveFolder(*folder, sub);
  }
  folder.reset();  // an open folder cannot be removed everywhere
  fs->RemoveFolder(outDir, name);
}

}  // namespace

DWORD MaildirTreeLayout::Start(const Folder& outDir) {
  topTaken = false;
  return CreateMaildir(fs, outDir, false);
}

bool MaildirTreeLayout::FixedPlace(const FolderPlaces& folders, size_t i,
                                   const std::string& own,
                                   std::string* output) {
  const int parent = folders[i].parent;
  if (topTaken || parent > 0 || !IsInboxName(own)) return false;
  topTaken = true;
  *output = kTopFolder;
  return true;
}

std::string MaildirTreeLayout::Form(const FolderPlaces& folders, size_t i,
                                    const std::string& given, bool fallback) {
  return (fallback ? std::string() : Prefix(folders, i)) + "." +
         MaildirPlusName(given);
}

std::vector<std::string> MaildirTreeLayout::Claims(const FolderPlaces&, size_t,
                                                   const std::string& output) {
  // The top folder takes the INBOX's name from the folders below it.
  return {output == kTopFolder ? kInboxPrefix : output};
}

DWORD MaildirTreeLayout::Make(const Folder& outDir, const FolderPlaces&, size_t,
                              const std::string& output) {
  return MakePlace(outDir, output);
}

DWORD MaildirTreeLayout::MakePlace(const Folder& outDir,
                                   const std::string& output) {
  DWORD error = fs->MakeFolder(outDir, output);
  if (error != ERROR_SUCCESS) return error;
  std::unique_ptr<Folder> folder;
  error = fs->OpenSubfolder(outDir, output, &folder);
  if (error == ERROR_SUCCESS) error = CreateMaildir(fs, *folder, true);
  folder.reset();
  if (error != ERROR_SUCCESS) RemoveMaildir(fs, outDir, output);
  return error;
}

void MaildirTreeLayout::Discard(const Folder& outDir,
                                const FolderPlace& folder) {
  // The top folder stays, and so does a folder with folders below it.
  if (folder.output.empty() || folder.output == kTopFolder ||
      (folder.parent >= 0 && folder.basesBelow))
    return;
  RemoveMaildir(fs, outDir, folder.output);
}

DWORD MaildirTreeLayout::Clear(const Folder& outDir, const FolderPlace& folder,
                               const std::vector<WriterRun>& runs) {
  if (folder.output.empty() || !folder.HasBase()) return ERROR_SUCCESS;
  std::unique_ptr<Folder> maildir;
  DWORD error = ERROR_SUCCESS;
  if (folder.output != kTopFolder) {
    error = fs->OpenSubfolder(outDir, folder.output, &maildir);
    // Given back by a conversion that failed (Discard): made again.
    if (error == ERROR_PATH_NOT_FOUND) return MakePlace(outDir, folder.output);
  }
  for (const char* sub : {"tmp", "cur", "new"}) {
    std::unique_ptr<Folder> open;
    std::vector<FolderEntry> entries;
    if (error == ERROR_SUCCESS)
      error = fs->OpenSubfolder(maildir ? *maildir : outDir, sub, &open);
    if (error == ERROR_SUCCESS) error = fs->List(*open, &entries);
    for (const FolderEntry& e : entries) {
      bool ours = false;
      for (const WriterRun& run : runs)
        ours = ours ||
               IsNameOfProcess(e.name, run.process, HostNamePart(run.host));
      if (ours && error == ERROR_SUCCESS) error = fs->RemoveFile(*open, e.name);
    }
  }
  return error;
}

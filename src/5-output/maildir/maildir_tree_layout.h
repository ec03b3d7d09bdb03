#ifndef KORVANE_MAILDIR_MAILDIR_TREE_LAYOUT_H_
#define KORVANE_MAILDIR_MAILDIR_TREE_LAYOUT_H_

#include "output_tree/tree_layout.h"

// The Maildir++ layout IMAP servers keep a user's folders in: OUTDIR is the
// top folder, itself a Maildir (the INBOX), and every folder of the tree a
// Maildir directly inside it, named "." and its path with "." between the
// names (maildir/maildir_plus.h): the base in ROOT/A/B goes to OUTDIR/.A.B,
// with its "maildirfolder" file, and a base in ROOT itself to
// OUTDIR/.rootName. A folder named Inbox (in any case) directly in ROOT is
// the top folder itself, output "."; its folders go to OUTDIR/.INBOX.X. A
// folder without a base but with bases below it gets an empty Maildir.
//
// Where two folders would take one name (compared without regard to ASCII
// case, a second Inbox and a twin base among them), the later one in tree
// order gets "-2" (or -3, ...) after its own name; where the target refuses
// a name (too long, or on Windows one that needs a "\" escape), the folder
// becomes ".folder-N", N its place in tree order counting ROOT as 0.
class MaildirTreeLayout : public TreeLayout {
 public:
  explicit MaildirTreeLayout(FileSystem* fs = RealFileSystem())
      : TreeLayout(fs) {}
  using TreeLayout::Discard;
  void Discard(const Folder& outDir, const FolderPlace& folder) override;
  // Files in tmp/, cur/ and new/ whose names tell one of the runs.
  DWORD Clear(const Folder& outDir, const FolderPlace& folder,
              const std::vector<WriterRun>& runs) override;

 protected:
  DWORD Start(const Folder& outDir) override;
  bool FixedPlace(const FolderPlaces& folders, size_t i, const std::string& own,
                  std::string* output) override;
  std::string Form(const FolderPlaces& folders, size_t i,
                   const std::string& given, bool fallback) override;
  std::vector<std::string> Claims(const FolderPlaces& folders, size_t i,
                                  const std::string& output) override;
  DWORD Make(const Folder& outDir, const FolderPlaces& folders, size_t i,
             const std::string& output) override;

 private:
  // The Maildir output in outDir, new, with its "maildirfolder" file.
  DWORD MakePlace(const Folder& outDir, const std::string& output);

  bool topTaken = false;
};

#endif  // KORVANE_MAILDIR_MAILDIR_TREE_LAYOUT_H_

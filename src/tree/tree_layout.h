// Where the folders of a tree go below OUTDIR. The layout is one piece of
// a tree run that can be exchanged: the mbox tree here, others beside it.
#ifndef KORVANE_TREE_TREE_LAYOUT_H_
#define KORVANE_TREE_TREE_LAYOUT_H_

#include <string>

#include "convert/conversion.h"
#include "tree/tree_folders.h"

class TreeLayout {
 public:
  virtual ~TreeLayout() {}

  // What each base is converted into.
  virtual OutputFormat Format() const = 0;

  // Makes, below outDir (an empty folder), a place for every folder that
  // needs one, in tree order, and sets its output (and renamedBecause
  // where the folder's own name could not be used). Nothing that exists is
  // replaced. rootName names ROOT's own base. False when outDir cannot be
  // written; *error then says where and why, and the folders that already
  // have a place keep it.
  virtual bool Prepare(const std::string& outDir, const std::string& rootName,
                       TreeFolders* folders, std::string* error) = 0;

  // Takes the output of a base that failed before anything was written to
  // it away again, unless other folders' places need it.
  virtual void Discard(const std::string& outDir, const TreeFolder& folder) = 0;
};

// The layout mail programs use for a tree of mbox files: the base in
// ROOT/A/B becomes the file OUTDIR/A.sbd/B, ROOT/A's base OUTDIR/A, and a
// base in ROOT itself OUTDIR/rootName. A folder without a base but with
// bases below it gets an empty file, so that the hierarchy shows.
//
// Where two folders would take one name (a folder "X" with folders below
// it takes "X" and "X.sbd", beside a folder named "X.sbd"; a twin base
// takes its folder's name too; names are compared without regard to ASCII
// case, so that the tree also fits on a system that ignores case), the
// later one in tree order becomes "X.sbd-2" (or -3, ...). Where the target
// refuses a name (too long, not valid there), the folder becomes
// "folder-N", N its place in tree order counting ROOT as 0.
class MboxTreeLayout : public TreeLayout {
 public:
  OutputFormat Format() const override { return OutputFormat::kMbox; }
  bool Prepare(const std::string& outDir, const std::string& rootName,
               TreeFolders* folders, std::string* error) override;
  void Discard(const std::string& outDir, const TreeFolder& folder) override;
};

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
  OutputFormat Format() const override { return OutputFormat::kMaildir; }
  bool Prepare(const std::string& outDir, const std::string& rootName,
               TreeFolders* folders, std::string* error) override;
  void Discard(const std::string& outDir, const TreeFolder& folder) override;
};

#endif  // KORVANE_TREE_TREE_LAYOUT_H_

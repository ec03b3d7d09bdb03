#ifndef KORVANE_MBOX_MBOX_TREE_LAYOUT_H_
#define KORVANE_MBOX_MBOX_TREE_LAYOUT_H_

#include "output_tree/tree_layout.h"

// The layout mail programs use for a tree of mbox files: the base in
// ROOT/A/B becomes the file OUTDIR/A.sbd/B, ROOT/A's base OUTDIR/A, and a
// base in ROOT itself OUTDIR/rootName. A folder without a base but with
// bases below it gets an empty file, so that the hierarchy shows. A base's
// file is made by its conversion (MboxSink: under its partial name until
// it is whole); the layout makes sure that its names can be made.
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
  explicit MboxTreeLayout(FileSystem* fs = RealFileSystem()) : TreeLayout(fs) {}
  DWORD Clear(const Folder& outDir, const FolderPlace& folder,
              const std::vector<WriterRun>& runs) override;

 protected:
  // A file of the layout's own in outDir, to try names with (End takes it
  // away): renamed to a name and back tells whether the disk takes it,
  // with no file made or removed (which costs ext4 dearly when done for
  // every base of a tree).
  DWORD Start(const Folder& outDir) override;
  void End(const Folder& outDir) override;
  std::string Form(const FolderPlaces& folders, size_t i,
                   const std::string& given, bool fallback) override;
  std::vector<std::string> Claims(const FolderPlaces& folders, size_t i,
                                  const std::string& output) override;
  DWORD Make(const Folder& outDir, const FolderPlaces& folders, size_t i,
             const std::string& output) override;
};

#endif  // KORVANE_MBOX_MBOX_TREE_LAYOUT_H_

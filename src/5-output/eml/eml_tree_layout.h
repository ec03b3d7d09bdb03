#ifndef KORVANE_EML_EML_TREE_LAYOUT_H_
#define KORVANE_EML_EML_TREE_LAYOUT_H_

#include "output_tree/tree_layout.h"

// The tree mirrored as plain folders of .eml files: the messages of the
// base in ROOT/A/B go to the folder OUTDIR/A/B, those of a base in ROOT
// itself to OUTDIR. A folder without a base but with bases below it gets
// a folder of its own too, so that the hierarchy shows.
//
// Where two folders would take one name (compared without regard to ASCII
// case; a twin base takes its folder's name), the later one in tree order
// becomes "B-2" (or -3, ...) beside it; where the target refuses a name,
// "folder-N", N its place in tree order counting ROOT as 0.
class EmlTreeLayout : public TreeLayout {
 public:
  explicit EmlTreeLayout(FileSystem* fs = RealFileSystem()) : TreeLayout(fs) {}
  using TreeLayout::Discard;
  void Discard(const Folder& outDir, const FolderPlace& folder) override;
  // The .eml files and partial files of the place; its folders, and any
  // other file (OUTDIR's journal and inventory), stay.
  DWORD Clear(const Folder& outDir, const FolderPlace& folder,
              const std::vector<WriterRun>& runs) override;

 protected:
  bool FixedPlace(const FolderPlaces& folders, size_t i, const std::string& own,
                  std::string* output) override;
  std::string Form(const FolderPlaces& folders, size_t i,
                   const std::string& given, bool fallback) override;
  std::vector<std::string> Claims(const FolderPlaces& folders, size_t i,
                                  const std::string& output) override;
  DWORD Make(const Folder& outDir, const FolderPlaces& folders, size_t i,
             const std::string& output) override;
};

#endif  // KORVANE_EML_EML_TREE_LAYOUT_H_

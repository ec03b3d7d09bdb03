// Where the folders of a tree go below OUTDIR. The layout is one piece of
// a tree run that can be exchanged: each output kind brings its own (the
// mbox tree in src/mbox, the Maildir++ tree in src/maildir).
#ifndef KORVANE_LAYOUT_TREE_LAYOUT_H_
#define KORVANE_LAYOUT_TREE_LAYOUT_H_

#include <string>
#include <vector>

// A folder of the tree as a layout sees it, and the place it gets.
struct FolderPlace {
  std::string name;         // the folder's own name; "" for ROOT
  int parent = -1;          // index of the parent folder; -1 for ROOT
  std::string baseName;     // as listed, e.g. "Messages.TBB"; "" for none
  bool basesBelow = false;  // a folder below this one holds a base

  // Set by the layout: where the folder's messages go, below OUTDIR (""
  // for nowhere), and why that is not the folder's own name, if it is not.
  std::string output;
  std::string renamedBecause;

  bool HasBase() const { return !baseName.empty(); }
};

// The folders in tree order: each folder, then its twins (further bases of
// the folder, whose parent is the folder's parent), then the folders below
// it. ROOT comes first.
typedef std::vector<FolderPlace> FolderPlaces;

class TreeLayout {
 public:
  virtual ~TreeLayout() {}

  // Makes, below outDir (an empty folder), a place for every folder that
  // needs one, in tree order, and sets its output (and renamedBecause
  // where the folder's own name could not be used). Nothing that exists is
  // replaced. rootName names ROOT's own base. False when outDir cannot be
  // written; *error then says where and why, and the folders that already
  // have a place keep it.
  virtual bool Prepare(const std::string& outDir, const std::string& rootName,
                       FolderPlaces* folders, std::string* error) = 0;

  // Takes the output of a base that failed before anything was written to
  // it away again, unless other folders' places need it.
  virtual void Discard(const std::string& outDir,
                       const FolderPlace& folder) = 0;
};

#endif  // KORVANE_LAYOUT_TREE_LAYOUT_H_

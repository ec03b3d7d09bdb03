// Where the folders of a tree go below OUTDIR. The layout is one piece of
// a tree run that can be exchanged: each output kind brings its own (the
// mbox tree in src/5-output/mbox, the Maildir++ tree in src/5-output/maildir), which says
// only how a place is named, what names it takes from others and how it is
// made; the naming itself (the first free name, the fallback where the
// target refuses a name, the reason told) is the same for all.
#ifndef KORVANE_OUTPUT_TREE_TREE_LAYOUT_H_
#define KORVANE_OUTPUT_TREE_TREE_LAYOUT_H_

#include <set>
#include <string>
#include <vector>

#include "io/file_system.h"

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

// The name of a place of a tree whose outputs are no local files but
// places of a server (an account's folders): its output after the tree's
// output name, "/" between (a URL and a path below it).
std::string RemotePlaceName(const std::string& outName,
                            const std::string& output);

// A run of the program that wrote below OUTDIR, as the names of the files
// it wrote may tell it (a Maildir's do): its process and the computer's
// name ("" where the system did not tell it).
struct WriterRun {
  DWORD process = 0;
  std::string host;
};
// This process's.
WriterRun CurrentWriterRun();

class TreeLayout {
 public:
  explicit TreeLayout(FileSystem* fs) : fs(fs) {}
  virtual ~TreeLayout() {}

  // Makes, below outDir (an empty folder, named outDirName in messages), a
  // place for every folder that needs one, in tree order, and sets its
  // output (and renamedBecause where the folder's own name could not be
  // used). Nothing that exists is replaced. rootName names ROOT's own base.
  // A place is named after its folder, or where that name is taken, after
  // it with "-2" (or -3, ...); where the target refuses the name (too long,
  // not valid there), "folder-N" (N the folder's place in tree order,
  // counting ROOT as 0). False when even that cannot be made; *error then
  // names the folder's own place and why, and the folders placed before it
  // keep their places.
  // No place takes a name of reserved (below outDir: the run's journal).
  bool Prepare(const Folder& outDir, const std::string& outDirName,
               const std::string& rootName, FolderPlaces* folders,
               std::string* error,
               const std::vector<std::string>& reserved = {});

  // Takes the output of a base that failed before anything was written to
  // it away again, unless other folders' places need it (where the sink
  // left anything to take).
  virtual void Discard(const Folder& outDir, const FolderPlace& folder) {
    (void)outDir;
    (void)folder;
  }
  // The same in the folder named outDir.
  void Discard(const std::string& outDir, const FolderPlace& folder);

  // Takes away what conversions of folder's base that the runs named did
  // not finish left at its place (a run that was cut off, before its
  // rerun): partial files, and files those runs wrote, so that the place
  // is as the layout made it. ERROR_SUCCESS, or why something that is
  // there could not be taken away.
  virtual DWORD Clear(const Folder& outDir, const FolderPlace& folder,
                      const std::vector<WriterRun>& runs) = 0;

 protected:
  // What each layout says.

  // Before the first place (the Maildir++ top folder): ERROR_SUCCESS or
  // why outDir cannot be used.
  virtual DWORD Start(const Folder& outDir) {
    (void)outDir;
    return ERROR_SUCCESS;
  }
  // After the last place, or the failure: what Start made for the layout's
  // own use is taken away.
  virtual void End(const Folder& outDir) { (void)outDir; }
  // A place the layout gives folder i outside the naming (the Maildir++
  // INBOX), in *output, made already; false for none.
  virtual bool FixedPlace(const FolderPlaces& folders, size_t i,
                          const std::string& own, std::string* output) {
    (void)folders;
    (void)i;
    (void)own;
    (void)output;
    return false;
  }
  // The output below outDir of folder i under the name given ("X", "X-2",
  // "folder-N"); fallback for the folder-N names.
  virtual std::string Form(const FolderPlaces& folders, size_t i,
                           const std::string& given, bool fallback) = 0;
  // The names below outDir that the place of folder i at output takes from
  // every other place (output itself among them), as they compare.
  virtual std::vector<std::string> Claims(const FolderPlaces& folders, size_t i,
                                          const std::string& output) = 0;
  // Makes the place of folder i at output, which must not exist; leaves
  // nothing behind when it fails.
  virtual DWORD Make(const Folder& outDir, const FolderPlaces& folders,
                     size_t i, const std::string& output) = 0;

  // What a failure of Make means, in words: the system's for its code, or
  // the layout's own where the refusal was not the system's (a server's).
  virtual std::string RefusalText(DWORD error) const;

  // A name below outDir that no place may take (from Start).
  void Reserve(const std::string& name);

  FileSystem* const fs;

 private:
  bool PlaceAll(const Folder& outDir, const std::string& outDirName,
                const std::string& rootName, FolderPlaces* folders,
                std::string* error);
  // The first free output of folder i for a name (own or folder-N).
  std::string FirstFree(const FolderPlaces& folders, size_t i,
                        const std::string& name, bool fallback, int* suffix);
  void Claim(const FolderPlaces& folders, size_t i, const std::string& output);

  std::set<std::string> claimed;
};

#endif  // KORVANE_OUTPUT_TREE_TREE_LAYOUT_H_

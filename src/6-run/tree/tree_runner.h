// Converts the bases of a tree, several at once, biggest first.
#ifndef KORVANE_TREE_TREE_RUNNER_H_
#define KORVANE_TREE_TREE_RUNNER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "convert/conversion.h"
#include "inventory/inventory.h"
#include "output_tree/tree_layout.h"
#include "status/status.h"
#include "tree/tree_folders.h"

struct TreeProgressState {
  int basesDone = 0;
  int basesTotal = 0;
  uint64_t bytesDone = 0;  // of the bases' sizes as the walk found them
  uint64_t bytesTotal = 0;
  uint64_t messagesDone = 0;  // of the bases finished and in progress
};

// Told how the run goes.
class TreeProgress {
 public:
  virtual ~TreeProgress() {}
  // Every ~200 ms while bases are converted, and once at the end; always
  // on the thread that called RunTree.
  virtual void Advanced(const TreeProgressState& state) { (void)state; }
  // The conversion of the base of folder index begins, and has ended (its
  // state and result set); on the worker's thread, the next base not
  // started before BaseFinished returns.
  virtual void BaseStarted(size_t index) { (void)index; }
  virtual void BaseFinished(size_t index) { (void)index; }
  // A scan of that base begins, and the normal scan met its first unusable
  // record (ConversionProgress); on the worker's thread.
  virtual void ScanStarting(size_t index, ScanKind scan) {
    (void)index;
    (void)scan;
  }
  virtual void CorruptionFound(size_t index) { (void)index; }
};

class RunJournal;

struct TreeRunOptions {
  int jobs = 1;  // bases converted at once
  // The machine's; once fewer bases are in progress, the ones left hand
  // their writing to a thread of their own (writeBehindFrom).
  int processors = 1;
  // For every base; its output name and format come from the layout, its
  // folders from the run. conversion.fs is the file system of the run.
  ConversionOptions conversion;
  // Where every base's records are listed; null for no inventory.
  Inventory* inventory = nullptr;
  // Told of every base converted, once its output is finished; null for
  // none. A failure to write it stops the run.
  RunJournal* journal = nullptr;
};

struct TreeRunSummary {
  // The output side failed (a full disk, OUTDIR unwritable, the journal):
  // the bases in progress were finished, no other was started.
  bool stopped = false;
  Status stopReason;
  // options.conversion.cancel was set: no base was started after it, the
  // ones in progress stopped (kCancelled) unfinished.
  bool cancelled = false;
};

// The folder as the inventory names it: its path below ROOT with "/"
// between the names, and its base's name where it is a further base.
std::string InventoryFolder(const TreeFolder& folder);

// The folders whose bases a run converts (those the layout gave an output),
// in the order it starts them: biggest first, tree order among equals.
std::vector<size_t> ConversionOrder(const TreeFolders& folders);

// Every base still waiting is one the run did not start: the run stopped
// (or was cancelled, or its places could not all be made) before it.
void MarkNotStarted(TreeFolders* folders);

// Converts every base of folders that the layout gave an output, from the
// open folder root into the open folder outDir (named outDirName in
// messages), each base read in its folder and each output made in its
// place, folders opened one in the other; records in each folder how it
// went. The bases are started biggest first.
TreeRunSummary RunTree(const Folder& root, const Folder& outDir,
                       const std::string& outDirName, TreeLayout* layout,
                       const TreeRunOptions& options, TreeFolders* folders,
                       TreeProgress* progress);

#endif  // KORVANE_TREE_TREE_RUNNER_H_

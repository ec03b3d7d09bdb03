// Converts the bases of a tree, several at once, biggest first.
#ifndef KORVANE_TREE_TREE_RUNNER_H_
#define KORVANE_TREE_TREE_RUNNER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "convert/conversion.h"
#include "inventory/inventory.h"
#include "layout/tree_layout.h"
#include "tree/tree_folders.h"

struct TreeProgressState {
  int basesDone = 0;
  int basesTotal = 0;
  uint64_t bytesDone = 0;  // of the bases' sizes as the walk found them
  uint64_t bytesTotal = 0;
};

// Told how the run goes, always on the thread that called RunTree.
class TreeProgress {
 public:
  virtual ~TreeProgress() {}
  // Every ~200 ms while bases are converted, and once at the end.
  virtual void Advanced(const TreeProgressState& state) { (void)state; }
};

struct TreeRunOptions {
  int jobs = 1;  // bases converted at once
  // The machine's; once fewer bases are in progress, the ones left hand
  // their writing to a thread of their own (writeBehindFrom).
  int processors = 1;
  // For every base; its output name and format come from the layout.
  ConversionOptions conversion;
  // Where every base's records are listed; null for no inventory.
  Inventory* inventory = nullptr;
};

struct TreeRunSummary {
  // The output side failed (a full disk, OUTDIR unwritable): the bases in
  // progress were finished, no other was started.
  bool stopped = false;
  std::string stopReason;
};

// The folders whose bases a run converts (those the layout gave an output),
// in the order it starts them: biggest first, tree order among equals.
std::vector<size_t> ConversionOrder(const TreeFolders& folders);

// Converts every base of folders that the layout gave an output, from
// rootPath into outDir, and records in each folder how it went. The bases
// are started biggest first.
TreeRunSummary RunTree(const std::string& rootPath, const std::string& outDir,
                       TreeLayout* layout, const TreeRunOptions& options,
                       TreeFolders* folders, TreeProgress* progress);

#endif  // KORVANE_TREE_TREE_RUNNER_H_

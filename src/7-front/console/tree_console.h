// korvane ROOT [OUTDIR] -r: every base of a folder tree in one run, with
// its console output.
#ifndef KORVANE_CONSOLE_TREE_CONSOLE_H_
#define KORVANE_CONSOLE_TREE_CONSOLE_H_

#include <string>

#include "io/file_system.h"
#include "console/command_line.h"
#include "console/concurrency.h"
#include "tree/tree_folders.h"
#include "tree/tree_runner.h"

// Runs the tree mode on fs and returns the exit status: 0 when every base
// was converted (or recovered, or was empty, or done before by the run
// this one carries on); 2 when a refusal stopped it before anything was
// created, a folder could not be listed, a base could not be read or an
// output not written; else 1. A run into an OUTDIR that holds the journal
// of one that was cut off carries that one on.
int RunTreeMode(const RunSettings& settings, const Concurrency& concurrency,
                FileSystem* fs = RealFileSystem());

struct Places;

// A tree into a folder of a mail account (an output kind with remote set),
// from ROOT as places holds it open, with the folders the walk found: the
// account's tree layout places them, the runner uploads each base over a
// connection of its own. No OUTDIR, no journal: a rerun skips what the
// folders hold. Returns the exit status as RunTreeMode does.
int RunTreeIntoAccount(const RunSettings& settings,
                       const Concurrency& concurrency, FileSystem* fs,
                       const Places& places, TreeFolders* folders);

// What every tree run's conversions share: the scans, the jobs, the
// output kind; the caller adds where the outputs go.
TreeRunOptions BaseTreeRunOptions(const RunSettings& settings,
                                  const Concurrency& concurrency,
                                  const OutputKind& kind, FileSystem* fs);
// "converting N bases (SIZE) from ROOT into OUT, J at once", for the
// folders still to convert.
void PrintTreeStart(const TreeFolders& folders, const std::string& root,
                    const std::string& out, int jobs);

// The progress over the whole tree on one console line, rewritten in
// place; nothing when the output goes to a file or a pipe.
class ConsoleTreeProgress : public TreeProgress {
 public:
  explicit ConsoleTreeProgress(DWORD startTick);
  void Advanced(const TreeProgressState& s) override;
  void Clear();

 private:
  static const int kWidth = 56;
  DWORD startTick;
  bool terminal;
  bool shown = false;
};

// The table of folders in tree order and the total line (tree_report.cpp);
// with tallies, what the destination decided of the messages of each
// folder (uploaded, already there, refused) and each refusal.
void PrintTreeReport(const TreeFolders& folders, const TreeRunSummary& summary,
                     double seconds, bool tallies = false);
int TreeExitStatus(const TreeFolders& folders, const TreeRunSummary& summary);
// "512 B", "4.0 KiB", "12.3 MiB", "1.5 GiB".
std::string SizeText(uint64_t bytes);

#endif  // KORVANE_CONSOLE_TREE_CONSOLE_H_

// korvane ROOT [OUTDIR] -r: every base of a folder tree in one run, with
// its console output.
#ifndef KORVANE_MAIN_TREE_CONSOLE_H_
#define KORVANE_MAIN_TREE_CONSOLE_H_

#include <string>

#include "io/file_system.h"
#include "main/command_line.h"
#include "main/concurrency.h"
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

// The table of folders in tree order and the total line (tree_report.cpp).
void PrintTreeReport(const TreeFolders& folders, const TreeRunSummary& summary,
                     double seconds);
int TreeExitStatus(const TreeFolders& folders, const TreeRunSummary& summary);
// "512 B", "4.0 KiB", "12.3 MiB", "1.5 GiB".
std::string SizeText(uint64_t bytes);

#endif  // KORVANE_MAIN_TREE_CONSOLE_H_

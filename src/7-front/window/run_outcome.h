// What the window tells of a run that has ended: a row per folder, as the
// console's table has them, the page's title and summary, and in plain
// words what was recovered, refused or could not be done, with what to do.
#ifndef KORVANE_WINDOW_RUN_OUTCOME_H_
#define KORVANE_WINDOW_RUN_OUTCOME_H_

#include <string>
#include <vector>

#include "run/run_events.h"
#include "status/notice.h"
#include "status/status.h"
#include "tree/tree_folders.h"

// A run as the window keeps it: the events' copies, which outlive the
// run's own records.
struct RunRecord {
  bool planned = false;
  bool tallied = false;
  bool tree = false;
  std::string topName;      // the source's own name (FolderLabel)
  std::string destination;  // where the mail went, as the user named it
  // The folder the run made its files in where it was given a bare name
  // (an account's inventory goes into the current folder).
  std::string workFolder;
  EarlierRunInfo earlier;
  bool carriedOn = false;  // earlier was told
  TreeFolders folders;
  std::vector<Notice> notices;
  std::vector<Status> errors;
  bool finished = false;
  RunReport report;  // its folders pointer is not kept: see folders
};

struct OutcomeRow {
  std::string folder, messages, outcome;
  std::string uploaded, there, refused;  // an account's
};

// The rows of the folders the console's table lists, texts escaped.
std::vector<OutcomeRow> OutcomeRows(const RunRecord& run);
// "Done", "Done, with problems", "Stopped", "Could not start", ...
std::string OutcomeTitle(const RunRecord& run);
// "12,345 messages from 5 folders are in C:\Mail-mbox."
std::string OutcomeSummary(const RunRecord& run);
// Paragraphs in plain words, each with what to do, separated by empty
// lines: the run's own failures and a stop, what the server said, and with
// folders, the recoveries, refusals and failures of the folders and the
// inventory.
std::string OutcomeNotes(const RunRecord& run, bool folders);

#endif  // KORVANE_WINDOW_RUN_OUTCOME_H_

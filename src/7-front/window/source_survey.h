// What the source page shows of the chosen folder or base before anything
// is converted: the folders found, the messages and bytes in each, the
// bases that are damaged and will be recovered, and what is skipped and
// why. The run's survey (SurveySource in run/run.h) tells it in steps: the
// folders as soon as the walk has found them, then each base once it is
// scanned.
#ifndef KORVANE_WINDOW_SOURCE_SURVEY_H_
#define KORVANE_WINDOW_SOURCE_SURVEY_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "tree/tree_folders.h"

struct SourceSurvey {
  bool ok = false;
  std::string error;  // !ok: why the source could not be looked at (raw)
  bool tree = false;  // a folder, with every base below it; else one base
  // As the survey told them: kWaiting until a base is scanned, then kDone
  // with its result.
  TreeFolders folders;
  bool counted = false;  // every base is scanned
};

// The folders the source page lists: those with a base, and those skipped.
std::vector<size_t> ListedFolders(const SourceSurvey& survey);

struct SurveyTotals {
  int bases = 0;       // bases to convert
  int damaged = 0;     // of them, to be recovered
  int unreadable = 0;  // bases in which no message can be found or read
  int skipped = 0;     // entries and folders that are passed over
  int64_t messages = 0;
  uint64_t bytes = 0;
};
SurveyTotals TotalsOf(const SourceSurvey& survey);

// The line under the list: "3 folders, 1,234 messages, 5.61 MB. 1 damaged
// base will be recovered. 1 item is skipped."
std::string SurveySummary(const SourceSurvey& survey);
// The list's columns of one folder: messages ("" until counted), size, and
// the note: "", "damaged: will be recovered", "skipped: a link", ...
std::string SurveyMessages(const TreeFolder& folder);
std::string SurveySize(const TreeFolder& folder);
std::string SurveyNote(const TreeFolder& folder);

// Numbers and sizes as the window writes them: "12,345", "5.61 MB".
std::string CountWords(int64_t count);
std::string SizeWords(uint64_t bytes);
// "1 folder", "2 folders": count with its noun, singular or plural.
std::string Counted(int64_t count, const char* singular, const char* plural);

#endif  // KORVANE_WINDOW_SOURCE_SURVEY_H_

// What the source page shows of the chosen folder or base before anything
// is converted: the folders found, the messages and bytes in each, the
// bases that are damaged and will be recovered, and what is skipped and
// why.
#ifndef KORVANE_WINDOW_SOURCE_SURVEY_H_
#define KORVANE_WINDOW_SOURCE_SURVEY_H_

#include <stdint.h>

#include <string>
#include <vector>

struct SurveyFolder {
  static const int64_t kNotCounted = -1;
  enum class State {
    kSound,    // a base korvane reads as it is
    kDamaged,  // a damaged base: its messages will be recovered
    kEmpty,    // a base of 0 bytes
    kSkipped,  // not converted: see why
  };
  std::string name;  // below the source, "/" between the names
  State state = State::kSound;
  int64_t messages = kNotCounted;
  uint64_t bytes = 0;
  std::string why;  // kSkipped, kDamaged: in plain words
};

// A survey is told in steps: the folders as soon as the walk has found
// them, then again as their messages are counted.
struct SourceSurvey {
  bool ok = false;
  std::string error;  // !ok: why the source could not be looked at
  bool tree = false;  // a folder, with every base below it; else one base
  std::vector<SurveyFolder> folders;
  bool counted = false;  // every folder's messages are counted
};

// The figures of the folders the run would convert.
struct SurveyTotals {
  int bases = 0;  // folders with a base, skipped ones not counted
  int damaged = 0;
  int skipped = 0;
  int64_t messages = 0;
  uint64_t bytes = 0;
};
SurveyTotals TotalsOf(const SourceSurvey& survey);

// The line under the list: "3 folders, 1,234 messages, 5.6 MB. 1 damaged
// base will be recovered. 1 item is skipped."
std::string SurveySummary(const SourceSurvey& survey);
// The list's note on one folder: "", "damaged: ...", "skipped: ...".
std::string SurveyNote(const SurveyFolder& folder);

// Numbers and sizes as the window writes them: "12,345", "5.6 MB".
std::string CountWords(int64_t count);
std::string SizeWords(uint64_t bytes);
// "1 folder", "2 folders": count with its noun, singular or plural.
std::string Counted(int64_t count, const char* singular, const char* plural);

#endif  // KORVANE_WINDOW_SOURCE_SURVEY_H_

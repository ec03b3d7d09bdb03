#include "window/source_survey.h"

#include <stdio.h>

SurveyTotals TotalsOf(const SourceSurvey& survey) {
  SurveyTotals totals;
  for (const SurveyFolder& f : survey.folders) {
    if (f.state == SurveyFolder::State::kSkipped) {
      ++totals.skipped;
      continue;
    }
    ++totals.bases;
    totals.damaged += f.state == SurveyFolder::State::kDamaged;
    if (f.messages > 0) totals.messages += f.messages;
    totals.bytes += f.bytes;
  }
  return totals;
}

std::string CountWords(int64_t count) {
  const bool negative = count < 0;
  std::string digits = std::to_string(negative ? -count : count);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return negative ? "-" + digits : digits;
}

std::string SizeWords(uint64_t bytes) {
  if (bytes < 1024)
    return Counted(static_cast<int64_t>(bytes), "byte", "bytes");
  const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = bytes / 1024.0;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  // Three figures at most, as Explorer shows sizes: 5.61 MB, 56.1 MB, 561 MB.
  snprintf(text, sizeof text,
           value < 10    ? "%.2f %s"
           : value < 100 ? "%.1f %s"
                         : "%.0f %s",
           value, kUnits[unit]);
  return text;
}

std::string Counted(int64_t count, const char* singular, const char* plural) {
  return CountWords(count) + " " + (count == 1 ? singular : plural);
}

std::string SurveyNote(const SurveyFolder& folder) {
  switch (folder.state) {
    case SurveyFolder::State::kSound:
      return "";
    case SurveyFolder::State::kEmpty:
      return "empty";
    case SurveyFolder::State::kDamaged:
      return "damaged, will be recovered" +
             (folder.why.empty() ? "" : ": " + folder.why);
    case SurveyFolder::State::kSkipped:
      return "skipped: " + folder.why;
  }
  return "";
}

std::string SurveySummary(const SourceSurvey& survey) {
  if (!survey.ok) return survey.error;
  const SurveyTotals t = TotalsOf(survey);
  std::string text;
  if (t.bases == 0) {
    text = survey.tree ? "No mail folder here: no messages.tbb in this folder "
                         "or in any folder below it."
                       : "This base cannot be converted.";
  } else {
    text = (survey.tree ? Counted(t.bases, "folder", "folders") + ", " : "") +
           (survey.counted ? Counted(t.messages, "message", "messages")
                           : "counting messages") +
           ", " + SizeWords(t.bytes) + ".";
  }
  if (t.damaged > 0)
    text += t.damaged == 1 ? " 1 damaged base will be recovered."
                           : " " + CountWords(t.damaged) +
                                 " damaged bases will be recovered.";
  if (t.skipped > 0)
    text += t.skipped == 1
                ? " 1 item is skipped."
                : " " + CountWords(t.skipped) + " items are skipped.";
  return text;
}

#include "window/source_survey.h"

#include <stdio.h>

#include "platform/system_error.h"
#include "window/shown_text.h"

namespace {

bool Unreadable(const TreeFolder& f) {
  return f.state == TreeBaseState::kDone &&
         f.result.outcome != ConversionOutcome::kConverted &&
         f.result.outcome != ConversionOutcome::kCancelled;
}

}  // namespace

std::vector<size_t> ListedFolders(const SourceSurvey& survey) {
  std::vector<size_t> listed;
  for (size_t i = 0; i < survey.folders.size(); ++i) {
    const TreeFolder& f = survey.folders[i];
    if (f.HasBase() || !f.skippedName.empty() || f.listError != 0)
      listed.push_back(i);
  }
  return listed;
}

SurveyTotals TotalsOf(const SourceSurvey& survey) {
  SurveyTotals totals;
  for (const TreeFolder& f : survey.folders) {
    if (!f.skippedName.empty() || f.listError != 0) ++totals.skipped;
    if (!f.HasBase()) continue;
    if (Unreadable(f)) {
      ++totals.unreadable;
      continue;
    }
    ++totals.bases;
    totals.bytes += f.baseSize;
    if (f.state != TreeBaseState::kDone) continue;
    totals.damaged += f.result.recovered;
    totals.messages += f.result.messages;
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
  // Three figures, as Explorer shows sizes: 5.61 MB, 56.1 MB, 561 MB.
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

std::string SurveyMessages(const TreeFolder& f) {
  if (!f.HasBase() || f.state != TreeBaseState::kDone || Unreadable(f))
    return "";
  return CountWords(f.result.messages);
}

std::string SurveySize(const TreeFolder& f) {
  return f.HasBase() ? SizeWords(f.baseSize) : "";
}

std::string SurveyNote(const TreeFolder& f) {
  if (f.listError != 0)
    return "skipped: can't list the folder: " + SystemErrorText(f.listError);
  if (!f.skippedName.empty())
    return f.skippedKind == EntryKind::kLink ? "skipped: a link, not a file"
                                             : "skipped: not a regular file";
  if (f.state != TreeBaseState::kDone) return "";
  const ConversionResult& r = f.result;
  switch (r.outcome) {
    case ConversionOutcome::kConverted:
      if (r.emptyBase) return "empty";
      return r.recovered ? "damaged, will be recovered" : "";
    case ConversionOutcome::kNotRecognised:
    case ConversionOutcome::kNothingFound:
      return "no message found in it";
    default:
      return "can't be read: " + ShownText(r.failure.Text());
  }
}

std::string SurveySummary(const SourceSurvey& survey) {
  if (!survey.ok) return ShownText(survey.error);
  const SurveyTotals t = TotalsOf(survey);
  std::string text;
  if (t.bases == 0 && t.unreadable == 0) {
    text =
        "No mail folder here: no messages.tbb in this folder or in any "
        "folder below it.";
  } else if (t.bases > 0) {
    text = (survey.tree ? Counted(t.bases, "folder", "folders") + ", " : "") +
           (survey.counted ? Counted(t.messages, "message", "messages")
                           : std::string("counting the messages")) +
           ", " + SizeWords(t.bytes) + ".";
  }
  auto add = [&text](const std::string& sentence) {
    text += (text.empty() ? "" : " ") + sentence;
  };
  if (t.damaged > 0)
    add(t.damaged == 1
            ? "1 damaged base will be recovered."
            : CountWords(t.damaged) + " damaged bases will be recovered.");
  if (t.unreadable > 0)
    add(t.unreadable == 1 ? "In 1 base no message can be found or read."
                          : "In " + CountWords(t.unreadable) +
                                " bases no message can be found or read.");
  if (t.skipped > 0)
    add(t.skipped == 1 ? "1 item is skipped."
                       : CountWords(t.skipped) + " items are skipped.");
  return text;
}

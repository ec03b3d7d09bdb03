#include "window/progress_view.h"

#include <math.h>

#include "io/paths.h"
#include "window/shown_text.h"
#include "window/source_survey.h"

void ProgressView::Planned(const RunPlan& plan, const TreeFolders& told,
                           const std::string& top) {
  *this = ProgressView();
  planned = true;
  topName = top;
  tallied = plan.tallied;
  folders = told;
  basesToConvert = plan.basesToConvert;
  for (const TreeFolder& f : folders)
    if (f.state == TreeBaseState::kDoneBefore) bytesBefore += f.baseSize;
  last.bytesTotal = plan.bytesToConvert;
}

void ProgressView::BaseStarted(size_t index) {
  if (index >= folders.size()) return;
  going.push_back(index);
}

void ProgressView::BaseFinished(size_t index, const TreeFolder& folder) {
  if (index >= folders.size()) return;
  folders[index] = folder;
  for (size_t i = 0; i < going.size(); ++i)
    if (going[i] == index) going.erase(going.begin() + i);
  ++basesFinished;
}

void ProgressView::Advanced(const RunProgress& progress) { last = progress; }

uint64_t ProgressView::BytesDone() const {
  return bytesBefore +
         (last.bytesDone < last.bytesTotal ? last.bytesDone : last.bytesTotal);
}

uint64_t ProgressView::BytesTotal() const {
  return bytesBefore + last.bytesTotal;
}

int ProgressView::BarPosition() const {
  const uint64_t total = BytesTotal();
  if (total == 0) return planned && basesFinished > 0 ? 10000 : 0;
  return static_cast<int>(BytesDone() * 10000.0 / total);
}

std::string ProgressView::FolderText() const {
  if (going.empty()) return "";
  // The one begun last, which is what the user sees move.
  std::string text = ShownText(FolderLabel(folders, going.back(), topName));
  if (basesToConvert > 1) {
    text += " (" + CountWords(basesFinished + 1) + " of " +
            CountWords(basesToConvert) + ")";
    if (going.size() > 1)
      text += ", and " + Counted(static_cast<int64_t>(going.size() - 1),
                                 "other", "others");
  }
  return text;
}

std::string ProgressView::MessagesText() const {
  return CountWords(static_cast<int64_t>(last.messagesDone)) +
         (tallied ? " read" : " written");
}

std::string ProgressView::TallyText() const {
  // The account's answers come with each folder done, or stopped.
  DeliveryTally sum;
  bool told = false;
  for (const TreeFolder& f : folders) {
    if (f.state != TreeBaseState::kDone || !f.result.tallied) continue;
    told = true;
    sum.delivered += f.result.tally.delivered;
    sum.alreadyThere += f.result.tally.alreadyThere;
    sum.refused += f.result.tally.refused;
  }
  if (!told) return "counted as each folder is done";
  return CountWords(static_cast<int64_t>(sum.delivered)) + " uploaded, " +
         CountWords(static_cast<int64_t>(sum.alreadyThere)) +
         " already there, " + CountWords(static_cast<int64_t>(sum.refused)) +
         " refused";
}

std::string ProgressView::TimeLeftText() const {
  // The rate of this run, once it has gone long enough to say.
  if (!planned || last.seconds < 2 || last.bytesDone == 0)
    return "Working it out...";
  const double rate = last.bytesDone / last.seconds;
  const uint64_t left =
      last.bytesTotal > last.bytesDone ? last.bytesTotal - last.bytesDone : 0;
  return TimeLeftWords(left / rate);
}

std::string TimeLeftWords(double seconds) {
  if (seconds < 10) return "A few seconds";
  if (seconds < 55) {
    // To 5 seconds, so that it does not flicker.
    return "About " + std::to_string(static_cast<int>(ceil(seconds / 5) * 5)) +
           " seconds";
  }
  const long minutes = lround(seconds / 60);
  if (minutes < 2) return "About a minute";
  if (minutes < 60) return "About " + std::to_string(minutes) + " minutes";
  const long hours = minutes / 60, rest = minutes % 60;
  std::string text = "About " + Counted(hours, "hour", "hours");
  if (hours < 10 && rest != 0) text += " " + Counted(rest, "minute", "minutes");
  return text;
}

std::string FolderLabel(const TreeFolders& folders, size_t index,
                        const std::string& topName) {
  const TreeFolder& f = folders[index];
  std::string label;
  for (const char c : f.path) label += IsPathSeparator(c) ? '/' : c;
  const bool several =
      f.twin || (index + 1 < folders.size() && folders[index + 1].twin);
  if (several) {
    const std::string& base = f.HasBase() ? f.baseName : f.skippedName;
    label = label.empty() ? base : label + "/" + base;
  }
  if (label.empty()) label = topName;
  return label.empty() ? "." : label;
}

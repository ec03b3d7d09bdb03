// What a tree run prints at its end: one line per folder, then the total.
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/console_printer.h"
#include "console/display_width.h"
#include "io/paths.h"

namespace {

const size_t kMaxFolderColumn = 40;

bool Listed(const TreeFolder& f) {
  return f.HasBase() || !f.skippedName.empty() || f.listError != 0 ||
         !f.renamedBecause.empty();
}

// The folder's path; with its base's name where the folder holds several.
std::string Label(const TreeFolders& folders, size_t i) {
  const TreeFolder& f = folders[i];
  if (f.twin || (i + 1 < folders.size() && folders[i + 1].twin))
    return ConsoleText(
        JoinPath(f.path, f.HasBase() ? f.baseName : f.skippedName));
  return f.path.empty() ? "." : ConsoleText(f.path);
}

std::string SkippedText(EntryKind kind) {
  return kind == EntryKind::kLink
             ? "skipped: not a regular file (a link)"
             : "skipped: not a regular file (a FIFO, device or socket)";
}

std::string ScanText(const TreeFolder& f) {
  if (f.state != TreeBaseState::kDone || f.result.emptyBase ||
      f.result.outcome == ConversionOutcome::kCantOpenBase ||
      f.result.outcome == ConversionOutcome::kCantCreateOutput)
    return "-";
  switch (f.result.scan) {
    case ScanKind::kNormal:
      return "normal";
    case ScanKind::kAlternative:
      return "alternative";
    case ScanKind::kRecovered:
      return "normal+alt";
  }
  return "-";
}

std::string ConvertedText(const ConversionResult& r) {
  if (r.emptyBase) return "empty: the base holds 0 bytes";
  if (!r.recovered) return "converted";
  if (r.scan == ScanKind::kRecovered)
    return "recovered: the normal scan stopped at a broken record, the "
           "alternative scan took the rest";
  return "recovered: the normal scan does not recognise the base";
}

std::string OutcomeText(const TreeFolder& f) {
  if (f.listError != 0)
    return "failed: can't list the folder: " + SystemErrorText(f.listError);
  std::string text;
  if (!f.skippedName.empty()) {
    text = SkippedText(f.skippedKind);
  } else if (!f.HasBase()) {
    text = "no base of its own";
  } else if (f.state == TreeBaseState::kDoneBefore) {
    text = "done before";
  } else if (f.state == TreeBaseState::kDone) {
    const ConversionResult& r = f.result;
    switch (r.outcome) {
      case ConversionOutcome::kConverted:
        text = ConvertedText(r);
        break;
      case ConversionOutcome::kNotRecognised:
        text = "failed: unsupported or corrupted message base";
        break;
      case ConversionOutcome::kNothingFound:
        text = "failed: no message found, not even by the alternative scan";
        break;
      case ConversionOutcome::kCantOpenBase:
        text = "failed: can't open the base: " + r.failure.Text();
        break;
      case ConversionOutcome::kCantReadBase:
        text = "failed: can't read the base: " + r.failure.Text();
        break;
      case ConversionOutcome::kCantCreateOutput:
        text = "failed: can't create the output: " + r.failure.Text();
        break;
      case ConversionOutcome::kCantWriteOutput:
        // A provider's daily limit is no failure: the rest goes tomorrow.
        text = r.tally.dailyLimit
                   ? "not finished: " + r.failure.Text()
                   : "failed: can't write the output: " + r.failure.Text();
        break;
      case ConversionOutcome::kCancelled:
        text = "not converted: the run was cancelled";
        break;
    }
  } else {
    text = "not converted: the run stopped";
  }
  if (!f.renamedBecause.empty())
    text += " (written as " + f.output + ": " + f.renamedBecause + ")";
  return ConsoleText(text);
}

}  // namespace

std::string SizeText(uint64_t bytes) {
  const char* const kUnits[] = {"KiB", "MiB", "GiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = bytes / 1024.0;
  int unit = 0;
  while (value >= 1024 && unit < 2) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

void PrintTreeReport(const RunReport& report) {
  const TreeFolders& folders = *report.folders;
  const bool tallies = report.tallied;
  size_t width = DisplayWidth("folder");
  for (size_t i = 0; i < folders.size(); ++i) {
    if (!Listed(folders[i])) continue;
    size_t w = DisplayWidth(Label(folders, i));
    if (w > width) width = w < kMaxFolderColumn ? w : kMaxFolderColumn;
  }
  auto pad = [width](const std::string& text) {
    size_t w = DisplayWidth(text);
    return text + std::string(w < width ? width - w : 0, ' ');
  };
  printf("%s %9s %10s  %-11s  ", pad("folder").c_str(), "messages", "size",
         "scan");
  if (tallies) printf("%8s %7s %7s  ", "uploaded", "there", "refused");
  printf("outcome");
  printf("\n");

  DeliveryTally total;
  int bases = 0, converted = 0, recovered = 0, empty = 0, failed = 0;
  int notStarted = 0, notListed = 0, skipped = 0, doneBefore = 0;
  long long messages = 0;
  uint64_t bytes = 0;
  for (size_t i = 0; i < folders.size(); ++i) {
    const TreeFolder& f = folders[i];
    if (!Listed(f)) continue;
    const bool done = f.state == TreeBaseState::kDone ||
                      f.state == TreeBaseState::kDoneBefore;
    const std::string count =
        done ? std::to_string(f.result.messages) : std::string("-");
    const std::string size = f.HasBase() ? SizeText(f.baseSize) : "-";
    printf("%s %9s %10s  %-11s  ", pad(Label(folders, i)).c_str(),
           count.c_str(), size.c_str(), ScanText(f).c_str());
    if (tallies) {
      const DeliveryTally& t = f.result.tally;
      const bool told = f.state == TreeBaseState::kDone && f.result.tallied;
      printf("%8s %7s %7s  ", told ? std::to_string(t.delivered).c_str() : "-",
             told ? std::to_string(t.alreadyThere).c_str() : "-",
             told ? std::to_string(t.refused).c_str() : "-");
      if (told) {
        total.delivered += t.delivered;
        total.alreadyThere += t.alreadyThere;
        total.refused += t.refused;
        total.nulsAsBlanks += t.nulsAsBlanks;
        total.deliveredBytes += t.deliveredBytes;
        total.connectionLimit =
            std::max(total.connectionLimit, t.connectionLimit);
      }
    }
    printf("%s", OutcomeText(f).c_str());
    printf("\n");

    notListed += f.listError != 0;
    skipped += !f.skippedName.empty();
    if (!f.HasBase()) continue;
    ++bases;
    bytes += f.baseSize;
    if (done) messages += f.result.messages;
    if (!done) {
      ++notStarted;
    } else if (f.state == TreeBaseState::kDoneBefore) {
      ++doneBefore;
    } else if (f.result.tally.dailyLimit) {
      ++notStarted;
    } else if (f.result.outcome != ConversionOutcome::kConverted) {
      ++failed;
    } else if (f.result.emptyBase) {
      ++empty;
    } else if (f.result.recovered) {
      ++recovered;
    } else {
      ++converted;
    }
  }

  printf(
      "%d folders, %lld messages, %s in %.1f seconds: %d converted, %d "
      "recovered, %d empty, %d failed",
      bases, messages, SizeText(bytes).c_str(), report.seconds, converted,
      recovered, empty, failed);
  if (doneBefore > 0) printf(", %d done before", doneBefore);
  if (notStarted > 0) printf(", %d not converted", notStarted);
  if (notListed > 0) printf(", %d folders not listed", notListed);
  if (skipped > 0) printf(", %d skipped", skipped);
  if (tallies) printf("; %s", TallyText(total).c_str());
  printf("\n");
  for (size_t i = 0; i < folders.size(); ++i) {
    if (folders[i].state != TreeBaseState::kDone) continue;
    for (const std::string& refusal : folders[i].result.tally.refusals) {
      printf("refused in %s: %s", Label(folders, i).c_str(),
             ConsoleText(refusal).c_str());
      printf("\n");
    }
    for (const std::string& warning : folders[i].result.tally.warnings) {
      printf("warning: in %s: %s", Label(folders, i).c_str(),
             ConsoleText(warning).c_str());
      printf("\n");
    }
  }
  if (report.stopped && report.status == kRunDailyLimit) {
    PrintDailyLimit(report.stopReason.Text(), total);
  } else if (report.stopped) {
    printf("error: the run stopped: %s",
           ConsoleText(report.stopReason.Text()).c_str());
    printf("\n");
  }
}

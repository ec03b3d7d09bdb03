#include "window/run_outcome.h"

#include "io/paths.h"
#include "platform/system_error.h"
#include "window/progress_view.h"
#include "window/shown_text.h"
#include "window/source_survey.h"

namespace {

bool Listed(const TreeFolder& f) {
  return f.HasBase() || !f.skippedName.empty() || f.listError != 0;
}

// A base a stop cut short is left for the run that carries it on.
bool Cancelled(const TreeFolder& f) {
  return f.state == TreeBaseState::kDone &&
         f.result.outcome == ConversionOutcome::kCancelled;
}

bool Finished(const TreeFolder& f) {
  return (f.state == TreeBaseState::kDone && !Cancelled(f)) ||
         f.state == TreeBaseState::kDoneBefore;
}

bool Failed(const TreeFolder& f) {
  return Finished(f) && f.state == TreeBaseState::kDone &&
         f.result.outcome != ConversionOutcome::kConverted;
}

std::string Quoted(const RunRecord& run, size_t index) {
  return "\"" + ShownText(FolderLabel(run.folders, index, run.topName)) + "\"";
}

std::string ShortOutcome(const TreeFolder& f, bool tallied) {
  std::string text;
  if (f.listError != 0) {
    text = "skipped: can't list the folder";
  } else if (!f.skippedName.empty()) {
    text = f.skippedKind == EntryKind::kLink ? "skipped: a link"
                                             : "skipped: not a regular file";
  } else if (f.state == TreeBaseState::kDoneBefore) {
    text = "done before";
  } else if (f.state != TreeBaseState::kDone || Cancelled(f)) {
    text = "not converted";
  } else {
    const ConversionResult& r = f.result;
    switch (r.outcome) {
      case ConversionOutcome::kConverted:
        text = r.emptyBase   ? "empty"
               : r.recovered ? "recovered"
               : tallied     ? "uploaded"
                             : "converted";
        if (tallied && r.tally.refused > 0)
          text += ", " + CountWords(static_cast<int64_t>(r.tally.refused)) +
                  " refused";
        break;
      case ConversionOutcome::kNotRecognised:
      case ConversionOutcome::kNothingFound:
        text = "failed: no message found";
        break;
      case ConversionOutcome::kCantOpenBase:
      case ConversionOutcome::kCantReadBase:
        text = "failed: can't read the base";
        break;
      case ConversionOutcome::kCantCreateOutput:
      case ConversionOutcome::kCantWriteOutput:
        text = tallied ? "failed: can't upload" : "failed: can't write";
        break;
      case ConversionOutcome::kCancelled:
        break;
    }
  }
  if (!f.renamedBecause.empty()) text += " (as " + ShownText(f.output) + ")";
  return text;
}

// What to do about a failure the system or a server gave as words.
// A name the run made as it was told it: a bare one in the folder it
// worked in, for the reader to find.
std::string MadeName(const RunRecord& run, const std::string& name) {
  if (run.workFolder.empty() || name.empty() ||
      name.find_first_of(kPathSeparator == '\\' ? "\\/" : "/") !=
          std::string::npos)
    return name;
  return JoinPath(run.workFolder, name);
}

std::string Advice(StatusKind kind) {
  switch (kind) {
    case StatusKind::kDiskFull:
      return " Make room on the disk, or choose another place, then press "
             "Start again.";
    case StatusKind::kAccessDenied:
      return " Choose a place you may write to, or close the program that "
             "holds the file, then press Start again.";
    case StatusKind::kExists:
      return " Choose an empty folder, or a new name, to convert into.";
    case StatusKind::kNotFound:
      return " Check the name.";
    case StatusKind::kRefused:
      return " Check the address, the user name and the password.";
    case StatusKind::kCertificate:
      return " The server could not prove who it is: check the server's "
             "name, or ask its administrator.";
    case StatusKind::kConnectionLost:
    case StatusKind::kTimedOut:
      return " Check the connection, the server's name and its port, then "
             "press Start again: nothing is sent twice.";
    case StatusKind::kLimit:
      return " The server set a limit; press Start again later: nothing is "
             "sent twice.";
    default:
      return "";
  }
}

std::string FolderNote(const RunRecord& run, size_t index) {
  const TreeFolder& f = run.folders[index];
  const std::string name = Quoted(run, index);
  if (f.listError != 0)
    return "The folder " + name + " could not be opened (" +
           SystemErrorText(f.listError) +
           "): whatever mail it holds is not converted.";
  if (!f.skippedName.empty())
    return name + " holds a " +
           (f.skippedKind == EntryKind::kLink ? "link" : "special file") +
           " where the base would be. korvane does not follow links, so "
           "that nothing is converted twice or from outside the folder; "
           "convert what it leads to on its own if you need it.";
  if (!Finished(f) || f.state != TreeBaseState::kDone) return "";
  const ConversionResult& r = f.result;
  std::string note;
  switch (r.outcome) {
    case ConversionOutcome::kConverted:
      if (r.recovered)
        note = name + " was damaged. korvane " +
               (r.scan == ScanKind::kRecovered
                    ? "read it up to a broken record and searched the rest"
                    : "searched the whole base") +
               " and recovered " + Counted(r.messages, "message", "messages") +
               ". Look through them: a recovered message may have lost its "
               "sender or date (it is then named \"recovered message\"). The "
               "base itself is unchanged.";
      break;
    case ConversionOutcome::kNotRecognised:
    case ConversionOutcome::kNothingFound:
      note = "No message could be found in " + name +
             ", not even by searching the whole base: it may be no message "
             "base, or one damaged beyond recovery. Nothing was made of it; "
             "the file is unchanged.";
      break;
    case ConversionOutcome::kCantOpenBase:
    case ConversionOutcome::kCantReadBase:
      note = name + " could not be read: " + ShownText(r.failure.Text()) +
             ". Close the old mail program and anything that may use the "
             "file, then press Start again: korvane carries on where it "
             "stopped.";
      break;
    case ConversionOutcome::kCantCreateOutput:
    case ConversionOutcome::kCantWriteOutput:
      note = name + " could not be " + (run.tallied ? "uploaded" : "written") +
             ": " + ShownText(r.failure.Text()) + "." +
             (run.tallied ? Advice(StatusKind::kConnectionLost)
                          : " Make room, or choose another place, then press "
                            "Start again.");
      break;
    case ConversionOutcome::kCancelled:
      break;
  }
  if (run.tallied && r.tally.refused > 0) {
    note += note.empty() ? "" : "\n\n";
    note +=
        "The server refused " +
        Counted(static_cast<int64_t>(r.tally.refused), "message", "messages") +
        " of " + name + "; the others went in.";
    if (!r.tally.refusals.empty())
      note +=
          " It said: " + ShownText(r.tally.refusals.front()) +
          (r.tally.refusals.size() > 1 ? " (and more: see the report)." : ".");
    note +=
        " A message the server will not take can go into folders for "
        "Thunderbird instead.";
  }
  return note;
}

std::string NoticeNote(const Notice& n) {
  switch (n.kind) {
    case NoticeKind::kThrottled:
      return "The server asked korvane to wait " +
             Counted(static_cast<int64_t>(n.seconds), "second", "seconds") +
             "; it waited and went on.";
    case NoticeKind::kConnectionsCut:
      return "The server allows " +
             Counted(n.count, "connection", "connections") +
             " at once; korvane used no more.";
    case NoticeKind::kDailyLimit:
      return "The provider's daily limit was reached after " +
             SizeWords(n.bytes) +
             " went in. Press Start again tomorrow, on the same choices: "
             "korvane carries on without sending anything twice.";
    case NoticeKind::kUploadSize:
      return SizeWords(n.bytes) + " to upload" +
             (n.count > 1
                  ? "; at the provider's daily limit that takes about " +
                        Counted(n.count, "day", "days") +
                        ": press Start again each day until it is "
                        "done."
                  : ".");
    case NoticeKind::kInfo:
      return ShownText(n.text);
    default:  // the sign-in's, which its own page shows
      return "";
  }
}

}  // namespace

std::vector<OutcomeRow> OutcomeRows(const RunRecord& run) {
  std::vector<OutcomeRow> rows;
  for (size_t i = 0; i < run.folders.size(); ++i) {
    const TreeFolder& f = run.folders[i];
    if (!Listed(f)) continue;
    OutcomeRow row;
    row.folder = ShownText(FolderLabel(run.folders, i, run.topName));
    if (Finished(f) && !Failed(f)) row.messages = CountWords(f.result.messages);
    row.outcome = ShortOutcome(f, run.tallied);
    if (run.tallied && f.state == TreeBaseState::kDone && f.result.tallied) {
      const DeliveryTally& t = f.result.tally;
      row.uploaded = CountWords(static_cast<int64_t>(t.delivered));
      row.there = CountWords(static_cast<int64_t>(t.alreadyThere));
      row.refused = CountWords(static_cast<int64_t>(t.refused));
    }
    rows.push_back(row);
  }
  return rows;
}

std::string OutcomeTitle(const RunRecord& run) {
  if (!run.finished)
    return run.tallied ? "Uploading your mail" : "Converting your mail";
  const RunReport& r = run.report;
  if (!r.planned) return "Could not start";
  if (r.status == kRunDailyLimit) return "The daily limit is reached";
  if (r.cancelled) return "Stopped";
  if (r.stopped) return "The run stopped";
  if (r.status == kRunDone) return "Done";
  return "Done, with problems";
}

std::string OutcomeSummary(const RunRecord& run) {
  if (!run.finished || !run.report.planned) return "";
  int bases = 0, finished = 0, failed = 0;
  int64_t messages = 0;
  for (const TreeFolder& f : run.folders) {
    if (!f.HasBase()) continue;
    ++bases;
    if (!Finished(f)) continue;
    ++finished;
    if (Failed(f)) {
      ++failed;
      continue;
    }
    messages += f.result.messages;
  }
  const int good = finished - failed;
  std::string text = Counted(messages, "message", "messages") +
                     (run.tree ? " from " + Counted(good, "folder", "folders")
                               : std::string()) +
                     (messages == 1 ? " is in " : " are in ") +
                     ShownText(run.destination) + ".";
  if (failed > 0)
    text += " " + Counted(failed, "folder", "folders") +
            " could not be converted: see below.";
  if (finished < bases)
    text += " " + CountWords(bases - finished) + " of " +
            Counted(bases, "folder is", "folders are") + " still to do.";
  return text;
}

std::string OutcomeNotes(const RunRecord& run, bool folders) {
  std::vector<std::string> notes;
  for (const Status& error : run.errors)
    notes.push_back((run.report.planned || !run.finished
                         ? std::string()
                         : std::string("korvane could not start: ")) +
                    ShownText(error.Text()) + "." + Advice(error.Kind()));
  if (run.finished && run.report.cancelled)
    notes.push_back(
        "You stopped the run. What was finished is kept; press Start to "
        "carry on where it stopped.");
  else if (run.finished && run.report.stopped)
    notes.push_back(
        "The run stopped: " + ShownText(run.report.stopReason.Text()) + "." +
        Advice(run.report.stopReason.Kind()) +
        " korvane carries on where it stopped.");
  if (run.carriedOn && run.earlier.state == EarlierRunInfo::State::kCutOff)
    notes.push_back(
        "This run carried on one that was cut off: " +
        Counted(run.earlier.doneBefore, "folder was", "folders were") +
        " done before and kept.");
  if (run.carriedOn && run.earlier.state == EarlierRunInfo::State::kWentThrough)
    notes.push_back(
        "This was done before, by a run that went through: "
        "nothing more to do.");
  for (size_t i = 0; folders && i < run.folders.size(); ++i) {
    std::string note = FolderNote(run, i);
    if (!note.empty()) notes.push_back(note);
  }
  for (const Notice& n : run.notices) {
    std::string note = NoticeNote(n);
    if (!note.empty()) notes.push_back(note);
  }
  const InventoryReport& inventory = run.report.inventory;
  if (folders && run.finished && inventory.asked) {
    const std::string name = MadeName(run, inventory.name);
    if (!inventory.failure.IsOk())
      notes.push_back("The inventory " + ShownText(name) +
                      " could not be written in full: " +
                      ShownText(inventory.failure.Text()) + ".");
    else if (inventory.made)
      notes.push_back(
          "The inventory is " + ShownText(name) +
          ": a row for each message, and for each record of a base that "
          "held none, " +
          Counted(static_cast<int64_t>(inventory.rows), "row", "rows") +
          " in all.");
  }
  std::string text;
  for (const std::string& note : notes)
    text += (text.empty() ? "" : "\n\n") + note;
  return text;
}

// The events of a run as JSON Lines, one object per event, for scripts
// and for a front end's saved report (--log FILE). Names and server words
// that are not valid UTF-8 have each bad byte replaced by U+FFFD; no event
// holds a secret, so neither does the log.
//
// Every object has "event" (its name, below) and the event's fields:
//   earlier-run    state (not-begun, cut-off, went-through), source,
//                  destination, doneBefore, status
//   planned        tree, source, destination, kind, jobs, bases, bytes,
//                  tallied, folders: [{path, base, size, state, skipped,
//                  listError}]
//   base-started   index, path, base, output, size
//   scan           index, scan (normal, alternative, recovered)
//   progress       basesDone, basesTotal, bytesDone, bytesTotal, percent,
//                  messages, uploaded, alreadyThere, refused, seconds
//   warning        index, kind (unusable-record)
//   base-finished  index, path, base, output, outcome (converted,
//                  not-recognised, nothing-found, cant-open-base,
//                  cant-read-base, cant-create-output, cant-write-output,
//                  cancelled), failure {kind, code, text}, messages, scan,
//                  recovered, empty,
//                  bytesRead, bytesWritten, and for an account tally:
//                  {uploaded, alreadyThere, refused, refusals}
//   notice         kind, text, where, url, code, bytes, seconds, count
//   error          kind, code, text
//   finished       status, cancelled, planned, stopped, stopReason,
//                  seconds, inventory: {name, made, rows, error}
#ifndef KORVANE_RUN_EVENT_LOG_H_
#define KORVANE_RUN_EVENT_LOG_H_

#include <memory>
#include <string>

#include "io/file_system.h"
#include "run/run_events.h"
#include "status/status.h"

class EventLog : public RunEvents {
 public:
  // Makes the file path (one there, not a folder, is replaced; a link is
  // replaced, never followed). Null, with *error, where it cannot.
  static std::unique_ptr<EventLog> Create(FileSystem* fs,
                                          const std::string& path,
                                          Status* error);
  // Writes each line to a file of the caller's.
  explicit EventLog(std::unique_ptr<WritableFile> file)
      : file(std::move(file)) {}

  void EarlierRun(const EarlierRunInfo& earlier) override;
  void Planned(const RunPlan& plan) override;
  void BaseStarted(const BaseEvent& base) override;
  void ScanStarting(const BaseEvent& base, ScanKind scan) override;
  void Progress(const RunProgress& progress) override;
  void Warning(const RunWarning& warning) override;
  void BaseFinished(const BaseEvent& base) override;
  void Told(const Notice& notice) override;
  void Error(const Status& error) override;
  void Finished(const RunReport& report) override;

  // Closes the file: Ok, or the first failure to write it.
  Status Close();

 private:
  EventLog() = default;
  // Some JSON object, as one line.
  template <typename Json>
  void Write(const Json& object);

  std::unique_ptr<Folder> holder;  // the folder the file was made in
  std::unique_ptr<WritableFile> file;
  Status failure;
};

#endif  // KORVANE_RUN_EVENT_LOG_H_

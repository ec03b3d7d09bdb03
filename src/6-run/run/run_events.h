// How a run tells its front end what happens: one call per event, never a
// line of text. The console prints them (src/7-front/console), --log writes
// them as JSON Lines (event_log.h), the window draws them.
//
// Threads: every event is called on the thread that called ExecuteRun or
// SurveySource, one at a time, in the order things happened; the run's
// workers and the destinations' threads queue theirs for it. An event
// should return soon: the run waits for it (a front end with a window
// posts to its own thread and returns).
//
// Names and texts are raw, as the disk and the servers gave them: a name
// may hold control characters and invalid UTF-8, a server's words any
// byte. A front end escapes them where it shows them. No event holds a
// secret.
//
// Every call has an empty default: a front end overrides what it shows.
#ifndef KORVANE_RUN_RUN_EVENTS_H_
#define KORVANE_RUN_RUN_EVENTS_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "account/account_access.h"
#include "convert/conversion.h"
#include "destination/destination.h"
#include "kinds/output_kind.h"
#include "status/notice.h"
#include "status/status.h"
#include "tree/tree_folders.h"

// The statuses a run ends with (the process's exit statuses).
enum RunStatus {
  kRunDone = 0,  // every base converted (recovered, empty, done before)
  // Nothing to convert: no base, or a base in which no message was found.
  kRunNothingFound = 1,
  // Something could not be read or written, a refusal before anything was
  // made, a message the destination refused.
  kRunFailed = 2,
  // A provider's daily limit ended the run cleanly; the same request
  // another day carries it on without sending anything twice.
  kRunDailyLimit = 3,
};

// A tree into an OUTDIR that holds the journal of an earlier run: told
// before the plan (or instead of it, where there is nothing to do).
struct EarlierRunInfo {
  enum class State {
    kNotBegun,     // cut off before it made anything: begun anew
    kCutOff,       // carried on: doneBefore bases are kept
    kWentThrough,  // nothing to do; it ended with status
  };
  State state = State::kCutOff;
  std::string source;       // ROOT, full path
  std::string destination;  // OUTDIR, full path
  int doneBefore = 0;
  int status = 0;
};

// What the run is about to do, once every check has passed and before
// anything is converted. A single base is a tree of one folder: its path
// "", its baseName the base's name as given, its output the output's name.
struct RunPlan {
  bool tree = false;
  std::string source;       // ROOT's full path; a base's name as given
  std::string destination;  // OUTDIR's full path, an output's name, a URL
  const OutputKind* kind = nullptr;
  // What the kind makes of the destination: its words for it
  // (Destination::Describe, CantCreate). Valid until Finished returns.
  const Destination* to = nullptr;
  // Bases converted at once (never more than there are to convert).
  int jobs = 1;
  int basesToConvert = 0;
  uint64_t bytesToConvert = 0;  // their sizes, as the walk found them
  // The destination decides each message's fate (an account): each base's
  // result has a tally (uploaded, already there, refused).
  bool tallied = false;
  // Every folder the walk found, in tree order, with its place (output)
  // and state: kWaiting to convert, kDoneBefore, kNoBase; skipped entries
  // and folders that could not be listed too. Valid until Finished
  // returns; the indices of BaseEvent point into it.
  const TreeFolders* folders = nullptr;
};

// One base: its folder (path, baseName, output, baseSize; in BaseFinished
// also state kDone and result: outcome, messages, scan, reason, tally).
struct BaseEvent {
  size_t index = 0;  // in RunPlan::folders
  const TreeFolder* folder = nullptr;
};

// How far the run is. For a single base: once as its scan starts, then at
// most every 100 ms while messages are written. For a tree: every 200 ms
// while bases are converted, and once at the end.
struct RunProgress {
  int basesDone = 0;
  int basesTotal = 0;
  uint64_t bytesDone = 0;  // of the bases' sizes, finished ones and parts
  uint64_t bytesTotal = 0;
  // A single base: percent of it done, as the scan counts it (the console
  // prints exactly this). A tree: of bytesTotal.
  unsigned percent = 0;
  uint64_t messagesDone = 0;  // written, of the bases finished and begun
  // An account: the fates the bases finished so far were given.
  uint64_t uploaded = 0, alreadyThere = 0, refused = 0;
  double seconds = 0;  // since the first base started
};

struct RunWarning {
  enum class Kind {
    // The normal scan met a record it could not use (a single base
    // without recover: -a may find more).
    kUnusableRecord,
  };
  Kind kind = Kind::kUnusableRecord;
  size_t index = 0;  // the base's, in RunPlan::folders
};

// The inventory, at the end of a run that asked for one.
struct InventoryReport {
  bool asked = false;
  std::string name;   // as the user finds it: a path, or a name here
  bool made = false;  // a file was made (a run that converts nothing
                      // makes none)
  uint64_t rows = 0;
  Status failure;  // writing it failed: its rows may be incomplete
};

struct RunReport {
  int status = kRunDone;  // RunStatus
  // The request's cancel flag stopped it; status then tells what was
  // finished before (the console ends as the signal would).
  bool cancelled = false;
  // The plan was told: folders and the table apply. A refusal before
  // anything was made (told by Error) ends without one.
  bool planned = false;
  bool tree = false;
  bool tallied = false;  // as RunPlan's
  // The run stopped before every base had its turn (the output side
  // failed: a full disk, the journal, a server gone): why. The bases in
  // progress were finished, the others are kNotStarted.
  bool stopped = false;
  Status stopReason;
  // planned: every folder as the run left it (RunPlan::folders).
  const TreeFolders* folders = nullptr;
  double seconds = 0;  // from the first base's start
  InventoryReport inventory;
};

class RunEvents {
 public:
  virtual ~RunEvents() {}

  // A tree into an OUTDIR with an earlier run's journal: what became of it.
  virtual void EarlierRun(const EarlierRunInfo& earlier) { (void)earlier; }
  // Every check passed; what the run converts.
  virtual void Planned(const RunPlan& plan) { (void)plan; }
  // A base's conversion begins (its output is about to be made).
  virtual void BaseStarted(const BaseEvent& base) { (void)base; }
  // A scan of a base begins: the normal one, the search (-a), or the
  // search of the rest after the record chain broke off (kRecovered).
  virtual void ScanStarting(const BaseEvent& base, ScanKind scan) {
    (void)base;
    (void)scan;
  }
  virtual void Progress(const RunProgress& progress) { (void)progress; }
  virtual void Warning(const RunWarning& warning) { (void)warning; }
  // A base's conversion ended, however it went (folder->result).
  virtual void BaseFinished(const BaseEvent& base) { (void)base; }
  // What a destination or a sign-in tells along the way (status/notice.h).
  virtual void Told(const Notice& notice) { (void)notice; }
  // A failure of the run itself rather than of one base: a refusal before
  // anything was made (a source that cannot be opened, a destination that
  // cannot be used, an OUTDIR inside ROOT), or a folder that cannot be
  // listed. Its text names what it concerns, raw.
  virtual void Error(const Status& error) { (void)error; }
  // The last event of every run.
  virtual void Finished(const RunReport& report) { (void)report; }

  // The destination is an account and the request's account holds no
  // secret: the front end supplies one for place (reads the environment,
  // asks the user, signs in), filling access. Called at most once, after
  // the source's checks and before anything is made, on the caller's
  // thread while the run waits for the answer. A failure ends the run with
  // status kRunFailed, told by Error (not for kCancelled).
  virtual Status AccountNeeded(const AccountPlace& place,
                               AccountAccess* access) {
    (void)place;
    (void)access;
    return Status::Of(StatusKind::kAccessDenied,
                      "no password or token to log in with");
  }
};

// Hands every event to several front ends in turn (the console and the
// log).
class EventFanOut : public RunEvents {
 public:
  explicit EventFanOut(std::vector<RunEvents*> to) : to(std::move(to)) {}
  void EarlierRun(const EarlierRunInfo& e) override {
    for (RunEvents* t : to) t->EarlierRun(e);
  }
  void Planned(const RunPlan& e) override {
    for (RunEvents* t : to) t->Planned(e);
  }
  void BaseStarted(const BaseEvent& e) override {
    for (RunEvents* t : to) t->BaseStarted(e);
  }
  void ScanStarting(const BaseEvent& e, ScanKind scan) override {
    for (RunEvents* t : to) t->ScanStarting(e, scan);
  }
  void Progress(const RunProgress& e) override {
    for (RunEvents* t : to) t->Progress(e);
  }
  void Warning(const RunWarning& e) override {
    for (RunEvents* t : to) t->Warning(e);
  }
  void BaseFinished(const BaseEvent& e) override {
    for (RunEvents* t : to) t->BaseFinished(e);
  }
  void Told(const Notice& e) override {
    for (RunEvents* t : to) t->Told(e);
  }
  void Error(const Status& e) override {
    for (RunEvents* t : to) t->Error(e);
  }
  void Finished(const RunReport& e) override {
    for (RunEvents* t : to) t->Finished(e);
  }
  // The first front end answers.
  Status AccountNeeded(const AccountPlace& place,
                       AccountAccess* access) override {
    return to.empty() ? RunEvents::AccountNeeded(place, access)
                      : to.front()->AccountNeeded(place, access);
  }

 private:
  std::vector<RunEvents*> to;
};

#endif  // KORVANE_RUN_RUN_EVENTS_H_

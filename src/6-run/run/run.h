// The run: a request carried out from the first check to the end status,
// told through events and never printed. The same for every front end and
// every output kind: plan, the checks of source and destination, a tree's
// journal and the carrying on of a run that was cut off, the layout, the
// conversions (several at once for a tree), the uploads, the inventory.
#ifndef KORVANE_RUN_RUN_H_
#define KORVANE_RUN_RUN_H_

#include "run/run_events.h"
#include "run/run_request.h"

// Carries out request, telling events (run_events.h) on this thread, and
// returns the status Finished told (RunStatus). Ends nothing and prints
// nothing; several runs may go at once on different threads.
int ExecuteRun(const RunRequest& request, RunEvents* events);

// As ExecuteRun, but carried out on this thread, with each event told from
// whichever of the run's threads has it, one at a time: for a front end that
// may be told from any thread (the console). A run that needs no thread of
// its own (one base into a Maildir or .eml files) then starts none, and the
// C library, which takes a cheaper path in a process of one thread, saves
// some 3 % of the instructions of a run of small messages.
int ExecuteRunHere(const RunRequest& request, RunEvents* events);

// What a run of request would find, without writing anything: the tree's
// folders (or the one base), each base scanned as the run would scan it
// (with recover, as a tree run always does). Told as a run is: Planned,
// then per base BaseStarted, ScanStarting, BaseFinished, with Progress,
// and Finished, whose folders hold for each base
//   - result.messages, the messages the run would write;
//   - result.outcome kConverted with result.recovered where the base is
//     damaged and the search takes all or the rest of it (result.scan
//     says which), result.emptyBase for a base of 0 bytes;
//   - kNotRecognised or kNothingFound (no message found at all),
//     kCantOpenBase or kCantReadBase with the reason;
// and, for what is skipped: skippedName and skippedKind (a link, a FIFO,
// ...), listError (a folder that cannot be listed). The destination, the
// inventory and the account are not looked at; jobs and cancel are.
// Returns Finished's status.
int SurveySource(const RunRequest& request, RunEvents* events);

#endif  // KORVANE_RUN_RUN_H_

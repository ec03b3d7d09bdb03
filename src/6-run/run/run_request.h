// What a front end asks of a run: where the mail comes from, where it goes,
// and how. The console fills one from the command line, the window from
// its pages; ExecuteRun (run.h) does the rest, the same for both.
#ifndef KORVANE_RUN_RUN_REQUEST_H_
#define KORVANE_RUN_RUN_REQUEST_H_

#include <stdint.h>

#include <atomic>
#include <optional>
#include <string>

#include "account/account_access.h"
#include "io/file_system.h"
#include "kinds/output_kind.h"

// How the bases are read (-a[X][:Y] on the command line).
struct ScanOptions {
  // The search for message starts instead of the record chain.
  bool alternative = false;
  int32_t minHeaderSize = 64;      // X
  int32_t compatibilityLevel = 2;  // Y
};

struct RunRequest {
  // A message base, or with tree a folder (ROOT): every base in it and
  // below it. A path as the user gave it (UTF-8).
  std::string source;
  bool tree = false;
  // Where the messages go: a path (a file or folder, as the kind makes
  // it; OUTDIR for a tree) or an account's URL (imaps://USER@HOST/FOLDER,
  // never with a password in it). None: DefaultDestination (a name given
  // empty is a name, and refused as the system refuses it).
  std::optional<std::string> destination;
  // The output kind's row; null: the one the destination's name chooses
  // (a URL), else the default (an mbox file, an mbox tree).
  const OutputKind* kind = nullptr;
  ScanOptions scan;
  // A single base: leave no message behind, as a tree run always does (a
  // base the record chain cannot walk goes to the search; one of 0 bytes
  // is an empty output). The command line's single run does not.
  bool recover = false;
  // A tree: bases converted at once, 1 to kMaxRunJobs; 0: one per
  // processor. A server's connection limit may lower it (a notice says).
  int jobs = 0;
  // An inventory (CSV) of every record the scan meets: beside a single
  // output, at the top of OUTDIR, or for an account in the current folder.
  bool inventory = false;
  // An account's destination: how to log in. The secret is never shown,
  // logged or written; the run hands the account its own notice sink.
  AccountAccess account;
  // Set (from any thread, a signal or console handler included) to stop
  // the run as a signal would: no base is started after it, a base in
  // progress stops at its next message, and only what is whole keeps its
  // final name. A tree's journal stays open, so the same request later
  // carries the run on. Null: not cancellable.
  const std::atomic<bool>* cancel = nullptr;
  // Where files are read and made; null: the real file system.
  FileSystem* fs = nullptr;
};

const int kMaxRunJobs = 64;

// The kind a request writes: its own, the one its destination's name
// chooses, or the default.
const OutputKind& KindOf(const RunRequest& request);

// The destination of a request that names none (or its own), as the
// command line has always derived it: for a base, its name with the kind's
// suffix in place of its extension ("inbox.tbb" -> "inbox.mbx"); for a tree,
// ROOT's name with the kind's tree suffix beside it ("Mail" -> "Mail-mbox"). ""
// where there is none (a tree of ROOT "/", an account's kind).
std::string DefaultDestination(const RunRequest& request);

#endif  // KORVANE_RUN_RUN_REQUEST_H_

// What the parts of one run share while it goes: the request, where its
// events go, the folders its events point into, and how it ends. Inside
// src/6-run/run only.
#ifndef KORVANE_RUN_RUN_CONTEXT_H_
#define KORVANE_RUN_RUN_CONTEXT_H_

#include <memory>
#include <string>

#include "account/account_access.h"
#include "destination/destination.h"
#include "io/file_system.h"
#include "kinds/output_kind.h"
#include "run/concurrency.h"
#include "run/run_events.h"
#include "run/run_request.h"
#include "status/notice.h"
#include "tree/tree_folders.h"

struct RunContext {
  explicit RunContext(const RunRequest& request)
      : request(request),
        kind(KindOf(request)),
        fs(OrRealFileSystem(request.fs)),
        concurrency(ConcurrencyFor(request.tree, request.jobs)),
        destination(kind.destination(DefaultDestination(request))) {}

  bool Cancelled() const {
    return request.cancel != nullptr &&
           request.cancel->load(std::memory_order_relaxed);
  }

  // Tells the plan, with a copy of the folders as they are now, which the
  // front end may read while the bases are converted.
  void Plan(RunPlan plan);

  // Ends the run with status: the report's rest, then Finished.
  int Finish(int status);
  // Ends the run with a refusal (told by Error) before the bases' turn.
  int Fail(const Status& error);

  const RunRequest& request;
  const OutputKind& kind;
  FileSystem* const fs;
  const Concurrency concurrency;
  // Where the messages go, as the kind makes it.
  const std::unique_ptr<Destination> destination;
  // The destination is a folder of a mail account (OpenAccount).
  bool account = false;
  RunEvents* events = nullptr;    // any thread
  NoticeSink* notices = nullptr;  // the same queue, for the lower layers

  // Outlive the delivery of every event (BaseEvent and RunReport point in).
  TreeFolders folders;
  TreeFolders planned;
  RunReport report;
};

// Where the destination is a folder of a mail account: *place, and the
// destination logged in with the request's secret or the front end's
// answer (RunEvents::AccountNeeded), its notices to the run's queue.
Status OpenAccount(RunContext* run, AccountPlace* place);

// A provider's limits (provider_limits.cpp): jobs lowered to the
// connections it takes at once (a kConnectionsCut notice says so); the
// upload's size and, for a provider with a daily limit, the days it takes
// (kUploadSize). Nothing for an account of no provider korvane knows.
int CapJobs(RunContext* run, const AccountPlace& place, int jobs);
void TellUploadSize(RunContext* run, const AccountPlace& place, uint64_t bytes);

// The runs (single_run.cpp, tree_run.cpp, survey.cpp); each returns its
// status, Finished told.
int RunSingleBase(RunContext* run);
int RunFolderTree(RunContext* run);
int RunSourceSurvey(RunContext* run);

#endif  // KORVANE_RUN_RUN_CONTEXT_H_

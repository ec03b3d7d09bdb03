// The run's frame: its own thread, which carries the request out, and the
// caller's, which tells the front end what the queue holds; or, for a front
// end that can be told from any thread, the caller's thread alone.
#include "run/run.h"

#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "run/event_queue.h"
#include "run/run_context.h"

namespace {

// Where no thread can be had for the run: every event straight to the
// front end, one at a time, from whichever thread of the run tells it.
class LockedEvents : public RunEvents, public NoticeSink {
 public:
  explicit LockedEvents(RunEvents* to) : to(to) {}
  void EarlierRun(const EarlierRunInfo& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->EarlierRun(e);
  }
  void Planned(const RunPlan& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->Planned(e);
  }
  void BaseStarted(const BaseEvent& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->BaseStarted(e);
  }
  void ScanStarting(const BaseEvent& e, ScanKind scan) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->ScanStarting(e, scan);
  }
  void Progress(const RunProgress& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->Progress(e);
  }
  void Warning(const RunWarning& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->Warning(e);
  }
  void BaseFinished(const BaseEvent& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->BaseFinished(e);
  }
  void Told(const Notice& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->Told(e);
  }
  void Error(const Status& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->Error(e);
  }
  void Finished(const RunReport& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    to->Finished(e);
  }
  Status AccountNeeded(const AccountPlace& place,
                       AccountAccess* access) override {
    std::lock_guard<std::mutex> lock(mutex);
    return to->AccountNeeded(place, access);
  }
  void Tell(const Notice& notice) override { Told(notice); }

 private:
  RunEvents* const to;
  std::mutex mutex;
};

// Carries the run out on this thread, each event told straight from
// whichever of the run's threads has it.
int CarryHere(RunContext* context, RunEvents* events, int (*run)(RunContext*)) {
  LockedEvents direct(events);
  context->events = &direct;
  context->notices = &direct;
  return run(context);
}

// Carries the run out on a thread of its own while this thread delivers
// its events; on this thread only where no other thread can be had.
int Carry(const RunRequest& request, RunEvents* events, int (*run)(RunContext*),
          bool here) {
  RunEvents quiet;
  if (events == nullptr) events = &quiet;
  RunContext context(request);
  if (here) return CarryHere(&context, events, run);
  EventQueue queue;
  context.events = &queue;
  context.notices = &queue;
  int status = kRunFailed;
  std::thread worker;
  try {
    worker = std::thread([&] {
      status = run(&context);
      queue.Close();
    });
  } catch (const std::system_error&) {
    return CarryHere(&context, events, run);
  }
  queue.Deliver(events);
  worker.join();
  return status;
}

}  // namespace

void RunContext::Plan(RunPlan plan) {
  planned = folders;
  plan.folders = &planned;
  plan.to = destination.get();
  report.planned = true;
  report.tree = plan.tree;
  report.tallied = plan.tallied;
  events->Planned(plan);
}

int RunContext::Finish(int status) {
  report.status = status;
  if (report.planned) report.folders = &folders;
  events->Finished(report);
  return status;
}

int RunContext::Fail(const Status& error) {
  if (error.Kind() != StatusKind::kCancelled) events->Error(error);
  report.cancelled = error.Kind() == StatusKind::kCancelled;
  // A refusal ends the run before the bases' turn: no table applies.
  report.planned = false;
  return Finish(kRunFailed);
}

Status OpenAccount(RunContext* run, AccountPlace* place) {
  Status status;
  run->account = run->destination->Account(place, &status);
  if (!run->account || !status.IsOk()) return status;
  AccountAccess access = run->request.account;
  // Signed in before (a window's "Sign in"): the tokens are the secret.
  if (access.credentials.secret.empty() && !access.credentials.tokens) {
    status = run->events->AccountNeeded(*place, &access);
    if (!status.IsOk()) return status;
  }
  access.notices = run->notices;
  run->destination->LogInWith(access);
  return Status::Ok();
}

namespace {

int RunAsked(RunContext* run) {
  return run->request.tree ? RunFolderTree(run) : RunSingleBase(run);
}

}  // namespace

int ExecuteRun(const RunRequest& request, RunEvents* events) {
  return Carry(request, events, &RunAsked, false);
}

int ExecuteRunHere(const RunRequest& request, RunEvents* events) {
  return Carry(request, events, &RunAsked, true);
}

int SurveySource(const RunRequest& request, RunEvents* events) {
  return Carry(request, events, &RunSourceSurvey, false);
}

// The events of a run on their way to the thread that called it: the run's
// own thread, its workers and the destinations' threads hand each event
// over, and the caller's thread tells the front end, one at a time and in
// the order they were handed over. The thread that hands one over waits
// until it has been told: the run goes no faster than its front end shows
// it (a console whose output is not read holds the run, as it always has).
#ifndef KORVANE_RUN_EVENT_QUEUE_H_
#define KORVANE_RUN_EVENT_QUEUE_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "run/run_events.h"
#include "status/notice.h"

class EventQueue : public RunEvents, public NoticeSink {
 public:
  // Each call copies its event and returns once it has been told; any
  // thread.
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
  void Tell(const Notice& notice) override { Told(notice); }
  // Waits for the answer, asked on the delivering thread.
  Status AccountNeeded(const AccountPlace& place,
                       AccountAccess* access) override;

  // Nothing more comes: Deliver returns once it has told the rest.
  void Close();
  // Tells to every event handed over, on this thread, until Close.
  void Deliver(RunEvents* to);

 private:
  void Post(std::function<void(RunEvents*)> event);

  std::mutex mutex;  // guards what follows
  std::condition_variable posted;
  std::condition_variable told;
  std::deque<std::function<void(RunEvents*)>> events;
  uint64_t handedOver = 0;  // events, counted from the first
  uint64_t delivered = 0;
  bool closed = false;
};

#endif  // KORVANE_RUN_EVENT_QUEUE_H_

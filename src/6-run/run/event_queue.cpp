#include "run/event_queue.h"

#include <utility>

void EventQueue::Post(std::function<void(RunEvents*)> event) {
  std::unique_lock<std::mutex> lock(mutex);
  events.push_back(std::move(event));
  const uint64_t ticket = ++handedOver;
  posted.notify_one();
  told.wait(lock, [this, ticket] { return delivered >= ticket; });
}

void EventQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
  }
  posted.notify_one();
}

void EventQueue::Deliver(RunEvents* to) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    posted.wait(lock, [this] { return !events.empty() || closed; });
    if (events.empty()) return;
    std::function<void(RunEvents*)> event = std::move(events.front());
    events.pop_front();
    lock.unlock();
    event(to);
    lock.lock();
    ++delivered;
    told.notify_all();
  }
}

void EventQueue::EarlierRun(const EarlierRunInfo& earlier) {
  Post([earlier](RunEvents* to) { to->EarlierRun(earlier); });
}
void EventQueue::Planned(const RunPlan& plan) {
  Post([plan](RunEvents* to) { to->Planned(plan); });
}
void EventQueue::BaseStarted(const BaseEvent& base) {
  Post([base](RunEvents* to) { to->BaseStarted(base); });
}
void EventQueue::ScanStarting(const BaseEvent& base, ScanKind scan) {
  Post([base, scan](RunEvents* to) { to->ScanStarting(base, scan); });
}
void EventQueue::Progress(const RunProgress& progress) {
  Post([progress](RunEvents* to) { to->Progress(progress); });
}
void EventQueue::Warning(const RunWarning& warning) {
  Post([warning](RunEvents* to) { to->Warning(warning); });
}
void EventQueue::BaseFinished(const BaseEvent& base) {
  Post([base](RunEvents* to) { to->BaseFinished(base); });
}
void EventQueue::Told(const Notice& notice) {
  Post([notice](RunEvents* to) { to->Told(notice); });
}
void EventQueue::Error(const Status& error) {
  Post([error](RunEvents* to) { to->Error(error); });
}
void EventQueue::Finished(const RunReport& report) {
  Post([report](RunEvents* to) { to->Finished(report); });
}

Status EventQueue::AccountNeeded(const AccountPlace& place,
                                 AccountAccess* access) {
  Status answer;
  Post([&](RunEvents* to) { answer = to->AccountNeeded(place, access); });
  return answer;
}

// Time as the network code sees it: a millisecond count that only goes
// forward, and a wait until a moment of that count. The system's clock in
// the program; tests give one that moves only when told, so that deadlines,
// pauses and waits cost them no real time.
#ifndef KORVANE_NET_CLOCK_H_
#define KORVANE_NET_CLOCK_H_

#include <stdint.h>

#include <atomic>

class Clock {
 public:
  virtual ~Clock() {}
  // Milliseconds from a start of the clock's own.
  virtual int64_t NowMs() = 0;
  // Returns once NowMs() has reached ms, or early (false) as soon as
  // *cancel turns true; cancel may be null.
  virtual bool WaitUntil(int64_t ms, const std::atomic<bool>* cancel) = 0;
};

// The system's monotonic clock; real waits.
Clock* SystemClock();

// A clock that stands still until it is moved: WaitUntil moves it to the
// moment waited for at once. For tests, and for anything simulated on one
// thread.
class ManualClock : public Clock {
 public:
  int64_t NowMs() override { return now.load(); }
  bool WaitUntil(int64_t ms, const std::atomic<bool>* cancel) override {
    if (cancel != nullptr && *cancel) return false;
    int64_t was = now.load();
    while (ms > was && !now.compare_exchange_weak(was, ms)) {
    }
    return true;
  }
  void Advance(int64_t ms) { now += ms; }

 private:
  std::atomic<int64_t> now{1000000};
};

#endif  // KORVANE_NET_CLOCK_H_

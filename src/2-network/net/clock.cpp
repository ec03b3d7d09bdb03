#include "net/clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

class SteadyClock : public Clock {
 public:
  int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  bool WaitUntil(int64_t ms, const std::atomic<bool>* cancel) override {
    // In short steps, so that a cancel is seen within a tenth of a second.
    for (;;) {
      if (cancel != nullptr && *cancel) return false;
      const int64_t left = ms - NowMs();
      if (left <= 0) return true;
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::min<int64_t>(left, 100)));
    }
  }
};

}  // namespace

Clock* SystemClock() {
  static SteadyClock clock;
  return &clock;
}

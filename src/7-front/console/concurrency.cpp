#include "console/concurrency.h"

#include <algorithm>
#include <thread>

#ifndef _WIN32
#include "platform/mapped_view_guard-posix.h"

// Every job maps its base: each must find a guard for its view, with room
// to spare for the views of the job's recovery pass and the tests' own.
static_assert(kMaxJobs * 2 <= win32_posix::kGuardedViews,
              "more jobs than the mapped-view guard has slots for");
#endif

Concurrency ConcurrencyFor(const RunSettings& settings) {
  Concurrency c;
  c.processors =
      static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
  if (!settings.treeMode) {
    c.writeThread = c.processors > 1;
    return c;
  }
  c.jobs = settings.jobs != 0 ? settings.jobs
                              : std::min(c.processors, int(kMaxJobs));
  // Conversions side by side keep the processors busy already.
  c.writeThread = c.jobs == 1 && c.processors > 1;
  return c;
}

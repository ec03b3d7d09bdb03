#include "run/concurrency.h"

#include <algorithm>
#include <thread>

#include "run/run_request.h"

#ifndef _WIN32
#include "platform/mapped_view_guard-posix.h"

// Every job maps its base: each must find a guard for its view, with room
// to spare for the views of the job's recovery pass and the tests' own.
static_assert(kMaxRunJobs * 2 <= win32_posix::kGuardedViews,
              "more jobs than the mapped-view guard has slots for");
#endif

Concurrency ConcurrencyFor(bool tree, int jobs) {
  Concurrency c;
  c.processors =
      static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
  if (!tree) {
    c.writeThread = c.processors > 1;
    return c;
  }
  c.jobs = jobs > 0 ? std::min(jobs, kMaxRunJobs)
                    : std::min(c.processors, kMaxRunJobs);
  // Conversions side by side keep the processors busy already.
  c.writeThread = c.jobs == 1 && c.processors > 1;
  return c;
}

#include <signal.h>

#include "platform/interrupt.h"

namespace {

std::atomic<bool> requested{false};
static_assert(ATOMIC_BOOL_LOCK_FREE == 2, "set from a signal handler");

void Requested(int) { requested = true; }

}  // namespace

const std::atomic<bool>* StopRequest() {
  static const bool installed = [] {
    struct sigaction action = {};
    action.sa_handler = Requested;
    // The handler once: the next Ctrl-C is the system's again.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0;
  }();
  (void)installed;
  return &requested;
}

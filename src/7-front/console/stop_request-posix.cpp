#include <signal.h>
#include <string.h>

#include "console/stop_request.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM};

std::atomic<bool>* watched = nullptr;
volatile sig_atomic_t requested = 0;  // the signal that came
struct sigaction before[2];

void OnSignal(int signal) {
  requested = signal;
  if (watched != nullptr) watched->store(true);
}

}  // namespace

void WatchStopRequests(std::atomic<bool>* cancel) {
  watched = cancel;
  requested = 0;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Once only: a second Ctrl-C ends the process at once.
  action.sa_flags = SA_RESETHAND;
  for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &action, &before[i]);
}

void EndStopRequests() {
  for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &before[i], nullptr);
  const int signal = requested;
  watched = nullptr;
  if (signal == 0) return;
  // Stdio's buffers are not written, as they would not have been.
  struct sigaction fatal;
  memset(&fatal, 0, sizeof fatal);
  fatal.sa_handler = SIG_DFL;
  sigemptyset(&fatal.sa_mask);
  sigaction(signal, &fatal, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
}

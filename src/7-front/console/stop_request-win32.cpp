#include "console/stop_request.h"
#include "platform/win32.h"

namespace {

std::atomic<bool>* watched = nullptr;
std::atomic<bool> requested{false};
// Set once the run has ended, for a handler that waits for it.
HANDLE runEnded = nullptr;

// The status of a program ended by Ctrl-C (STATUS_CONTROL_C_EXIT).
const UINT kInterruptedStatus = 0xC000013Au;

BOOL WINAPI OnControl(DWORD type) {
  requested = true;
  if (watched != nullptr) watched->store(true);
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // A second one ends the process at once.
      SetConsoleCtrlHandler(OnControl, FALSE);
      return TRUE;
    default:
      // The console is closing (or the session ending): the process ends
      // when this returns, so the run is given a moment to stop first.
      if (runEnded != nullptr) WaitForSingleObject(runEnded, 4000);
      return FALSE;
  }
}

}  // namespace

void WatchStopRequests(std::atomic<bool>* cancel) {
  watched = cancel;
  requested = false;
  if (runEnded == nullptr)
    runEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (runEnded != nullptr) ResetEvent(runEnded);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void EndStopRequests() {
  if (runEnded != nullptr) SetEvent(runEnded);
  SetConsoleCtrlHandler(OnControl, FALSE);
  watched = nullptr;
  if (requested) ExitProcess(kInterruptedStatus);
}

#include "platform/interrupt.h"
#include "platform/win32.h"

namespace {

std::atomic<bool> requested{false};

BOOL WINAPI Requested(DWORD event) {
  // A second Ctrl-C: the system's way, the process ends.
  if (requested && event != CTRL_CLOSE_EVENT) return FALSE;
  requested = true;
  // A closed window ends the process once this returns: the run gets the
  // few seconds the system waits.
  if (event == CTRL_CLOSE_EVENT) Sleep(4000);
  return TRUE;
}

}  // namespace

const std::atomic<bool>* StopRequest() {
  static const bool installed = SetConsoleCtrlHandler(Requested, TRUE) != 0;
  (void)installed;
  return &requested;
}

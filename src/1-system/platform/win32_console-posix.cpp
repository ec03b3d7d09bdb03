// GetConsoleProcessList over POSIX: a terminal always belongs to a shell or
// another program as well, so the answer is the one a command prompt gives.
#include <unistd.h>

#include "platform/win32.h"

DWORD WINAPI GetConsoleProcessList(LPDWORD processList, DWORD processCount) {
  const DWORD processes[2] = {static_cast<DWORD>(getpid()),
                              static_cast<DWORD>(getppid())};
  // Too small a list is left untouched; the count says what it needs.
  if (processList != nullptr && processCount >= 2) {
    processList[0] = processes[0];
    processList[1] = processes[1];
  }
  return 2;
}

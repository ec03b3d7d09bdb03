// The console's owner on POSIX: the layer's GetConsoleProcessList answers
// as a command prompt does, so a terminal is always shared.
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/win32.h"

ConsoleOwner CurrentConsoleOwner() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))
    return ConsoleOwner::kRedirected;
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1 ? ConsoleOwner::kThisProcess
                                                  : ConsoleOwner::kShared;
}

void WaitForEnterKey() {
  tcflush(STDIN_FILENO, TCIFLUSH);
  int c;
  while ((c = getchar()) != EOF && c != '\n') {
  }
}

#include <stdlib.h>

#include "console/dropped_items.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform/win32.h"
#endif

#ifdef __MINGW32__
// Hand "*" to the program as typed: it stands for messages.tbb.
int _dowildcard = 0;
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Console lines end in one "\n" byte, as on POSIX; text mode would make
  // it "\r\n". The console itself starts a new line at "\n" either way.
  _setmode(_fileno(stdout), _O_BINARY);
  // Names are UTF-8 (the manifest's code page): so is what the console
  // shows, for the run, after which the console gets its own back.
  const UINT consolePage = GetConsoleOutputCP();
  if (consolePage != 0) SetConsoleOutputCP(CP_UTF8);
  const int status = RunAsLaunched(argc, argv);
  fflush(stdout);
  if (consolePage != 0) SetConsoleOutputCP(consolePage);
  exit(status);
#else
  exit(RunAsLaunched(argc, argv));
#endif
}

#include <stdlib.h>

#include "main/run.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
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
#endif
  exit(RunKorvane(argc, argv));
}

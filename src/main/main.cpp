#include <stdlib.h>

#include "main/run.h"

#ifdef __MINGW32__
// Hand "*" to the program as typed: it stands for messages.tbb.
int _dowildcard = 0;
#endif

int main(int argc, char** argv) { exit(RunKorvane(argc, argv)); }

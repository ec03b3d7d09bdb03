// One korvane command, from the command line to the exit status.
#ifndef KORVANE_CONSOLE_RUN_H_
#define KORVANE_CONSOLE_RUN_H_

#include "run/run_request.h"

// Returns the process exit status: 0 after a run, 1 for a usage error or a
// base the scanner does not accept, 2 when a file cannot be opened or the
// mailbox cannot be written (RunStatus).
int RunKorvane(int argc, char** argv);

// Carries request out with its events on the console (and as JSON Lines
// into the file logName, where not null); its status.
int RunOnConsole(const RunRequest& request, const char* logName = nullptr);

#endif  // KORVANE_CONSOLE_RUN_H_

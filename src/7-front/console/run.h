// One conversion run, from the command line to the exit status.
#ifndef KORVANE_CONSOLE_RUN_H_
#define KORVANE_CONSOLE_RUN_H_

#include <string>

// Returns the process exit status: 0 after a run, 1 for a usage error or a
// base the scanner does not accept, 2 when a file cannot be opened or the
// mailbox cannot be written.
int RunKorvane(int argc, char** argv);

class Inventory;

// Closes the inventory of a run and says where it went, or why it could
// not be written (false).
bool ReportInventory(Inventory* inventory, const std::string& name);

#endif  // KORVANE_CONSOLE_RUN_H_

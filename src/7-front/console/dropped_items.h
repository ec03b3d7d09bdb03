// How korvane reads its arguments when Explorer started it: with files or
// folders dropped on korvane.exe, or double-clicked with nothing. From a
// command prompt, a script or a terminal the command line is read as typed.
#ifndef KORVANE_CONSOLE_DROPPED_ITEMS_H_
#define KORVANE_CONSOLE_DROPPED_ITEMS_H_

#include <string>
#include <vector>

#include "platform/console.h"

enum class ItemKind { kMissing, kFile, kFolder };

struct LaunchPlan {
  enum class Action {
    kAsTyped,       // the command line as it is
    kHelp,          // a double click with nothing dropped: --help
    kDroppedItems,  // every argument is a dropped file or folder
  };
  Action action = Action::kAsTyped;
  // The window closes with the program: ask for Enter before ending.
  bool waitForEnter = false;
  // kDroppedItems: one command line per item, as a user would type it
  // (without the program's name), run in turn.
  std::vector<std::vector<std::string>> runs;
};

// Decides from the console's owner, the arguments after the program's
// name and what each of them names on disk (kinds, in the same order).
// A folder becomes a tree run into FOLDER-mbox beside it, a file a run of
// one base with its mailbox beside it.
LaunchPlan PlanLaunch(ConsoleOwner owner, const std::vector<std::string>& args,
                      const std::vector<ItemKind>& kinds);

// The process entry: plans from the real console and disk, runs the plan
// through RunKorvane and returns the exit status (the highest of the
// dropped items' statuses).
int RunAsLaunched(int argc, char** argv);

#endif  // KORVANE_CONSOLE_DROPPED_ITEMS_H_

// The console's owner from GetConsoleProcessList, and the wait for Enter.
#include "platform/console.h"
#include "platform/win32.h"

namespace {

bool IsConsole(DWORD standardHandle) {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

ConsoleOwner CurrentConsoleOwner() {
  if (!IsConsole(STD_INPUT_HANDLE) || !IsConsole(STD_OUTPUT_HANDLE))
    return ConsoleOwner::kRedirected;
  // A command prompt is on the list too; a window Explorer opened for the
  // program holds it alone. 0 is a failure: nothing waits then.
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1 ? ConsoleOwner::kThisProcess
                                                  : ConsoleOwner::kShared;
}

void WaitForEnterKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // A key pressed while the run went on would close the window unread.
  FlushConsoleInputBuffer(input);
  INPUT_RECORD record;
  DWORD read = 0;
  while (ReadConsoleInputA(input, &record, 1, &read) && read == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN)
      return;
  }
}

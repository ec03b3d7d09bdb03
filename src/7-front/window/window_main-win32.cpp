// korvanew.exe: the window program. A folder or base dropped on it in
// Explorer arrives as its one argument.
#include <windows.h>
// The shell's calls build on <windows.h>.
#include <shellapi.h>

#include <string>

#include "window/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::wstring dropped = args != nullptr && count > 1 ? args[1] : L"";
  if (args != nullptr) LocalFree(args);
  return RunMainWindow(instance, dropped, show);
}

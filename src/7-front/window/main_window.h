// korvanew.exe's window: the pages of the model drawn with the system's
// standard controls, the user's input handed to the model, the survey and
// the run on threads of their own.
#ifndef KORVANE_WINDOW_MAIN_WINDOW_H_
#define KORVANE_WINDOW_MAIN_WINDOW_H_

#ifdef _WIN32

#include <windows.h>

#include <string>

// Opens the window, with dropped (a folder or base dropped on the program)
// as its source where it is not empty, and runs it until it is closed.
// Returns the process's exit status.
int RunMainWindow(HINSTANCE instance, const std::wstring& dropped, int show);

#endif  // _WIN32

#endif  // KORVANE_WINDOW_MAIN_WINDOW_H_

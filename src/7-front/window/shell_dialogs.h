// The system's own dialogs and shell calls the window uses: the folder and
// file pickers, the save dialog, Explorer on a folder, and the progress on
// the taskbar button.
#ifndef KORVANE_WINDOW_SHELL_DIALOGS_H_
#define KORVANE_WINDOW_SHELL_DIALOGS_H_

#ifdef _WIN32

#include <windows.h>

#include <string>

struct ITaskbarList3;

// The folder picker, opened at start where that is a folder; false when
// the user cancelled.
bool PickFolder(HWND owner, const wchar_t* title, const std::wstring& start,
                std::wstring* path);
// The file picker for one message base (*.tbb).
bool PickBase(HWND owner, const std::wstring& start, std::wstring* path);
// The save dialog for the run's report (*.jsonl), proposing name in
// folder.
bool PickReportFile(HWND owner, const std::wstring& folder,
                    const std::wstring& name, std::wstring* path);
// Explorer, showing folder.
void ShowFolder(HWND owner, const std::wstring& folder);

// The progress shown on the window's taskbar button. Attach once the
// taskbar says the button exists (its registered message); before that,
// and where the system has no taskbar, every call does nothing.
class TaskbarProgress {
 public:
  TaskbarProgress() {}
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // The message the taskbar sends when the window's button is made.
  static UINT ButtonCreatedMessage();
  void Attach(HWND window);
  enum class State { kNone, kNormal, kPaused, kError };
  void Show(State state, unsigned long long done, unsigned long long total);

 private:
  HWND window = nullptr;
  ITaskbarList3* taskbar = nullptr;
};

#endif  // _WIN32

#endif  // KORVANE_WINDOW_SHELL_DIALOGS_H_

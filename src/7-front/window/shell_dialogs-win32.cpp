#include <windows.h>
// The shell's calls and its objects build on <windows.h>.
#include <shellapi.h>
#include <shobjidl.h>

#include "window/shell_dialogs.h"

namespace {

// Runs a file dialog made with options; the chosen item's path.
bool RunDialog(const CLSID& kind, HWND owner, const wchar_t* title,
               FILEOPENDIALOGOPTIONS options, const std::wstring& start,
               const COMDLG_FILTERSPEC* filters, UINT filterCount,
               const wchar_t* name, std::wstring* path) {
  IFileDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(kind, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileDialog,
                              reinterpret_cast<void**>(&dialog))))
    return false;
  FILEOPENDIALOGOPTIONS now = 0;
  dialog->GetOptions(&now);
  dialog->SetOptions(now | options | FOS_FORCEFILESYSTEM);
  if (title != nullptr) dialog->SetTitle(title);
  if (filterCount > 0) dialog->SetFileTypes(filterCount, filters);
  if (name != nullptr) {
    dialog->SetFileName(name);
    dialog->SetDefaultExtension(L"jsonl");
  }
  if (!start.empty()) {
    IShellItem* folder = nullptr;
    if (SUCCEEDED(
            SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem,
                                        reinterpret_cast<void**>(&folder)))) {
      dialog->SetFolder(folder);
      folder->Release();
    }
  }
  bool chosen = false;
  IShellItem* item = nullptr;
  if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
    wchar_t* text = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &text))) {
      *path = text;
      CoTaskMemFree(text);
      chosen = true;
    }
    item->Release();
  }
  dialog->Release();
  return chosen;
}

// The folder that holds path, or path itself where it is a folder.
std::wstring FolderOf(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return path;
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

bool PickFolder(HWND owner, const wchar_t* title, const std::wstring& start,
                std::wstring* path) {
  return RunDialog(CLSID_FileOpenDialog, owner, title,
                   FOS_PICKFOLDERS | FOS_PATHMUSTEXIST, FolderOf(start),
                   nullptr, 0, nullptr, path);
}

bool PickBase(HWND owner, const std::wstring& start, std::wstring* path) {
  const COMDLG_FILTERSPEC filters[] = {{L"Message bases (*.tbb)", L"*.tbb"},
                                       {L"All files (*.*)", L"*.*"}};
  return RunDialog(CLSID_FileOpenDialog, owner, L"Choose a message base",
                   FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST, FolderOf(start),
                   filters, 2, nullptr, path);
}

bool PickReportFile(HWND owner, const std::wstring& folder,
                    const std::wstring& name, std::wstring* path) {
  const COMDLG_FILTERSPEC filters[] = {{L"Reports (*.jsonl)", L"*.jsonl"},
                                       {L"All files (*.*)", L"*.*"}};
  return RunDialog(CLSID_FileSaveDialog, owner, L"Save the report",
                   FOS_OVERWRITEPROMPT | FOS_PATHMUSTEXIST, folder, filters, 2,
                   name.c_str(), path);
}

void ShowFolder(HWND owner, const std::wstring& folder) {
  ShellExecuteW(owner, L"explore", folder.c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
}

TaskbarProgress::~TaskbarProgress() {
  if (taskbar != nullptr) taskbar->Release();
}

UINT TaskbarProgress::ButtonCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void TaskbarProgress::Attach(HWND owner) {
  window = owner;
  if (taskbar != nullptr) return;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ITaskbarList3,
                              reinterpret_cast<void**>(&taskbar)))) {
    taskbar = nullptr;
    return;
  }
  if (FAILED(taskbar->HrInit())) {
    taskbar->Release();
    taskbar = nullptr;
  }
}

void TaskbarProgress::Show(State state, unsigned long long done,
                           unsigned long long total) {
  if (taskbar == nullptr) return;
  static const TBPFLAG kFlags[] = {TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_PAUSED,
                                   TBPF_ERROR};
  taskbar->SetProgressState(window, kFlags[static_cast<int>(state)]);
  if (state != State::kNone && total > 0)
    taskbar->SetProgressValue(window, done, total);
}

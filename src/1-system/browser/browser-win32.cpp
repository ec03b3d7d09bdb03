#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <stdlib.h>

#include "browser/browser.h"

namespace {

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (size > 0)
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        &wide[0], size);
  return wide;
}

std::string Variable(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

// What ShellExecute started answers nothing back.
class ShellLaunch : public BrowserLaunch {
 public:
  bool Failed() override { return false; }
};

class ProcessLaunch : public BrowserLaunch {
 public:
  explicit ProcessLaunch(HANDLE process) : process(process) {}
  ~ProcessLaunch() override { CloseHandle(process); }
  bool Failed() override {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) && code != STILL_ACTIVE &&
           code != 0;
  }

 private:
  HANDLE process;
};

}  // namespace

bool BrowserAvailable() { return true; }

std::unique_ptr<BrowserLaunch> OpenBrowser(const std::string& url,
                                           Status* status) {
  const std::string program = Variable("KORVANE_BROWSER");
  *status = Status::Ok();
  if (program.empty()) {
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", Wide(url).c_str(),
                                           nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) > 32)
      return std::unique_ptr<BrowserLaunch>(new ShellLaunch);
    *status =
        Status::Of(StatusKind::kNotFound,
                   "Windows opened no browser (ShellExecute: " +
                       std::to_string(reinterpret_cast<INT_PTR>(result)) + ")");
    return nullptr;
  }
  // The URL holds no quote or blank (it is percent-encoded).
  std::wstring line = L"\"" + Wide(program) + L"\" \"" + Wide(url) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    *status = Status::System(GetLastError()).Within("can't start " + program);
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::unique_ptr<BrowserLaunch>(new ProcessLaunch(info.hProcess));
}

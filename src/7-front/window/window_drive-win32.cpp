// korvanew-drive.exe: works korvanew.exe as a user would, for the CI stage
// that runs the window under Wine. It reads a script, one step a line, and
// stops at the first step that fails, with status 1:
//
//   start EXE [ARG]      starts the window (ARG: what was dropped on it)
//   title TEXT           waits for the page's title
//   wait ID TEXT         waits until control ID's text holds TEXT
//   enabled ID, disabled ID, hidden ID, shown ID
//   click ID             presses a button, a radio button, a check box
//   set ID TEXT          puts TEXT into an edit, as typing does
//   key KEYS             presses keys: tab, shift+tab, enter, esc, alt+n
//   type TEXT            types TEXT into the control that has the focus
//   tabs ID...           Tab goes through exactly these controls, in turn
//   progress N           waits until the bar is at N of 10000 or more
//   dialog PATH          PATH into the open file dialog's name, then Enter
//   answer yes|no        answers the open message box
//   layout               every control in the window, none over another,
//                        every text in its control
//   shot FILE [popup]    the window (and what it shows over it) as a
//                        picture, which the script running this takes
//   size                 prints the window's DPI and client size
//   close                closes the window (its close button)
//   exited               waits until the program has ended, status 0
//
// IDs are the names of control_ids.h without "kId" (Next, SourceEdit...).
// Keys go through SendInput, as a keyboard's do; the rest through the
// controls' own messages.
#include <windows.h>
// The common controls build on <windows.h>.
#include <commctrl.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "window/control_ids.h"

namespace {

#define ID(name) \
  { #name, kId##name }
const std::map<std::string, int> kIds = {
    ID(Next),          ID(Close),           ID(Back),
    ID(Title),         ID(Intro),           ID(Problem),
    ID(SourceLabel),   ID(SourceEdit),      ID(ChooseFolder),
    ID(ChooseBase),    ID(SurveyLabel),     ID(SurveyList),
    ID(SurveySummary), ID(KindMbox),        ID(KindMboxText),
    ID(KindMaildir),   ID(KindMaildirText), ID(KindEml),
    ID(KindEmlText),   ID(KindAccount),     ID(KindAccountText),
    ID(OutputLabel),   ID(OutputEdit),      ID(OutputBrowse),
    ID(Inventory),     ID(InventoryText),   ID(AddressLabel),
    ID(AddressEdit),   ID(SignInText),      ID(SignIn),
    ID(PasswordLabel), ID(PasswordEdit),    ID(ServerLabel),
    ID(ServerEdit),    ID(PortLabel),       ID(PortEdit),
    ID(UserLabel),     ID(UserEdit),        ID(FolderLabel),
    ID(FolderEdit),    ID(Progress),        ID(NowLabel),
    ID(Now),           ID(MessagesLabel),   ID(Messages),
    ID(TallyLabel),    ID(Tally),           ID(TimeLabel),
    ID(TimeLeft),      ID(RunNotes),        ID(DoneList),
    ID(NotesLabel),    ID(Notes),           ID(OpenOutput),
    ID(SaveReport),
};
#undef ID

const DWORD kPatience = 60000;  // ms a step may wait

std::wstring Wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string text(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      &text[0], n, nullptr, nullptr);
  return text;
}

std::wstring TextOf(HWND control) {
  wchar_t text[4096] = L"";
  SendMessageTimeoutW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

class Driver {
 public:
  bool Step(const std::string& line);

 private:
  bool Fail(const std::string& why) {
    fprintf(stdout, "FAILED: %s\n", why.c_str());
    return false;
  }
  // Polls until ready() holds; false after kPatience.
  template <typename Ready>
  bool Until(Ready ready) {
    const DWORD start = GetTickCount();
    while (!ready()) {
      if (GetTickCount() - start > kPatience) return false;
      if (process != nullptr &&
          WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && !ready())
        return false;
      Sleep(30);
    }
    return true;
  }
  HWND Control(const std::string& name) {
    auto it = kIds.find(name);
    return it == kIds.end() ? nullptr : GetDlgItem(window, it->second);
  }
  HWND Focus() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread, &info);
    return info.hwndFocus;
  }
  // The window the program shows over its main one: a dialog, a message box.
  HWND Popup() {
    struct Search {
      DWORD thread;
      HWND main, found;
    } search = {thread, window, nullptr};
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM data) -> BOOL {
          Search* s = reinterpret_cast<Search*>(data);
          if (hwnd != s->main && IsWindowVisible(hwnd) &&
              GetWindow(hwnd, GW_OWNER) == s->main) {
            s->found = hwnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  bool Start(const std::wstring& exe, const std::wstring& arg);
  bool Keys(const std::string& keys);
  bool Type(const std::wstring& text);
  bool Tabs(const std::vector<std::string>& names);
  bool Layout();
  bool Shot(const RECT& box, const std::string& file);

  HANDLE process = nullptr;
  DWORD thread = 0;
  HWND window = nullptr;
};

bool Driver::Start(const std::wstring& exe, const std::wstring& arg) {
  std::wstring line = L"\"" + exe + L"\"";
  if (!arg.empty()) line += L" \"" + arg + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &info))
    return Fail("can't start the program");
  CloseHandle(info.hThread);
  process = info.hProcess;
  const DWORD id = info.dwProcessId;
  const bool found = Until([&] {
    window = nullptr;
    for (HWND w = FindWindowW(KORVANE_WINDOW_CLASS, nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, KORVANE_WINDOW_CLASS, nullptr)) {
      DWORD owner = 0;
      const DWORD t = GetWindowThreadProcessId(w, &owner);
      if (owner == id && IsWindowVisible(w)) {
        window = w;
        thread = t;
      }
    }
    return window != nullptr;
  });
  if (!found) return Fail("no window");
  SetForegroundWindow(window);
  return true;
}

// Presses "mod+mod+key" for each of keys, separated by blanks.
bool Driver::Keys(const std::string& keys) {
  static const std::map<std::string, WORD> kKeys = {
      {"tab", VK_TAB},     {"enter", VK_RETURN}, {"esc", VK_ESCAPE},
      {"space", VK_SPACE}, {"down", VK_DOWN},    {"up", VK_UP},
      {"shift", VK_SHIFT}, {"alt", VK_MENU},     {"ctrl", VK_CONTROL}};
  std::istringstream words(keys);
  std::string chord;
  while (words >> chord) {
    std::vector<WORD> codes;
    std::stringstream parts(chord);
    std::string part;
    while (std::getline(parts, part, '+')) {
      auto it = kKeys.find(part);
      if (it != kKeys.end())
        codes.push_back(it->second);
      else if (part.size() == 1)
        codes.push_back(static_cast<WORD>(toupper(part[0])));
      else
        return Fail("no key " + part);
    }
    std::vector<INPUT> inputs;
    for (WORD code : codes) {
      INPUT input = {};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = code;
      inputs.push_back(input);
    }
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
      INPUT input = {};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = *it;
      input.ki.dwFlags = KEYEVENTF_KEYUP;
      inputs.push_back(input);
    }
    SetForegroundWindow(Popup() != nullptr ? Popup() : window);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(150);
  }
  return true;
}

bool Driver::Type(const std::wstring& text) {
  std::vector<INPUT> inputs;
  for (wchar_t c : text) {
    for (DWORD up : {0ul, static_cast<unsigned long>(KEYEVENTF_KEYUP)}) {
      INPUT input = {};
      input.type = INPUT_KEYBOARD;
      input.ki.wScan = c;
      input.ki.dwFlags = KEYEVENTF_UNICODE | up;
      inputs.push_back(input);
    }
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  Sleep(200);
  return true;
}

// Tab from control to control: from the first named, the named ones in
// turn and then the first again, nothing else.
bool Driver::Tabs(const std::vector<std::string>& names) {
  HWND first = Control(names[0]);
  for (int i = 0; i < 40 && Focus() != first; ++i) Keys("tab");
  if (Focus() != first) return Fail("Tab never reaches " + names[0]);
  std::string went = names[0];
  for (size_t i = 1; i <= names.size(); ++i) {
    Keys("tab");
    const std::string& name = names[i % names.size()];
    HWND now = Focus();
    std::string at = "another control";
    for (const auto& id : kIds)
      if (GetDlgItem(window, id.second) == now) at = id.first;
    went += " " + at;
    if (now != Control(name))
      return Fail("Tab went " + went + ", not to " + name);
  }
  printf("  tab order: %s\n", went.c_str());
  return true;
}

// The font a control of the window has: the message font at its DPI, the
// title's a third larger.
HFONT FontOf(UINT dpi, bool title) {
  NONCLIENTMETRICSW system = {};
  system.cbSize = sizeof system;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof system, &system, 0,
                             dpi);
  if (title)
    system.lfMessageFont.lfHeight = MulDiv(system.lfMessageFont.lfHeight, 4, 3);
  return CreateFontIndirectW(&system.lfMessageFont);
}

bool Driver::Layout() {
  RECT client;
  GetClientRect(window, &client);
  const UINT dpi = GetDpiForWindow(window);
  struct Shown {
    std::string name;
    RECT box;
  };
  std::vector<Shown> shown;
  HDC dc = GetDC(nullptr);
  HFONT font = FontOf(dpi, false), title = FontOf(dpi, true);
  bool good = true;
  for (const auto& id : kIds) {
    HWND control = GetDlgItem(window, id.second);
    if (control == nullptr || !IsWindowVisible(control)) continue;
    RECT box;
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
    if (box.left < 0 || box.top < 0 || box.right > client.right ||
        box.bottom > client.bottom || box.right <= box.left ||
        box.bottom <= box.top) {
      good = Fail(id.first + " lies outside the window");
    }
    for (const Shown& other : shown) {
      RECT both;
      if (IntersectRect(&both, &box, &other.box))
        good = Fail(id.first + " lies over " + other.name);
    }
    shown.push_back({id.first, box});
    // Its text, where the control shows one, must fit.
    wchar_t kind[32] = L"";
    GetClassNameW(control, kind, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const bool isStatic = lstrcmpiW(kind, L"Static") == 0;
    const bool isButton = lstrcmpiW(kind, L"Button") == 0;
    if (!isStatic && !isButton) continue;
    if (isStatic && (style & SS_ENDELLIPSIS)) continue;
    const std::wstring text = TextOf(control);
    if (text.empty()) continue;
    SelectObject(dc, id.second == kIdTitle ? title : font);
    const int width = box.right - box.left, height = box.bottom - box.top;
    // A check box or radio button draws its box before the text.
    const int type = style & BS_TYPEMASK;
    const bool boxed =
        isButton && type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON;
    const int room = boxed      ? width - MulDiv(20, dpi, 96)
                     : isButton ? width - MulDiv(8, dpi, 96)
                                : width;
    RECT need = {0, 0, room, 0};
    DrawTextW(dc, text.c_str(), -1, &need,
              DT_CALCRECT | DT_WORDBREAK |
                  (isStatic && (style & SS_NOPREFIX) ? DT_NOPREFIX : 0));
    if (need.right > room || need.bottom > height)
      good = Fail(id.first + ": its text needs " + std::to_string(need.right) +
                  "x" + std::to_string(need.bottom) + ", it has " +
                  std::to_string(room) + "x" + std::to_string(height) + ": " +
                  Narrow(text));
  }
  DeleteObject(font);
  DeleteObject(title);
  ReleaseDC(nullptr, dc);
  printf("  layout: %u controls at %u DPI\n",
         static_cast<unsigned>(shown.size()), dpi);
  return good;
}

// The window is taken from the X screen, frame and all, by whoever runs
// this under Wine: FILE.want names the rectangle (WxH+X+Y, the virtual
// desktop at the screen's corner), and goes once FILE is taken.
bool Driver::Shot(const RECT& box, const std::string& file) {
  if (Popup() == nullptr) {
    // In front, as the user sees it: the window's thread shares this one's
    // input for a moment, which lets it become the foreground.
    const DWORD self = GetCurrentThreadId();
    AttachThreadInput(self, thread, TRUE);
    BringWindowToTop(window);
    SetForegroundWindow(window);
    AttachThreadInput(self, thread, FALSE);
  }
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Sleep(400);
  const std::wstring want = Wide(file + ".want");
  {
    std::ofstream out(want.c_str());
    out << box.right - box.left << "x" << box.bottom - box.top << "+"
        << box.left << "+" << box.top << "\n";
    if (!out) return Fail("can't write " + file + ".want");
  }
  const bool taken = Until([&] {
    return GetFileAttributesW(want.c_str()) == INVALID_FILE_ATTRIBUTES;
  });
  if (!taken) return Fail("nobody took " + file);
  printf("  %ldx%ld\n", box.right - box.left, box.bottom - box.top);
  return true;
}

bool Driver::Step(const std::string& line) {
  std::istringstream words(line);
  std::string verb, name;
  words >> verb;
  std::string rest;
  std::getline(words >> std::ws, rest);
  std::istringstream restWords(rest);
  restWords >> name;
  std::string after;
  std::getline(restWords >> std::ws, after);
  if (verb.empty() || verb[0] == '#') return true;
  printf("%s\n", line.c_str());
  fflush(stdout);
  if (verb == "start") return Start(Wide(name), Wide(after));
  if (window == nullptr) return Fail("start the window first");
  HWND control = Control(name);
  if (verb == "title") {
    return Until([&] { return Narrow(TextOf(Control("Title"))) == rest; }) ||
           Fail("the title is \"" + Narrow(TextOf(Control("Title"))) + "\"");
  }
  if (verb == "wait" || verb == "enabled" || verb == "disabled" ||
      verb == "hidden" || verb == "shown" || verb == "click" || verb == "set") {
    if (control == nullptr) return Fail("no control " + name);
  }
  if (verb == "wait")
    return Until([&] {
             return Narrow(TextOf(control)).find(after) != std::string::npos;
           }) ||
           Fail(name + " says \"" + Narrow(TextOf(control)) + "\"");
  if (verb == "enabled" || verb == "disabled")
    return Until([&] {
             return (IsWindowEnabled(control) != FALSE) == (verb == "enabled");
           }) ||
           Fail(name + " is not " + verb);
  if (verb == "hidden" || verb == "shown")
    return Until([&] {
             return (IsWindowVisible(control) != FALSE) == (verb == "shown");
           }) ||
           Fail(name + " is not " + verb);
  if (verb == "click") {
    if (!IsWindowVisible(control) || !IsWindowEnabled(control))
      return Fail(name + " can't be pressed");
    PostMessageW(control, BM_CLICK, 0, 0);
    Sleep(100);
    return true;
  }
  if (verb == "set") {
    SendMessageW(control, WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(Wide(after).c_str()));
    return true;
  }
  if (verb == "key") return Keys(rest);
  if (verb == "type") {
    SetForegroundWindow(window);
    return Type(Wide(rest));
  }
  if (verb == "tabs") {
    std::vector<std::string> names;
    std::istringstream list(rest);
    for (std::string n; list >> n;) {
      if (Control(n) == nullptr) return Fail("no control " + n);
      names.push_back(n);
    }
    return !names.empty() && Tabs(names);
  }
  if (verb == "progress") {
    const int least = atoi(name.c_str());
    return Until([&] {
             return static_cast<int>(SendMessageW(Control("Progress"),
                                                  PBM_GETPOS, 0, 0)) >= least;
           }) ||
           Fail("the bar stays below " + name);
  }
  if (verb == "dialog") {
    HWND dialog = nullptr;
    if (!Until([&] { return (dialog = Popup()) != nullptr; }))
      return Fail("no dialog");
    Sleep(500);
    SetForegroundWindow(dialog);
    // What the dialog proposes gives way to the path, as if typed over it.
    HWND field = nullptr;
    if (!Until([&] { return (field = Focus()) != nullptr; }))
      return Fail("nothing has the focus in the dialog");
    SendMessageW(field, WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(Wide(rest).c_str()));
    Keys("enter");
    return Until([&] { return Popup() == nullptr; }) ||
           Fail("the dialog stays open");
  }
  if (verb == "answer") {
    HWND box = nullptr;
    if (!Until([&] { return (box = Popup()) != nullptr; }))
      return Fail("no message box");
    PostMessageW(box, WM_COMMAND, name == "yes" ? IDYES : IDNO, 0);
    return Until([&] { return Popup() == nullptr; }) ||
           Fail("the message box stays open");
  }
  if (verb == "layout") return Layout();
  if (verb == "shot") {
    RECT box, over;
    GetWindowRect(window, &box);
    if (after == "popup") {
      HWND popup = nullptr;
      if (!Until([&] { return (popup = Popup()) != nullptr; }))
        return Fail("nothing over the window");
      Sleep(500);  // until it has painted
      GetWindowRect(popup, &over);
      UnionRect(&box, &box, &over);
    }
    return Shot(box, name);
  }
  if (verb == "size") {
    RECT client;
    GetClientRect(window, &client);
    printf("  dpi %u client %ldx%ld\n", GetDpiForWindow(window), client.right,
           client.bottom);
    return true;
  }
  if (verb == "close") {
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return true;
  }
  if (verb == "exited") {
    DWORD status = 1;
    if (WaitForSingleObject(process, kPatience) != WAIT_OBJECT_0)
      return Fail("the program is still running");
    GetExitCodeProcess(process, &status);
    return status == 0 || Fail("status " + std::to_string(status));
  }
  if (verb == "sleep") {
    Sleep(atoi(name.c_str()));
    return true;
  }
  return Fail("no step " + verb);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: korvanew-drive SCRIPT\n");
    return 2;
  }
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  std::ifstream script(argv[1]);
  if (!script) {
    fprintf(stderr, "korvanew-drive: can't read the script\n");
    return 2;
  }
  Driver driver;
  std::string line;
  int number = 0;
  const DWORD start = GetTickCount();
  while (std::getline(script, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!driver.Step(line)) {
      printf("at line %d, after %.1f s\n", number,
             (GetTickCount() - start) / 1000.0);
      return 1;
    }
  }
  printf("script done in %.1f s\n", (GetTickCount() - start) / 1000.0);
  return 0;
}

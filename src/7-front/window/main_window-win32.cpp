#include <windows.h>
// The common controls and the shell's calls build on <windows.h>.
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "window/control_ids.h"
#include "window/main_window.h"
#include "window/run_thread.h"
#include "window/shell_dialogs.h"
#include "window/ui_queue.h"
#include "window/wide_text.h"
#include "window/window_layout.h"
#include "window/window_model.h"

namespace {

// Posted by the worker threads: the UI queue holds something.
const UINT kWakeMessage = WM_APP + 1;
// The source edit is surveyed once typing has paused this long.
const UINT_PTR kTypingTimer = 1;
const UINT kTypingPause = 600;  // milliseconds

// What a control is: its class, style and text. The order is the order
// of the Tab key; a label comes right before its control, so that its
// access key and a screen reader find it.
struct ControlRow {
  int id;
  const wchar_t* windowClass;
  DWORD style;
  const wchar_t* text;
};

const DWORD kLabel = SS_LEFT;
const DWORD kValue = SS_LEFT | SS_NOPREFIX;  // names from the disk
const DWORD kEdit = WS_TABSTOP | ES_AUTOHSCROLL;
const DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;

const ControlRow kControls[] = {
    {kIdTitle, WC_STATICW, kValue, L""},
    {kIdIntro, WC_STATICW, kValue, L""},

    {kIdSourceLabel, WC_STATICW, kLabel, L"&Mail folder or base:"},
    {kIdSourceEdit, WC_EDITW, kEdit, L""},
    {kIdChooseFolder, WC_BUTTONW, kButton, L"Choose a &folder..."},
    {kIdChooseBase, WC_BUTTONW, kButton, L"Choose a &base..."},
    {kIdSurveyLabel, WC_STATICW, kLabel, L"&What is there:"},
    {kIdSurveyList, WC_LISTVIEWW,
     WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
         LVS_NOSORTHEADER,
     L""},
    {kIdSurveySummary, WC_STATICW, kValue, L""},

    // The four kinds, one group for the arrow keys; their lines after
    // them, so that the arrows go from kind to kind.
    {kIdKindMbox, WC_BUTTONW, WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON,
     L"Folders for &Thunderbird"},
    {kIdKindMaildir, WC_BUTTONW, BS_AUTORADIOBUTTON, L"&Maildir"},
    {kIdKindEml, WC_BUTTONW, BS_AUTORADIOBUTTON, L".&eml files"},
    {kIdKindAccount, WC_BUTTONW, BS_AUTORADIOBUTTON, L"An email &account"},
    {kIdKindMboxText, WC_STATICW, WS_GROUP | kValue, L""},
    {kIdKindMaildirText, WC_STATICW, kValue, L""},
    {kIdKindEmlText, WC_STATICW, kValue, L""},
    {kIdKindAccountText, WC_STATICW, kValue, L""},
    {kIdOutputLabel, WC_STATICW, kLabel, L"&Into:"},
    {kIdOutputEdit, WC_EDITW, kEdit, L""},
    {kIdOutputBrowse, WC_BUTTONW, kButton, L"Bro&wse..."},
    {kIdInventory, WC_BUTTONW, WS_TABSTOP | BS_AUTOCHECKBOX,
     L"Also write an in&ventory (CSV)"},
    {kIdInventoryText, WC_STATICW, kValue,
     L"A list of every message with its folder, date, sender, subject and "
     L"checksum, to see that nothing is missing."},

    {kIdAddressLabel, WC_STATICW, kLabel, L"A&ddress:"},
    {kIdAddressEdit, WC_EDITW, kEdit, L""},
    {kIdSignInText, WC_STATICW, kValue, L""},
    {kIdSignIn, WC_BUTTONW, kButton, L"&Sign in..."},
    {kIdPasswordLabel, WC_STATICW, kLabel, L"&Password:"},
    {kIdPasswordEdit, WC_EDITW, kEdit | ES_PASSWORD, L""},
    {kIdServerLabel, WC_STATICW, kLabel, L"Ser&ver (IMAP):"},
    {kIdServerEdit, WC_EDITW, kEdit, L""},
    {kIdPortLabel, WC_STATICW, kLabel, L"P&ort:"},
    {kIdPortEdit, WC_EDITW, kEdit | ES_NUMBER, L"993"},
    {kIdUserLabel, WC_STATICW, kLabel, L"&User name:"},
    {kIdUserEdit, WC_EDITW, kEdit, L""},
    {kIdFolderLabel, WC_STATICW, kLabel, L"&Folder in the account:"},
    {kIdFolderEdit, WC_EDITW, kEdit, L""},

    {kIdProgress, PROGRESS_CLASSW, PBS_SMOOTH, L""},
    {kIdNowLabel, WC_STATICW, kLabel, L"Folder:"},
    {kIdNow, WC_STATICW, kValue | SS_ENDELLIPSIS, L""},
    {kIdMessagesLabel, WC_STATICW, kLabel, L"Messages:"},
    {kIdMessages, WC_STATICW, kValue, L""},
    {kIdTallyLabel, WC_STATICW, kLabel, L"In the account:"},
    {kIdTally, WC_STATICW, kValue, L""},
    {kIdTimeLabel, WC_STATICW, kLabel, L"Time left:"},
    {kIdTimeLeft, WC_STATICW, kValue, L""},
    {kIdRunNotes, WC_STATICW, kValue, L""},

    {kIdDoneList, WC_LISTVIEWW,
     WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
         LVS_NOSORTHEADER,
     L""},
    {kIdNotesLabel, WC_STATICW, kLabel, L"W&hat to know:"},
    {kIdNotes, WC_EDITW,
     WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
         ES_AUTOVSCROLL,
     L""},

    {kIdProblem, WC_STATICW, kValue, L""},
    {kIdOpenOutput, WC_BUTTONW, kButton, L"&Open the output folder"},
    {kIdSaveReport, WC_BUTTONW, kButton, L"Save the &report..."},
    {kIdBack, WC_BUTTONW, kButton, L"< &Back"},
    {kIdNext, WC_BUTTONW, kButton, L"&Next >"},
    {kIdClose, WC_BUTTONW, kButton, L"Cancel"},
};

// A list view's columns: heading, width in dialog units, aligned right.
struct Column {
  const wchar_t* heading;
  int width;
  bool right;
};
const Column kSurveyColumns[] = {{L"Folder", 130, false},
                                 {L"Messages", 44, true},
                                 {L"Size", 44, true},
                                 {L"Note", 110, false}};
const Column kDoneColumns[] = {
    {L"Folder", 130, false}, {L"Messages", 44, true}, {L"Outcome", 150, false}};
const Column kDoneColumnsOfAccount[] = {
    {L"Folder", 100, false},      {L"Messages", 40, true},
    {L"Outcome", 66, false},      {L"Uploaded", 42, true},
    {L"Already there", 54, true}, {L"Refused", 40, true}};

// Windows' line ends, which a multi-line edit needs.
std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::wstring TextOf(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(length + 1, L'\0');
  GetWindowTextW(control, &text[0], length + 1);
  text.resize(length);
  return text;
}

class MainWindow {
 public:
  MainWindow()
      : queue([this] { PostMessageW(window, kWakeMessage, 0, 0); }),
        threads(&model, &queue, [this](ModelChange change, size_t index) {
          Changed(change, index);
        }) {}
  ~MainWindow();

  bool Open(HINSTANCE instance, int show);
  void ChooseSource(const std::wstring& path);
  HWND Handle() const { return window; }

 private:
  static LRESULT CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);

  void MakeControls();
  void ApplyDpi(UINT dpi);
  void SetColumns(int listId, const Column* columns, int count);
  void FitColumns(int listId, int flex);
  void FitLastColumns();
  void LayOut();
  void Refresh();
  void SetText(int id, const std::string& text);
  void SetEditText(int id, const std::string& text);
  void SetRow(int listId, int row, const std::vector<std::string>& cells);
  void FillSurvey();
  void FillSurveyRow(size_t index);
  void FillDone();
  void ShowProgress();
  void FocusPage();
  void Enable(int id, bool on);

  void Changed(ModelChange change, size_t index);
  void Command(int id, int code);
  void NewSource(const std::string& path);
  void Start();
  void SaveReport();
  void ReadAccount();
  bool Paint(HDC dc);

  HWND window = nullptr;
  WindowModel model;
  UiQueue queue;
  // After the model and the queue, so that its threads end before them.
  RunThreads threads;
  WindowMetrics metrics;
  TaskbarProgress taskbar;
  Page shownPage = Page::kSource;
  bool settingText = false;  // the window's own changes, not the user's
  bool closeWhenStopped = false;
  std::vector<size_t> surveyRows;  // the survey's folder of each row
};

MainWindow::~MainWindow() {
  if (metrics.font != nullptr) DeleteObject(metrics.font);
  if (metrics.titleFont != nullptr) DeleteObject(metrics.titleFont);
}

bool MainWindow::Open(HINSTANCE instance, int show) {
  WNDCLASSEXW type = {};
  type.cbSize = sizeof type;
  type.lpfnWndProc = &MainWindow::Procedure;
  // A dialog's extra bytes, so that DefDlgProc runs the window as a dialog:
  // Tab, the arrows, access keys, the default button, focus kept.
  type.cbWndExtra = DLGWINDOWEXTRA;
  type.hInstance = instance;
  type.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  type.hIconSm = static_cast<HICON>(LoadImageW(
      instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
      GetSystemMetrics(SM_CYSMICON), 0));
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  type.lpszClassName = KORVANE_WINDOW_CLASS;
  if (type.hIcon == nullptr) type.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  if (RegisterClassExW(&type) == 0) return false;
  window =
      CreateWindowExW(WS_EX_CONTROLPARENT, KORVANE_WINDOW_CLASS, L"korvane",
                      WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                      CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
  if (window == nullptr) return false;
  MakeControls();
  ApplyDpi(GetDpiForWindow(window));
  const SIZE size = OpeningClientSize(metrics);
  RECT frame = {0, 0, size.cx, size.cy};
  AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE,
                           WS_EX_CONTROLPARENT, metrics.dpi);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left,
               frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  DragAcceptFiles(window, TRUE);
  Refresh();
  ShowWindow(window, show);
  FocusPage();
  return true;
}

void MainWindow::MakeControls() {
  HINSTANCE instance =
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (const ControlRow& row : kControls) {
    DWORD exStyle = 0;
    if (row.windowClass == std::wstring(WC_EDITW)) exStyle = WS_EX_CLIENTEDGE;
    HWND control = CreateWindowExW(
        exStyle, row.windowClass, row.text, WS_CHILD | row.style, 0, 0, 0, 0,
        window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance,
        nullptr);
    if (row.windowClass == std::wstring(WC_LISTVIEWW))
      ListView_SetExtendedListViewStyle(control, LVS_EX_FULLROWSELECT |
                                                     LVS_EX_DOUBLEBUFFER |
                                                     LVS_EX_LABELTIP);
  }
  SendDlgItemMessageW(window, kIdProgress, PBM_SETRANGE32, 0, 10000);
  SendDlgItemMessageW(window, kIdKindMbox, BM_SETCHECK, BST_CHECKED, 0);
  SendDlgItemMessageW(window, kIdUserEdit, EM_SETCUEBANNER, TRUE,
                      reinterpret_cast<LPARAM>(L"the address"));
  SendDlgItemMessageW(
      window, kIdSourceEdit, EM_SETCUEBANNER, TRUE,
      reinterpret_cast<LPARAM>(L"Choose a folder, or drop it on this window"));
  for (OutputChoice choice :
       {OutputChoice::kThunderbird, OutputChoice::kMaildir, OutputChoice::kEml,
        OutputChoice::kAccount}) {
    static const int kTexts[] = {kIdKindMboxText, kIdKindMaildirText,
                                 kIdKindEmlText, kIdKindAccountText};
    SetText(kTexts[static_cast<int>(choice)],
            WindowModel::OutputDescription(choice));
  }
}

void MainWindow::ApplyDpi(UINT dpi) {
  NONCLIENTMETRICSW system = {};
  system.cbSize = sizeof system;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof system, &system, 0,
                             dpi);
  LOGFONTW title = system.lfMessageFont;
  // The main instruction of Windows' own dialogs: a third larger.
  title.lfHeight = MulDiv(title.lfHeight, 4, 3);
  if (metrics.font != nullptr) DeleteObject(metrics.font);
  if (metrics.titleFont != nullptr) DeleteObject(metrics.titleFont);
  metrics.dpi = dpi;
  metrics.font = CreateFontIndirectW(&system.lfMessageFont);
  metrics.titleFont = CreateFontIndirectW(&title);

  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, metrics.font);
  TEXTMETRICW text;
  GetTextMetricsW(dc, &text);
  SIZE alphabet;
  GetTextExtentPoint32W(dc,
                        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
                        52, &alphabet);
  metrics.charWidth = (alphabet.cx / 26 + 1) / 2;
  metrics.charHeight = text.tmHeight;
  SelectObject(dc, metrics.titleFont);
  GetTextMetricsW(dc, &text);
  metrics.titleHeight = text.tmHeight + text.tmExternalLeading;
  SelectObject(dc, old);
  ReleaseDC(window, dc);

  for (const ControlRow& row : kControls)
    SendDlgItemMessageW(
        window, row.id, WM_SETFONT,
        reinterpret_cast<WPARAM>(row.id == kIdTitle ? metrics.titleFont
                                                    : metrics.font),
        FALSE);
  SetColumns(kIdSurveyList, kSurveyColumns,
             sizeof kSurveyColumns / sizeof kSurveyColumns[0]);
  if (model.CurrentPage() == Page::kDone) FillDone();
}

// Each column as wide as its heading and its cells need (at most
// two-fifths of the list), and one of them (flex) takes the room left.
void MainWindow::FitColumns(int listId, int flex) {
  HWND list = GetDlgItem(window, listId);
  const int columns = Header_GetItemCount(ListView_GetHeader(list));
  if (columns == 0 || !IsWindowVisible(list)) return;
  RECT inside;
  GetClientRect(list, &inside);
  const int rows = ListView_GetItemCount(list);
  std::vector<int> widths(columns);
  int used = 0;
  for (int c = 0; c < columns; ++c) {
    wchar_t text[512] = L"";
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = text;
    column.cchTextMax = 512;
    ListView_GetColumn(list, c, &column);
    int need = ListView_GetStringWidth(list, text);
    for (int r = 0; r < rows; ++r) {
      ListView_GetItemText(list, r, c, text, 512);
      need = std::max(need, ListView_GetStringWidth(list, text));
    }
    widths[c] = std::min<int>(need + metrics.X(12), inside.right * 2 / 5);
    if (c != flex) used += widths[c];
  }
  widths[flex] = std::max<int>(widths[flex], inside.right - used);
  for (int c = 0; c < columns; ++c) ListView_SetColumnWidth(list, c, widths[c]);
}

void MainWindow::FitLastColumns() {
  FitColumns(kIdSurveyList, 3);  // the note
  FitColumns(kIdDoneList, 0);    // the folder
}

void MainWindow::LayOut() {
  LayOutControls(window, model, metrics);
  FitLastColumns();
}

void MainWindow::SetColumns(int listId, const Column* columns, int count) {
  HWND list = GetDlgItem(window, listId);
  const int now = Header_GetItemCount(ListView_GetHeader(list));
  for (int i = 0; i < count; ++i) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = columns[i].right ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = metrics.X(columns[i].width);
    column.pszText = const_cast<wchar_t*>(columns[i].heading);
    if (i < now)
      ListView_SetColumn(list, i, &column);
    else
      ListView_InsertColumn(list, i, &column);
  }
  for (int i = now - 1; i >= count; --i) ListView_DeleteColumn(list, i);
}

void MainWindow::SetText(int id, const std::string& text) {
  HWND control = GetDlgItem(window, id);
  const std::wstring wide = Wide(text);
  if (TextOf(control) == wide) return;
  settingText = true;
  SetWindowTextW(control, wide.c_str());
  settingText = false;
}

// An edit the user may be typing in is left alone while it has the focus.
void MainWindow::SetEditText(int id, const std::string& text) {
  if (GetFocus() == GetDlgItem(window, id)) return;
  SetText(id, text);
}

void MainWindow::Refresh() {
  const Page page = model.CurrentPage();
  SetText(kIdTitle, model.Title());
  SetText(kIdIntro, model.Intro());
  switch (page) {
    case Page::kSource:
      SetText(kIdSurveySummary, model.Problem().empty()
                                    ? SurveySummary(model.Survey())
                                    : model.Problem());
      break;
    case Page::kDestination:
      SetEditText(kIdOutputEdit, model.OutputPath());
      break;
    case Page::kAccount:
      SetText(kIdSignInText, model.SignInText());
      SetEditText(kIdFolderEdit, model.AccountFolder());
      break;
    case Page::kConvert:
      ShowProgress();
      SetText(kIdRunNotes, model.RunNotes());
      break;
    case Page::kDone:
      SetText(kIdNotes, WithCrLf(model.RunNotes()));
      break;
  }
  SetText(kIdProblem, page == Page::kSource ? "" : model.Problem());
  const ButtonsView buttons = model.Buttons();
  SetText(kIdNext, buttons.nextText);
  SetText(kIdClose, buttons.closeText);

  LayOut();
  // A new page's focus first, so that it never rests on a control about
  // to be disabled.
  if (page != shownPage) {
    shownPage = page;
    if (page == Page::kDone) {
      FillDone();
      FitLastColumns();
    }
    Enable(kIdNext, buttons.next);
    FocusPage();
  }
  Enable(kIdBack, buttons.back);
  Enable(kIdNext, buttons.next);
  Enable(kIdClose, !model.Stopping());
  Enable(kIdSignIn, model.SignIn() != SignInState::kRunning);
  Enable(kIdOpenOutput, !model.OutputFolder().empty());
  // Enter presses Next or Start where the page has it.
  SendMessageW(window, DM_SETDEFID,
               page == Page::kDone || !buttons.next ? kIdClose : kIdNext, 0);
  InvalidateRect(window, nullptr, TRUE);
}

// A control that loses the focus as it is disabled would take it from the
// window: it goes to the next control first.
void MainWindow::Enable(int id, bool on) {
  HWND control = GetDlgItem(window, id);
  if (!on && GetFocus() == control)
    SendMessageW(window, WM_NEXTDLGCTL, 0, FALSE);
  if (!on && GetFocus() == control) SetFocus(window);
  EnableWindow(control, on);
}

void MainWindow::ShowProgress() {
  const ProgressView& progress = model.Progress();
  SendDlgItemMessageW(window, kIdProgress, PBM_SETPOS, progress.BarPosition(),
                      0);
  SetText(kIdNow, progress.FolderText());
  SetText(kIdMessages, progress.MessagesText());
  SetText(kIdTally, progress.TallyText());
  SetText(kIdTimeLeft, model.Running() ? progress.TimeLeftText() : "");
  if (model.Running())
    taskbar.Show(TaskbarProgress::State::kNormal, progress.BarPosition(),
                 10000);
}

// The first control of the page gets the focus.
void MainWindow::FocusPage() {
  int id = kIdNext;
  switch (model.CurrentPage()) {
    case Page::kSource:
      id = model.Source().empty() ? kIdChooseFolder : kIdNext;
      break;
    case Page::kDestination: {
      static const int kKinds[] = {kIdKindMbox, kIdKindMaildir, kIdKindEml,
                                   kIdKindAccount};
      id = kKinds[static_cast<int>(model.Output())];
      break;
    }
    case Page::kAccount:
      id = kIdAddressEdit;
      break;
    case Page::kConvert:
      id = kIdClose;
      break;
    case Page::kDone:
      id = kIdClose;
      break;
  }
  HWND control = GetDlgItem(window, id);
  if (!IsWindowEnabled(control)) control = GetDlgItem(window, kIdClose);
  SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void MainWindow::SetRow(int listId, int row,
                        const std::vector<std::string>& cells) {
  HWND list = GetDlgItem(window, listId);
  if (row >= ListView_GetItemCount(list)) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"");
    ListView_InsertItem(list, &item);
  }
  for (size_t column = 0; column < cells.size(); ++column) {
    std::wstring text = Wide(cells[column]);
    ListView_SetItemText(list, row, static_cast<int>(column), &text[0]);
  }
}

void MainWindow::FillSurveyRow(size_t index) {
  auto at = std::find(surveyRows.begin(), surveyRows.end(), index);
  if (at == surveyRows.end()) return;
  const TreeFolder& f = model.Survey().folders[index];
  SetRow(kIdSurveyList, static_cast<int>(at - surveyRows.begin()),
         {model.SurveyLabel(index), SurveyMessages(f), SurveySize(f),
          SurveyNote(f)});
}

void MainWindow::FillSurvey() {
  HWND list = GetDlgItem(window, kIdSurveyList);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  surveyRows = ListedFolders(model.Survey());
  for (size_t index : surveyRows) FillSurveyRow(index);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
}

void MainWindow::FillDone() {
  const RunRecord& run = model.Run();
  if (run.tallied)
    SetColumns(kIdDoneList, kDoneColumnsOfAccount,
               sizeof kDoneColumnsOfAccount / sizeof kDoneColumnsOfAccount[0]);
  else
    SetColumns(kIdDoneList, kDoneColumns,
               sizeof kDoneColumns / sizeof kDoneColumns[0]);
  HWND list = GetDlgItem(window, kIdDoneList);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  int row = 0;
  for (const OutcomeRow& r : OutcomeRows(run)) {
    std::vector<std::string> cells = {r.folder, r.messages, r.outcome};
    if (run.tallied)
      cells.insert(cells.end(), {r.uploaded, r.there, r.refused});
    SetRow(kIdDoneList, row++, cells);
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
}

void MainWindow::Changed(ModelChange change, size_t index) {
  switch (change) {
    case ModelChange::kSurveyFolders:
      FillSurvey();
      FitLastColumns();
      break;
    case ModelChange::kSurveyFolder:
      FillSurveyRow(index);
      break;
    case ModelChange::kSurveyEnd:
      FitLastColumns();
      break;
    case ModelChange::kRunProgress:
      if (model.CurrentPage() == Page::kConvert) {
        ShowProgress();
        return;  // nothing else moves
      }
      break;
    case ModelChange::kRunEnd: {
      const RunRecord& run = model.Run();
      const bool trouble = !run.report.planned || run.report.status != 0;
      taskbar.Show(trouble ? TaskbarProgress::State::kError
                           : TaskbarProgress::State::kNone,
                   10000, 10000);
      if (closeWhenStopped) {
        DestroyWindow(window);
        return;
      }
      // Where the window is not in front, the taskbar button says so.
      if (GetForegroundWindow() != window) {
        FLASHWINFO flash = {sizeof flash, window,
                            FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
      }
      break;
    }
    default:
      break;
  }
  Refresh();
}

void MainWindow::ChooseSource(const std::wstring& path) {
  SetText(kIdSourceEdit, Narrow(path));
  NewSource(Narrow(path));
}

void MainWindow::NewSource(const std::string& path) {
  const uint64_t ticket = model.ChooseSource(path);
  FillSurvey();
  if (ticket != 0) threads.StartSurvey(ticket);
  Refresh();
}

// Certificates trusted besides the system's, as korvane.exe takes them.
std::string CaFile() {
  wchar_t caFile[MAX_PATH * 4] = L"";
  GetEnvironmentVariableW(L"KORVANE_CA_FILE", caFile, MAX_PATH * 4);
  return Narrow(caFile);
}

void MainWindow::Start() {
  // An account's inventory goes into the current folder: beside the source.
  if (model.Output() == OutputChoice::kAccount)
    SetCurrentDirectoryW(Wide(model.InventoryFolder()).c_str());
  threads.StartRun(CaFile());
  taskbar.Show(TaskbarProgress::State::kNormal, 0, 10000);
}

void MainWindow::SaveReport() {
  std::wstring path;
  const std::string folder = model.OutputFolder().empty()
                                 ? model.InventoryFolder()
                                 : model.OutputFolder();
  if (!PickReportFile(window, Wide(folder), Wide(model.ReportName()), &path))
    return;
  // The dialog asked before replacing a file of that name.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::string& report = model.Report();
  DWORD written = 0;
  bool saved = file != INVALID_HANDLE_VALUE &&
               WriteFile(file, report.data(), static_cast<DWORD>(report.size()),
                         &written, nullptr) &&
               written == report.size();
  const DWORD error = saved ? ERROR_SUCCESS : GetLastError();
  if (file != INVALID_HANDLE_VALUE) saved = CloseHandle(file) && saved;
  if (saved) return;
  wchar_t* words = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0,
                 nullptr);
  const std::wstring text = L"The report could not be saved as " + path +
                            L":\n" + (words != nullptr ? words : L"");
  if (words != nullptr) LocalFree(words);
  MessageBoxW(window, text.c_str(), L"korvane", MB_OK | MB_ICONWARNING);
}

void MainWindow::ReadAccount() {
  AccountFields fields;
  fields.address = Narrow(TextOf(GetDlgItem(window, kIdAddressEdit)));
  fields.password = Narrow(TextOf(GetDlgItem(window, kIdPasswordEdit)));
  fields.host = Narrow(TextOf(GetDlgItem(window, kIdServerEdit)));
  fields.port = Narrow(TextOf(GetDlgItem(window, kIdPortEdit)));
  fields.user = Narrow(TextOf(GetDlgItem(window, kIdUserEdit)));
  const std::string folder = Narrow(TextOf(GetDlgItem(window, kIdFolderEdit)));
  // The folder shown by default is the model's, not the user's.
  fields.folder =
      folder == model.AccountFolder() && model.Account().folder.empty()
          ? ""
          : folder;
  const bool signingIn = model.SignIn() == SignInState::kRunning;
  model.SetAccount(fields);
  // Another account: its sign-in is given up.
  if (signingIn && model.SignIn() != SignInState::kRunning)
    threads.StopSignIn();
}

void MainWindow::Command(int id, int code) {
  switch (id) {
    case kIdChooseFolder:
    case kIdChooseBase: {
      std::wstring path;
      const std::wstring start = Wide(model.Source());
      if (id == kIdChooseFolder
              ? PickFolder(window, L"Choose the mail folder", start, &path)
              : PickBase(window, start, &path))
        ChooseSource(path);
      return;
    }
    case kIdSourceEdit:
      if (code == EN_CHANGE && !settingText)
        SetTimer(window, kTypingTimer, kTypingPause, nullptr);
      return;
    case kIdKindMbox:
    case kIdKindMaildir:
    case kIdKindEml:
    case kIdKindAccount:
      if (code == BN_CLICKED) {
        model.ChooseOutput(static_cast<OutputChoice>((id - kIdKindMbox) / 2));
        SetText(kIdOutputEdit, model.OutputPath());
        Refresh();
      }
      return;
    case kIdOutputEdit:
      if (code == EN_CHANGE && !settingText) {
        model.SetOutputPath(Narrow(TextOf(GetDlgItem(window, id))));
        Refresh();
      }
      return;
    case kIdOutputBrowse: {
      std::wstring path;
      if (PickFolder(window, L"Choose where the mail goes",
                     Wide(model.OutputPath()), &path)) {
        // An empty folder is taken as it is; in another, a new one is made.
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
        bool empty = true;
        if (find != INVALID_HANDLE_VALUE) {
          do {
            empty = empty && (lstrcmpW(entry.cFileName, L".") == 0 ||
                              lstrcmpW(entry.cFileName, L"..") == 0);
          } while (empty && FindNextFileW(find, &entry));
          FindClose(find);
        }
        model.ChooseOutputFolder(Narrow(path), empty);
        SetText(kIdOutputEdit, model.OutputPath());
        Refresh();
      }
      return;
    }
    case kIdInventory:
      model.SetInventory(IsDlgButtonChecked(window, id) == BST_CHECKED);
      return;
    case kIdAddressEdit:
    case kIdPasswordEdit:
    case kIdServerEdit:
    case kIdPortEdit:
    case kIdUserEdit:
    case kIdFolderEdit:
      if (code == EN_CHANGE && !settingText) {
        ReadAccount();
        Refresh();
      }
      return;
    case kIdSignIn:
      model.SignInStarted();
      threads.StartSignIn(CaFile());
      Refresh();
      return;
    case kIdBack:
      model.Back();
      Refresh();
      return;
    case kIdNext:
      if (model.Next()) {
        if (model.Running()) Start();
        Refresh();
      }
      return;
    case kIdClose:
      if (model.Running()) {
        model.StopRequested();
        threads.StopRun();
        Refresh();
      } else {
        PostMessageW(window, WM_CLOSE, 0, 0);
      }
      return;
    case kIdOpenOutput:
      ShowFolder(window, Wide(model.OutputFolder()));
      return;
    case kIdSaveReport:
      SaveReport();
      return;
  }
}

bool MainWindow::Paint(HDC dc) {
  RECT client;
  GetClientRect(window, &client);
  RECT band = client;
  band.top = client.bottom - ButtonBandHeight(metrics);
  RECT content = client;
  content.bottom = band.top;
  FillRect(dc, &content, GetSysColorBrush(COLOR_WINDOW));
  FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
  RECT line = band;
  line.bottom = line.top + 1;
  FillRect(dc, &line, GetSysColorBrush(COLOR_3DLIGHT));
  return true;
}

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam,
                                       LPARAM lParam) {
  MainWindow* self =
      reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(
        reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self != nullptr) {
    bool handled = true;
    const LRESULT result = self->Handle(message, wParam, lParam, &handled);
    if (handled) return result;
  }
  return DefDlgProcW(hwnd, message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam,
                           bool* handled) {
  if (message == TaskbarProgress::ButtonCreatedMessage() && message != 0) {
    taskbar.Attach(window);
    return 0;
  }
  switch (message) {
    case kWakeMessage:
      queue.Drain();
      return 0;
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kTypingTimer) {
        KillTimer(window, kTypingTimer);
        const std::string typed =
            Narrow(TextOf(GetDlgItem(window, kIdSourceEdit)));
        if (typed != model.Source()) NewSource(typed);
      }
      return 0;
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
      std::wstring path(length + 1, L'\0');
      DragQueryFileW(drop, 0, &path[0], length + 1);
      path.resize(length);
      DragFinish(drop);
      if (!model.Running()) ChooseSource(path);
      return 0;
    }
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        LayOut();
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_GETMINMAXINFO: {
      if (metrics.font == nullptr) break;
      const SIZE least = SmallestClientSize(metrics);
      RECT frame = {0, 0, least.cx, least.cy};
      AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE,
                               WS_EX_CONTROLPARENT, metrics.dpi);
      MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = frame.right - frame.left;
      info->ptMinTrackSize.y = frame.bottom - frame.top;
      return 0;
    }
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left,
                   suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      Refresh();
      return 0;
    }
    case WM_ERASEBKGND:
      return Paint(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      // The band's buttons on its face colour, the rest on the page's.
      const bool band = id == kIdBack || id == kIdNext || id == kIdClose ||
                        id == kIdOpenOutput || id == kIdSaveReport;
      const int colour = band ? COLOR_BTNFACE : COLOR_WINDOW;
      SetBkColor(dc, GetSysColor(colour));
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      HIGHCONTRASTW contrast = {};
      contrast.cbSize = sizeof contrast;
      if (id == kIdTitle &&
          !(SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast,
                                  &contrast, 0) &&
            (contrast.dwFlags & HCF_HIGHCONTRASTON)))
        SetTextColor(dc, RGB(0x00, 0x33, 0x99));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(colour));
    }
    case WM_CLOSE:
      if (!model.MayCloseNow()) {
        if (MessageBoxW(window,
                        L"korvane is still at work. Stop it and close the "
                        L"window?\n\nWhat is finished is kept; Start on the "
                        L"same choices carries on later.",
                        L"korvane",
                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
          return 0;
        // The window goes once the run has stopped as it must.
        closeWhenStopped = true;
        model.StopRequested();
        threads.StopRun();
        Refresh();
        return 0;
      }
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  *handled = false;
  return 0;
}

}  // namespace

int RunMainWindow(HINSTANCE instance, const std::wstring& dropped, int show) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES |
                                                        ICC_LISTVIEW_CLASSES |
                                                        ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  const bool com = SUCCEEDED(CoInitializeEx(
      nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  int status = 0;
  {
    MainWindow main;
    if (!main.Open(instance, show)) {
      status = 1;
    } else {
      if (!dropped.empty()) main.ChooseSource(dropped);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(main.Handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }
  if (com) CoUninitialize();
  return status;
}

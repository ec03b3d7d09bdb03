#include <algorithm>
#include <string>
#include <vector>

#include "window/control_ids.h"
#include "window/window_layout.h"
#include "window/window_model.h"

namespace {

// Places controls in one batch, so that a page changes without flicker,
// and hides every control it did not place.
class Placer {
 public:
  Placer(HWND window, const WindowMetrics& metrics)
      : window(window), metrics(metrics), dc(GetDC(window)) {
    batch = BeginDeferWindowPos(64);
  }
  ~Placer() {
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      const int id = GetDlgCtrlID(child);
      if (std::find(placed.begin(), placed.end(), id) != placed.end()) continue;
      if (IsWindowVisible(child))
        Defer(child, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE);
    }
    if (batch != nullptr) EndDeferWindowPos(batch);
    ReleaseDC(window, dc);
  }

  void Place(int id, int x, int y, int width, int height) {
    placed.push_back(id);
    Defer(GetDlgItem(window, id), x, y, std::max(width, 0), std::max(height, 0),
          SWP_SHOWWINDOW);
  }

  // The height id's text takes, wrapped to width.
  int TextHeight(int id, int width) {
    RECT box = {0, 0, std::max(width, 1), 0};
    Measure(id, DT_WORDBREAK | DT_EDITCONTROL, &box);
    return std::max<int>(box.bottom, metrics.charHeight);
  }
  // The width of id's text on one line.
  int TextWidth(int id) {
    RECT box = {0, 0, 0, 0};
    Measure(id, DT_SINGLELINE, &box);
    return box.right;
  }
  // A push button as wide as its text needs, at least the usual 50 units.
  int ButtonWidth(int id) {
    return std::max(metrics.X(50), TextWidth(id) + metrics.X(14));
  }

 private:
  void Defer(HWND control, int x, int y, int width, int height, UINT flags) {
    flags |= SWP_NOZORDER | SWP_NOACTIVATE;
    if (batch != nullptr)
      batch =
          DeferWindowPos(batch, control, nullptr, x, y, width, height, flags);
    if (batch == nullptr)
      SetWindowPos(control, nullptr, x, y, width, height, flags);
  }

  void Measure(int id, UINT format, RECT* box) {
    HWND control = GetDlgItem(window, id);
    const int length = GetWindowTextLengthW(control);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(control, &text[0], length + 1);
    text.resize(length);
    if (text.empty()) text = L" ";
    HFONT font =
        reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font != nullptr ? font : metrics.font);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    wchar_t className[16] = L"";
    GetClassNameW(control, className, 16);
    const bool isStatic = lstrcmpiW(className, L"Static") == 0;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), box,
              format | DT_CALCRECT |
                  (isStatic && (style & SS_NOPREFIX) ? DT_NOPREFIX : 0));
    SelectObject(dc, old);
  }

  HWND window;
  const WindowMetrics& metrics;
  HDC dc;
  HDWP batch;
  std::vector<int> placed;
};

}  // namespace

SIZE OpeningClientSize(const WindowMetrics& m) { return {m.X(360), m.Y(272)}; }

SIZE SmallestClientSize(const WindowMetrics& m) { return {m.X(300), m.Y(236)}; }

int ButtonBandHeight(const WindowMetrics& m) { return m.Y(14) + 2 * m.Y(7); }

void LayOutControls(HWND window, const WindowModel& model,
                    const WindowMetrics& m) {
  RECT client;
  GetClientRect(window, &client);
  const Page page = model.CurrentPage();
  Placer placer(window, m);

  // The content: title, the line under it, the page's controls.
  const int left = m.X(11);
  const int width = client.right - 2 * left;
  const int bandTop = client.bottom - ButtonBandHeight(m);
  const int bottom = bandTop - m.Y(7);
  int y = m.Y(7);
  placer.Place(kIdTitle, left, y, width, m.titleHeight);
  y += m.titleHeight + m.Y(3);
  if (GetWindowTextLengthW(GetDlgItem(window, kIdIntro)) > 0) {
    const int h = placer.TextHeight(kIdIntro, width);
    placer.Place(kIdIntro, left, y, width, h);
    y += h + m.Y(7);
  }
  const int rowHeight = m.Y(14);   // an edit or a button
  const int lineHeight = m.Y(10);  // a label, a radio button, a check box
  // A label above its control.
  auto label = [&](int id) {
    placer.Place(id, left, y, width, lineHeight);
    y += lineHeight;
  };
  // What keeps the page from going on, at its foot.
  auto problem = [&]() {
    if (GetWindowTextLengthW(GetDlgItem(window, kIdProblem)) == 0) return;
    const int h = placer.TextHeight(kIdProblem, width);
    placer.Place(kIdProblem, left, bottom - h, width, h);
  };
  // Label and control side by side; labelWidth for every row of a page.
  int labelWidth = 0;
  auto row = [&](int labelId, int editId) {
    placer.Place(labelId, left, y + m.Y(3), labelWidth, lineHeight);
    placer.Place(editId, left + labelWidth, y, width - labelWidth, rowHeight);
    y += rowHeight + m.Y(5);
  };

  switch (page) {
    case Page::kSource: {
      label(kIdSourceLabel);
      const int folderWidth = placer.ButtonWidth(kIdChooseFolder);
      const int baseWidth = placer.ButtonWidth(kIdChooseBase);
      const int editWidth = width - folderWidth - baseWidth - 2 * m.X(4);
      placer.Place(kIdSourceEdit, left, y, editWidth, rowHeight);
      placer.Place(kIdChooseFolder, left + editWidth + m.X(4), y, folderWidth,
                   rowHeight);
      placer.Place(kIdChooseBase, left + width - baseWidth, y, baseWidth,
                   rowHeight);
      y += rowHeight + m.Y(7);
      label(kIdSurveyLabel);
      const int h = placer.TextHeight(kIdSurveySummary, width);
      placer.Place(kIdSurveySummary, left, bottom - h, width, h);
      placer.Place(kIdSurveyList, left, y + m.Y(2), width,
                   bottom - h - m.Y(4) - y - m.Y(2));
      break;
    }
    case Page::kDestination: {
      static const int kKinds[][2] = {{kIdKindMbox, kIdKindMboxText},
                                      {kIdKindMaildir, kIdKindMaildirText},
                                      {kIdKindEml, kIdKindEmlText},
                                      {kIdKindAccount, kIdKindAccountText}};
      const int indent = m.X(12);
      for (const auto& kind : kKinds) {
        placer.Place(kind[0], left, y, width, lineHeight);
        y += lineHeight;
        const int h = placer.TextHeight(kind[1], width - indent);
        placer.Place(kind[1], left + indent, y, width - indent, h);
        y += h + m.Y(5);
      }
      y += m.Y(2);
      if (model.Output() != OutputChoice::kAccount) {
        labelWidth = placer.TextWidth(kIdOutputLabel) + m.X(6);
        const int browseWidth = placer.ButtonWidth(kIdOutputBrowse);
        placer.Place(kIdOutputLabel, left, y + m.Y(3), labelWidth, lineHeight);
        placer.Place(kIdOutputEdit, left + labelWidth, y,
                     width - labelWidth - browseWidth - m.X(4), rowHeight);
        placer.Place(kIdOutputBrowse, left + width - browseWidth, y,
                     browseWidth, rowHeight);
        y += rowHeight + m.Y(7);
      }
      placer.Place(kIdInventory, left, y, width, lineHeight);
      y += lineHeight;
      placer.Place(kIdInventoryText, left + indent, y, width - indent,
                   placer.TextHeight(kIdInventoryText, width - indent));
      problem();
      break;
    }
    case Page::kAccount: {
      for (int id : {kIdAddressLabel, kIdPasswordLabel, kIdServerLabel,
                     kIdUserLabel, kIdFolderLabel})
        labelWidth = std::max(labelWidth, placer.TextWidth(id) + m.X(6));
      row(kIdAddressLabel, kIdAddressEdit);
      if (model.ShowsSignIn()) {
        const int signInWidth = placer.ButtonWidth(kIdSignIn);
        const int textWidth = width - labelWidth - signInWidth - m.X(6);
        const int h = placer.TextHeight(kIdSignInText, textWidth);
        placer.Place(kIdSignInText, left + labelWidth, y + m.Y(3), textWidth,
                     h);
        placer.Place(kIdSignIn, left + width - signInWidth, y, signInWidth,
                     rowHeight);
        y += std::max(h + m.Y(3), rowHeight) + m.Y(5);
      }
      if (model.ShowsPassword()) row(kIdPasswordLabel, kIdPasswordEdit);
      if (model.ShowsServer()) {
        const int portLabel = placer.TextWidth(kIdPortLabel) + m.X(4);
        const int portWidth = m.X(32);
        const int serverWidth =
            width - labelWidth - portLabel - portWidth - m.X(8);
        placer.Place(kIdServerLabel, left, y + m.Y(3), labelWidth, lineHeight);
        placer.Place(kIdServerEdit, left + labelWidth, y, serverWidth,
                     rowHeight);
        placer.Place(kIdPortLabel, left + width - portWidth - portLabel,
                     y + m.Y(3), portLabel, lineHeight);
        placer.Place(kIdPortEdit, left + width - portWidth, y, portWidth,
                     rowHeight);
        y += rowHeight + m.Y(5);
        row(kIdUserLabel, kIdUserEdit);
      }
      row(kIdFolderLabel, kIdFolderEdit);
      problem();
      break;
    }
    case Page::kConvert: {
      placer.Place(kIdProgress, left, y, width, m.Y(10));
      y += m.Y(10) + m.Y(8);
      const bool account = model.Output() == OutputChoice::kAccount;
      for (int id :
           {kIdNowLabel, kIdMessagesLabel, kIdTallyLabel, kIdTimeLabel})
        labelWidth = std::max(labelWidth, placer.TextWidth(id) + m.X(8));
      for (const auto& pair : {std::make_pair(kIdNowLabel, kIdNow),
                               std::make_pair(kIdMessagesLabel, kIdMessages),
                               std::make_pair(kIdTallyLabel, kIdTally),
                               std::make_pair(kIdTimeLabel, kIdTimeLeft)}) {
        if (pair.first == kIdTallyLabel && !account) continue;
        // What is going on, while it goes on.
        if ((pair.first == kIdNowLabel || pair.first == kIdTimeLabel) &&
            !model.Running())
          continue;
        placer.Place(pair.first, left, y, labelWidth, lineHeight);
        placer.Place(pair.second, left + labelWidth, y, width - labelWidth,
                     lineHeight);
        y += lineHeight + m.Y(3);
      }
      y += m.Y(6);
      if (GetWindowTextLengthW(GetDlgItem(window, kIdRunNotes)) > 0)
        placer.Place(
            kIdRunNotes, left, y, width,
            std::min(placer.TextHeight(kIdRunNotes, width), bottom - y));
      break;
    }
    case Page::kDone: {
      const int notesHeight = m.Y(52);
      const int notesTop = bottom - notesHeight;
      placer.Place(kIdNotes, left, notesTop, width, notesHeight);
      placer.Place(kIdNotesLabel, left, notesTop - lineHeight, width,
                   lineHeight);
      placer.Place(kIdDoneList, left, y, width,
                   notesTop - lineHeight - m.Y(5) - y);
      break;
    }
  }

  // The band of buttons: on the left the done page's own, on the right
  // Back and Next side by side, then Cancel or Close.
  const int buttonTop = bandTop + m.Y(7);
  int x = client.right - m.X(7);
  const int closeWidth = placer.ButtonWidth(kIdClose);
  x -= closeWidth;
  placer.Place(kIdClose, x, buttonTop, closeWidth, rowHeight);
  if (page != Page::kDone) {
    const int nextWidth = placer.ButtonWidth(kIdNext);
    x -= m.X(7) + nextWidth;
    placer.Place(kIdNext, x, buttonTop, nextWidth, rowHeight);
  }
  if (page != Page::kSource) {
    const int backWidth = placer.ButtonWidth(kIdBack);
    x -= backWidth + (page == Page::kDone ? m.X(7) : 0);
    placer.Place(kIdBack, x, buttonTop, backWidth, rowHeight);
  }
  if (page == Page::kDone) {
    int at = m.X(7);
    for (int id : {kIdOpenOutput, kIdSaveReport}) {
      const int w = placer.ButtonWidth(id);
      placer.Place(id, at, buttonTop, w, rowHeight);
      at += w + m.X(4);
    }
  }
}

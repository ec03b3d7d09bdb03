// Where the window's controls go: each page's controls placed in the
// client area from the font's size (dialog units, so that every DPI and
// every system font gives the same proportions), the rest hidden.
#ifndef KORVANE_WINDOW_WINDOW_LAYOUT_H_
#define KORVANE_WINDOW_WINDOW_LAYOUT_H_

#ifdef _WIN32

#include <windows.h>

class WindowModel;

struct WindowMetrics {
  UINT dpi = 96;
  HFONT font = nullptr;       // the system's message font at dpi
  HFONT titleFont = nullptr;  // the page's title, larger
  int charWidth = 6;          // the font's average character width, pixels
  int charHeight = 13;        // and its height
  int titleHeight = 20;

  // Dialog units: a quarter of the average character width, an eighth of
  // the character height.
  int X(int units) const { return MulDiv(units, charWidth, 4); }
  int Y(int units) const { return MulDiv(units, charHeight, 8); }
};

// The client size the window opens with, and the least it may shrink to.
SIZE OpeningClientSize(const WindowMetrics& metrics);
SIZE SmallestClientSize(const WindowMetrics& metrics);
// The height of the band at the bottom that holds the buttons.
int ButtonBandHeight(const WindowMetrics& metrics);

// Places and shows the controls of the model's page, hides the others.
void LayOutControls(HWND window, const WindowModel& model,
                    const WindowMetrics& metrics);

#endif  // _WIN32

#endif  // KORVANE_WINDOW_WINDOW_LAYOUT_H_

// Opening a URL in the user's browser: the program KORVANE_BROWSER names,
// run with the URL as its one argument (no shell reads it), or else the
// system's way: ShellExecute on Windows, xdg-open elsewhere. korvane does
// not wait for what it started; it may ask later whether that failed.
// browser-posix.cpp, browser-win32.cpp.
#ifndef KORVANE_BROWSER_BROWSER_H_
#define KORVANE_BROWSER_BROWSER_H_

#include <memory>
#include <string>

#include "status/status.h"

class BrowserLaunch {
 public:
  virtual ~BrowserLaunch() {}
  // Whether the program started has ended by now with a failure (an exit
  // status other than 0). The system's own way on Windows never does.
  virtual bool Failed() = 0;
};

// Whether a browser can be opened here at all: KORVANE_BROWSER is set, or
// this is Windows, or a graphical session runs (DISPLAY, WAYLAND_DISPLAY).
bool BrowserAvailable();

// Starts the browser on url; null, with *status saying why, when nothing
// could be started.
std::unique_ptr<BrowserLaunch> OpenBrowser(const std::string& url,
                                           Status* status);

#endif  // KORVANE_BROWSER_BROWSER_H_

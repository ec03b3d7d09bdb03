// Where the browser brings the answer of an authorization (RFC 8252 §7.3):
// a socket on 127.0.0.1 at a port the system picks, that takes the first
// HTTP request any connection to it completes, answers it and closes. A
// browser may open connections it sends nothing on; they do not hold the
// one that brings the request up. redirect_listener-posix.cpp,
// redirect_listener-win32.cpp.
#ifndef KORVANE_REDIRECT_REDIRECT_LISTENER_H_
#define KORVANE_REDIRECT_REDIRECT_LISTENER_H_

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "status/status.h"

class RedirectListener {
 public:
  // The platform's.
  static std::unique_ptr<RedirectListener> Create();
  virtual ~RedirectListener() {}

  // Listens on 127.0.0.1, on a port of the system's choosing.
  virtual Status Listen() = 0;
  virtual uint16_t Port() const = 0;

  // Waits up to timeoutMs for a request head (up to its empty line, at
  // most 16 KB), which *head gets. keepWaiting is asked about every 200 ms;
  // false ends the wait (kCancelled). No request in time: kTimedOut.
  virtual Status AwaitRequest(int timeoutMs,
                              const std::function<bool()>& keepWaiting,
                              std::string* head) = 0;

  // Sends response on the connection that brought the request, then closes
  // it, every other connection and the listening socket: one request only.
  virtual void Answer(const std::string& response) = 0;
};

// The request head's target split: "GET /path?a=b HTTP/1.1" gives "/path"
// and "a=b". False for anything but a GET request line.
bool ParseRequestTarget(const std::string& head, std::string* path,
                        std::string* query);

// A whole HTTP answer with a short page in plain text (no markup, so that
// nothing in it is taken for any), and the connection closed.
std::string PlainPage(int status, const std::string& text);

#endif  // KORVANE_REDIRECT_REDIRECT_LISTENER_H_

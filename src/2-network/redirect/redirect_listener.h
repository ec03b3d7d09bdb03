// Where the browser brings the answer of an authorization (RFC 8252 §7.3):
// a socket on 127.0.0.1 at a port the system picks, that takes the first
// HTTP request any connection to it completes, answers it and closes. A
// browser may open connections it sends nothing on; they do not hold the
// one that brings the request up. The wait is the same everywhere
// (redirect_listener.cpp); the sockets are the platform's
// (redirect_listener-posix.cpp, redirect_listener-win32.cpp).
#ifndef KORVANE_REDIRECT_REDIRECT_LISTENER_H_
#define KORVANE_REDIRECT_REDIRECT_LISTENER_H_

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

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
  Status AwaitRequest(int timeoutMs, const std::function<bool()>& keepWaiting,
                      std::string* head);

  // Sends response on the connection that brought the request, then closes
  // it, every other connection and the listening socket: one request only.
  virtual void Answer(const std::string& response) = 0;

 protected:
  // The platform's sockets as AwaitRequest uses them. The connections are
  // numbered from 0 in the order they were taken; Drop and Choose take one
  // out of the numbering, and the later ones move up.

  // Waits up to waitMs: *readable gets the connections with bytes or an
  // end to read, *incoming whether a connection waits to be taken. A wait
  // that a signal cut short is no failure and finds nothing.
  virtual Status Wait(int waitMs, std::vector<size_t>* readable,
                      bool* incoming) = 0;
  // Appends what connection i has to *to: false once it has ended or
  // failed.
  virtual bool Receive(size_t i, std::string* to) = 0;
  // Takes the waiting connection as the last: false where none came.
  virtual bool Accept() = 0;
  // Closes connection i.
  virtual void Drop(size_t i) = 0;
  // Connection i is the one Answer answers on.
  virtual void Choose(size_t i) = 0;

 private:
  void Forget(size_t i);

  std::vector<std::string> received;  // each connection's bytes so far
};

// The request head's target split: "GET /path?a=b HTTP/1.1" gives "/path"
// and "a=b". False for anything but a GET request line.
bool ParseRequestTarget(const std::string& head, std::string* path,
                        std::string* query);

// A whole HTTP answer with a short page in plain text (no markup, so that
// nothing in it is taken for any), and the connection closed.
std::string PlainPage(int status, const std::string& text);

#endif  // KORVANE_REDIRECT_REDIRECT_LISTENER_H_

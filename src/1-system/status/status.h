// What an operation that can fail tells its caller: whether it went and, if
// not, what kind of failure it was, the system's error code where the
// system gave one, and the words that say it. The file-system seam, the
// sinks, the layouts, the network, TLS and IMAP all answer with one; only
// a front end decides what to show of it.
#ifndef KORVANE_STATUS_STATUS_H_
#define KORVANE_STATUS_STATUS_H_

#include <string>

#include "platform/win32.h"

enum class StatusKind {
  kOk,
  kNotFound,        // no such file, folder, host or mailbox
  kExists,          // a name that must be new is taken
  kAccessDenied,    // the system or the server does not allow it
  kDiskFull,        // no room left on the disk
  kBadInput,        // bytes that are not what they should be
  kRefused,         // the server said no (NO, BAD, a login refused)
  kConnectionLost,  // the peer closed or reset the connection
  kUnreachable,     // no connection made: host unknown, nothing listens
  kTimedOut,        // no answer in time
  kCertificate,     // the server's certificate is not to be trusted
  kLimit,           // a limit of the server: connections, size, quota, rate
  kDailyLimit,      // a provider takes no more today: the same run another
                    // day goes on
  kCancelled,       // the user asked the run to stop
  kOther,
};

class Status {
 public:
  // Success.
  Status() = default;
  static Status Ok() { return Status(); }
  // A failure the system reported with code (GetLastError); its kind
  // follows from the code and its words are the system's.
  static Status System(DWORD code);
  // A failure of kind in words of its own; code where the system gave one.
  static Status Of(StatusKind kind, std::string text, DWORD code = 0);

  bool IsOk() const { return kind == StatusKind::kOk; }
  StatusKind Kind() const { return kind; }
  // The system's error code; ERROR_SUCCESS where there is none.
  DWORD Code() const { return code; }
  // What went wrong, in words a user reads ("" for success).
  std::string Text() const;
  // The same failure, its words preceded by what was being done
  // ("can't write X" + ": " + words).
  Status Within(const std::string& doing) const;

  bool operator==(const Status& other) const {
    return kind == other.kind && code == other.code && Text() == other.Text();
  }
  bool operator!=(const Status& other) const { return !(*this == other); }

 private:
  StatusKind kind = StatusKind::kOk;
  DWORD code = ERROR_SUCCESS;
  std::string text;  // empty: the system's words for code
};

// The kind's name for scripts: "not-found", "disk-full", ...
const char* StatusKindName(StatusKind kind);

// The kind a system error code stands for.
StatusKind KindOfSystemError(DWORD code);

#endif  // KORVANE_STATUS_STATUS_H_

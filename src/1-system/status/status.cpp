#include "status/status.h"

#include <utility>

#include "platform/system_error.h"

const char* StatusKindName(StatusKind kind) {
  switch (kind) {
    case StatusKind::kOk:
      return "ok";
    case StatusKind::kNotFound:
      return "not-found";
    case StatusKind::kExists:
      return "exists";
    case StatusKind::kAccessDenied:
      return "access-denied";
    case StatusKind::kDiskFull:
      return "disk-full";
    case StatusKind::kBadInput:
      return "bad-input";
    case StatusKind::kRefused:
      return "refused";
    case StatusKind::kConnectionLost:
      return "connection-lost";
    case StatusKind::kUnreachable:
      return "unreachable";
    case StatusKind::kTimedOut:
      return "timed-out";
    case StatusKind::kCertificate:
      return "certificate";
    case StatusKind::kLimit:
      return "limit";
    case StatusKind::kDailyLimit:
      return "daily-limit";
    case StatusKind::kCancelled:
      return "cancelled";
    case StatusKind::kOther:
      break;
  }
  return "other";
}

StatusKind KindOfSystemError(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return StatusKind::kOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return StatusKind::kNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return StatusKind::kExists;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return StatusKind::kAccessDenied;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return StatusKind::kDiskFull;
    case ERROR_FILE_INVALID:
    case ERROR_BAD_FILE_TYPE:
      return StatusKind::kBadInput;
    default:
      return StatusKind::kOther;
  }
}

Status Status::System(DWORD code) {
  Status status;
  status.kind = KindOfSystemError(code);
  // A code the kinds do not name is still a failure.
  if (status.kind == StatusKind::kOk && code != ERROR_SUCCESS)
    status.kind = StatusKind::kOther;
  status.code = code;
  return status;
}

Status Status::Of(StatusKind kind, std::string text, DWORD code) {
  Status status;
  status.kind = kind;
  status.code = code;
  status.text = std::move(text);
  return status;
}

std::string Status::Text() const {
  if (!text.empty() || kind == StatusKind::kOk) return text;
  return SystemErrorText(code);
}

Status Status::Within(const std::string& doing) const {
  if (IsOk()) return *this;
  return Of(kind, doing + ": " + Text(), code);
}

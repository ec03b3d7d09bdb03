#include "net/byte_stream.h"

const char* NetStatusText(NetStatus status) {
  switch (status) {
    case NetStatus::kOk:
      return "no error";
    case NetStatus::kHostUnknown:
      return "host unknown";
    case NetStatus::kRefused:
      return "connection refused";
    case NetStatus::kTimedOut:
      return "timed out";
    case NetStatus::kReset:
      return "connection reset";
    case NetStatus::kClosed:
      return "connection closed by the server";
    case NetStatus::kFailed:
      break;
  }
  return "network failure";
}

Status NetworkStatus(NetStatus status, const std::string& doing) {
  StatusKind kind = StatusKind::kConnectionLost;
  switch (status) {
    case NetStatus::kOk:
      return Status::Ok();
    case NetStatus::kHostUnknown:
    case NetStatus::kRefused:
      kind = StatusKind::kUnreachable;
      break;
    case NetStatus::kTimedOut:
      kind = StatusKind::kTimedOut;
      break;
    case NetStatus::kReset:
    case NetStatus::kClosed:
    case NetStatus::kFailed:
      break;
  }
  return Status::Of(kind, doing + ": " + NetStatusText(status));
}

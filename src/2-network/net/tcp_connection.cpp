// What both systems' connections share.
#include "net/tcp_connection.h"

#include <algorithm>

int TcpConnection::WaitMs() {
  if (deadline == kNoDeadline) return timeoutMs;
  const int64_t left = deadline - clock->NowMs();
  return static_cast<int>(
      std::max<int64_t>(0, std::min<int64_t>(left, timeoutMs)));
}

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "net/tcp_connection.h"

namespace {

NetStatus FromError(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return NetStatus::kRefused;
    case WSAETIMEDOUT:
      return NetStatus::kTimedOut;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
      return NetStatus::kReset;
    default:
      return NetStatus::kFailed;
  }
}

// Winsock is started once for the process and left running.
bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

// Waits until the socket can be read (or written); false on a time-out.
// A connection that fails shows as an exception.
bool Await(SOCKET s, bool write, int timeoutMs) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr,
                       &failed, &limit);
  return n != 0;
}

}  // namespace

TcpConnection::TcpConnection(Clock* clock)
    : clock(clock), handle(static_cast<intptr_t>(INVALID_SOCKET)) {}

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::IsOpen() const {
  return static_cast<SOCKET>(handle) != INVALID_SOCKET;
}

void TcpConnection::Close() {
  if (IsOpen()) closesocket(static_cast<SOCKET>(handle));
  handle = static_cast<intptr_t>(INVALID_SOCKET);
}

NetStatus TcpConnection::Connect(const std::string& host, uint16_t port,
                                 int timeoutMs) {
  Close();
  this->timeoutMs = timeoutMs;
  if (!StartWinsock()) return NetStatus::kFailed;
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int resolved =
      getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (resolved != 0) {
    return resolved == WSAHOST_NOT_FOUND || resolved == WSANO_DATA
               ? NetStatus::kHostUnknown
               : NetStatus::kFailed;
  }
  NetStatus status = NetStatus::kHostUnknown;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      status = FromError(WSAGetLastError());
      continue;
    }
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    int error = 0;
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        if (!Await(s, true, timeoutMs)) {
          error = WSAETIMEDOUT;
        } else {
          int length = sizeof error;
          getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length);
        }
      }
    }
    if (error == 0) {
      const BOOL noDelay = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY,
                 reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
      handle = static_cast<intptr_t>(s);
      status = NetStatus::kOk;
      break;
    }
    closesocket(s);
    status = FromError(error);
  }
  freeaddrinfo(found);
  return status;
}

NetStatus TcpConnection::Read(char* buffer, size_t size, size_t* got) {
  *got = 0;
  if (!IsOpen()) return NetStatus::kClosed;
  const SOCKET s = static_cast<SOCKET>(handle);
  const int most = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
  for (;;) {
    const int n = recv(s, buffer, most, 0);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return NetStatus::kOk;
    }
    if (n == 0) return NetStatus::kClosed;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return FromError(error);
    if (!Await(s, false, WaitMs())) return NetStatus::kTimedOut;
  }
}

NetStatus TcpConnection::Write(const char* data, size_t size) {
  if (!IsOpen()) return NetStatus::kClosed;
  const SOCKET s = static_cast<SOCKET>(handle);
  bool peerSpoke = false;
  while (size > 0) {
    const int most = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
    const int n = send(s, data, most, 0);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return FromError(error);
    // A peer that has closed its end reads nothing more: a write waiting
    // for room would wait out its time limit. Its end is watched until it
    // sends something, which is left for the next Read.
    fd_set writable, readable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&readable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &readable);
    FD_SET(s, &failed);
    const int waitMs = WaitMs();
    timeval limit = {waitMs / 1000, (waitMs % 1000) * 1000};
    const int ready =
        select(0, peerSpoke ? nullptr : &readable, &writable, &failed, &limit);
    if (ready == 0) return NetStatus::kTimedOut;
    if (ready > 0 && !FD_ISSET(s, &writable) && !peerSpoke &&
        FD_ISSET(s, &readable)) {
      char c;
      const int peeked = recv(s, &c, 1, MSG_PEEK);
      if (peeked == 0) return NetStatus::kClosed;
      peerSpoke = true;
    }
  }
  return NetStatus::kOk;
}

bool TcpConnection::ReadableNow() {
  return IsOpen() && Await(static_cast<SOCKET>(handle), false, 0);
}

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/tcp_connection.h"

namespace {

NetStatus FromErrno(int error) {
  switch (error) {
    case ECONNREFUSED:
      return NetStatus::kRefused;
    case ETIMEDOUT:
      return NetStatus::kTimedOut;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
      return NetStatus::kReset;
    default:
      return NetStatus::kFailed;
  }
}

// Waits until the socket can be read (or written); false on a time-out.
bool Await(int fd, short events, int timeoutMs) {
  pollfd p = {fd, events, 0};
  for (;;) {
    const int n = poll(&p, 1, timeoutMs);
    if (n >= 0) return n > 0;
    if (errno != EINTR) return true;  // the call that follows says why
  }
}

}  // namespace

TcpConnection::TcpConnection(Clock* clock) : clock(clock), handle(-1) {}

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::IsOpen() const { return handle >= 0; }

void TcpConnection::Close() {
  if (handle >= 0) close(static_cast<int>(handle));
  handle = -1;
}

NetStatus TcpConnection::Connect(const std::string& host, uint16_t port,
                                 int timeoutMs) {
  Close();
  this->timeoutMs = timeoutMs;
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int resolved =
      getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (resolved != 0) {
    return resolved == EAI_NONAME || resolved == EAI_FAIL ||
                   resolved == EAI_AGAIN
               ? NetStatus::kHostUnknown
               : NetStatus::kFailed;
  }
  NetStatus status = NetStatus::kHostUnknown;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int fd =
        socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      status = FromErrno(errno);
      continue;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int error = 0;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        if (!Await(fd, POLLOUT, timeoutMs)) {
          error = ETIMEDOUT;
        } else {
          socklen_t length = sizeof error;
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        }
      }
    }
    if (error == 0) {
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      handle = fd;
      status = NetStatus::kOk;
      break;
    }
    close(fd);
    status = FromErrno(error);
  }
  freeaddrinfo(found);
  return status;
}

NetStatus TcpConnection::Read(char* buffer, size_t size, size_t* got) {
  *got = 0;
  if (handle < 0) return NetStatus::kClosed;
  const int fd = static_cast<int>(handle);
  for (;;) {
    const ssize_t n = recv(fd, buffer, size, 0);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return NetStatus::kOk;
    }
    if (n == 0) return NetStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return FromErrno(errno);
    if (!Await(fd, POLLIN, WaitMs())) return NetStatus::kTimedOut;
  }
}

NetStatus TcpConnection::Write(const char* data, size_t size) {
  if (handle < 0) return NetStatus::kClosed;
  const int fd = static_cast<int>(handle);
  // A peer that has closed its end reads nothing more: a write waiting for
  // room would wait out its time limit. Its end is watched until it sends
  // something, which is left for the next Read.
  bool peerSpoke = false;
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return FromErrno(errno);
    pollfd p = {fd, static_cast<short>(POLLOUT | (peerSpoke ? 0 : POLLIN)), 0};
    int ready;
    while ((ready = poll(&p, 1, WaitMs())) < 0 && errno == EINTR) {
    }
    if (ready == 0) return NetStatus::kTimedOut;
    if (ready > 0 && !(p.revents & POLLOUT) && (p.revents & POLLIN)) {
      char c;
      const ssize_t peeked = recv(fd, &c, 1, MSG_PEEK);
      if (peeked == 0) return NetStatus::kClosed;
      peerSpoke = true;
    }
  }
  return NetStatus::kOk;
}

bool TcpConnection::ReadableNow() {
  return handle >= 0 && Await(static_cast<int>(handle), POLLIN, 0);
}

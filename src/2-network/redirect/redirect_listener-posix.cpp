#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "redirect/redirect_listener.h"

namespace {

const size_t kMaxHead = 16 * 1024;
const size_t kMaxConnections = 16;

struct Connection {
  int fd;
  std::string received;
};

class PosixRedirectListener : public RedirectListener {
 public:
  ~PosixRedirectListener() override { CloseAll(); }

  Status Listen() override {
    listening = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listening < 0) return Failed("socket");
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listening, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listening, 8) != 0 ||
        getsockname(listening, reinterpret_cast<sockaddr*>(&address),
                    &length) != 0)
      return Failed("listening on 127.0.0.1");
    port = ntohs(address.sin_port);
    return Status::Ok();
  }

  uint16_t Port() const override { return port; }

  Status AwaitRequest(int timeoutMs, const std::function<bool()>& keepWaiting,
                      std::string* head) override {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (keepWaiting && !keepWaiting())
        return Status::Of(StatusKind::kCancelled, "the sign-in was given up");
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0)
        return Status::Of(StatusKind::kTimedOut,
                          "no answer from the browser in time");
      std::vector<pollfd> watched;
      watched.push_back({listening, POLLIN, 0});
      for (const Connection& c : connections)
        watched.push_back({c.fd, POLLIN, 0});
      const int ready = poll(watched.data(), watched.size(),
                             static_cast<int>(left < 200 ? left : 200));
      if (ready < 0 && errno != EINTR) return Failed("waiting");
      if (ready <= 0) continue;
      for (size_t i = watched.size(); i-- > 1;) {
        if (!watched[i].revents) continue;
        Connection& c = connections[i - 1];
        char buffer[4096];
        const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && (errno == EINTR || errno == EAGAIN))) {
          Drop(i - 1);
          continue;
        }
        if (n > 0) c.received.append(buffer, static_cast<size_t>(n));
        const size_t end = c.received.find("\r\n\r\n");
        if (end != std::string::npos) {
          *head = c.received.substr(0, end + 2);
          chosen = c.fd;
          c.fd = -1;
          return Status::Ok();
        }
        if (c.received.size() > kMaxHead) Drop(i - 1);
      }
      if (watched[0].revents) {
        const int fd =
            accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
          // The oldest silent connection makes room for a new one.
          if (connections.size() >= kMaxConnections) Drop(0);
          connections.push_back({fd, ""});
        }
      }
    }
  }

  void Answer(const std::string& response) override {
    if (chosen >= 0) {
      const int flags = fcntl(chosen, F_GETFL);
      fcntl(chosen, F_SETFL, flags & ~O_NONBLOCK);
      const timeval limit = {5, 0};
      setsockopt(chosen, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      size_t sent = 0;
      while (sent < response.size()) {
        const ssize_t n = send(chosen, response.data() + sent,
                               response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      shutdown(chosen, SHUT_WR);
    }
    CloseAll();
  }

 private:
  Status Failed(const char* doing) {
    return Status::Of(StatusKind::kOther,
                      std::string(doing) + ": errno " + std::to_string(errno));
  }

  void Drop(size_t index) {
    if (connections[index].fd >= 0) close(connections[index].fd);
    connections.erase(connections.begin() + static_cast<long>(index));
  }

  void CloseAll() {
    for (const Connection& c : connections)
      if (c.fd >= 0) close(c.fd);
    connections.clear();
    if (chosen >= 0) close(chosen);
    if (listening >= 0) close(listening);
    chosen = listening = -1;
  }

  int listening = -1;
  int chosen = -1;
  uint16_t port = 0;
  std::vector<Connection> connections;
};

}  // namespace

std::unique_ptr<RedirectListener> RedirectListener::Create() {
  return std::unique_ptr<RedirectListener>(new PosixRedirectListener);
}

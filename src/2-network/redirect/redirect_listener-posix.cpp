#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "redirect/redirect_listener.h"

namespace {

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

 protected:
  Status Wait(int waitMs, std::vector<size_t>* readable,
              bool* incoming) override {
    std::vector<pollfd> watched;
    watched.push_back({listening, POLLIN, 0});
    for (int fd : connections) watched.push_back({fd, POLLIN, 0});
    const int ready = poll(watched.data(), watched.size(), waitMs);
    if (ready < 0 && errno != EINTR) return Failed("waiting");
    if (ready <= 0) return Status::Ok();
    for (size_t i = 1; i < watched.size(); ++i)
      if (watched[i].revents) readable->push_back(i - 1);
    *incoming = watched[0].revents != 0;
    return Status::Ok();
  }

  bool Receive(size_t i, std::string* to) override {
    char buffer[4096];
    const ssize_t n = recv(connections[i], buffer, sizeof buffer, 0);
    if (n > 0) to->append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN));
  }

  bool Accept() override {
    const int fd =
        accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return false;
    connections.push_back(fd);
    return true;
  }

  void Drop(size_t i) override {
    close(connections[i]);
    connections.erase(connections.begin() + static_cast<long>(i));
  }

  void Choose(size_t i) override {
    chosen = connections[i];
    connections.erase(connections.begin() + static_cast<long>(i));
  }

 private:
  Status Failed(const char* doing) {
    return Status::Of(StatusKind::kOther,
                      std::string(doing) + ": errno " + std::to_string(errno));
  }

  void CloseAll() {
    for (int fd : connections) close(fd);
    connections.clear();
    if (chosen >= 0) close(chosen);
    if (listening >= 0) close(listening);
    chosen = listening = -1;
  }

  int listening = -1;
  int chosen = -1;
  uint16_t port = 0;
  std::vector<int> connections;  // taken, not yet answered or dropped
};

}  // namespace

std::unique_ptr<RedirectListener> RedirectListener::Create() {
  return std::unique_ptr<RedirectListener>(new PosixRedirectListener);
}

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <vector>

#include "redirect/redirect_listener.h"

namespace {

const size_t kMaxHead = 16 * 1024;
const size_t kMaxConnections = 16;

struct Connection {
  SOCKET socket;
  std::string received;
};

void NonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

class Win32RedirectListener : public RedirectListener {
 public:
  Win32RedirectListener() {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Win32RedirectListener() override {
    CloseAll();
    if (started) WSACleanup();
  }

  Status Listen() override {
    listening = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listening == INVALID_SOCKET) return Failed("socket");
    // No other program may bind the same port beside ours.
    BOOL exclusive = TRUE;
    setsockopt(listening, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listening, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listening, 8) != 0 ||
        getsockname(listening, reinterpret_cast<sockaddr*>(&address),
                    &length) != 0)
      return Failed("listening on 127.0.0.1");
    NonBlocking(listening);
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
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(listening, &readable);
      for (const Connection& c : connections) FD_SET(c.socket, &readable);
      const long wait = left < 200 ? static_cast<long>(left) : 200;
      timeval limit = {0, wait * 1000};
      const int ready = select(0, &readable, nullptr, nullptr, &limit);
      if (ready == SOCKET_ERROR) return Failed("waiting");
      if (ready == 0) continue;
      for (size_t i = connections.size(); i-- > 0;) {
        Connection& c = connections[i];
        if (!FD_ISSET(c.socket, &readable)) continue;
        char buffer[4096];
        const int n = recv(c.socket, buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && WSAGetLastError() == WSAEWOULDBLOCK)) {
          Drop(i);
          continue;
        }
        if (n > 0) c.received.append(buffer, static_cast<size_t>(n));
        const size_t end = c.received.find("\r\n\r\n");
        if (end != std::string::npos) {
          *head = c.received.substr(0, end + 2);
          chosen = c.socket;
          c.socket = INVALID_SOCKET;
          return Status::Ok();
        }
        if (c.received.size() > kMaxHead) Drop(i);
      }
      if (FD_ISSET(listening, &readable)) {
        const SOCKET s = accept(listening, nullptr, nullptr);
        if (s != INVALID_SOCKET) {
          NonBlocking(s);
          if (connections.size() >= kMaxConnections) Drop(0);
          connections.push_back({s, ""});
        }
      }
    }
  }

  void Answer(const std::string& response) override {
    if (chosen != INVALID_SOCKET) {
      u_long off = 0;
      ioctlsocket(chosen, FIONBIO, &off);
      const DWORD limitMs = 5000;
      setsockopt(chosen, SOL_SOCKET, SO_SNDTIMEO,
                 reinterpret_cast<const char*>(&limitMs), sizeof limitMs);
      size_t sent = 0;
      while (sent < response.size()) {
        const int n = send(chosen, response.data() + sent,
                           static_cast<int>(response.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      shutdown(chosen, SD_SEND);
    }
    CloseAll();
  }

 private:
  Status Failed(const char* doing) {
    return Status::Of(
        StatusKind::kOther,
        std::string(doing) + ": error " + std::to_string(WSAGetLastError()));
  }

  void Drop(size_t index) {
    if (connections[index].socket != INVALID_SOCKET)
      closesocket(connections[index].socket);
    connections.erase(connections.begin() + static_cast<long>(index));
  }

  void CloseAll() {
    for (const Connection& c : connections)
      if (c.socket != INVALID_SOCKET) closesocket(c.socket);
    connections.clear();
    if (chosen != INVALID_SOCKET) closesocket(chosen);
    if (listening != INVALID_SOCKET) closesocket(listening);
    chosen = listening = INVALID_SOCKET;
  }

  bool started = false;
  SOCKET listening = INVALID_SOCKET;
  SOCKET chosen = INVALID_SOCKET;
  uint16_t port = 0;
  std::vector<Connection> connections;
};

}  // namespace

std::unique_ptr<RedirectListener> RedirectListener::Create() {
  return std::unique_ptr<RedirectListener>(new Win32RedirectListener);
}

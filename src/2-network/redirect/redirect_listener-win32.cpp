#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

#include "redirect/redirect_listener.h"

namespace {

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

 protected:
  Status Wait(int waitMs, std::vector<size_t>* readable,
              bool* incoming) override {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listening, &ready);
    for (SOCKET s : connections) FD_SET(s, &ready);
    timeval limit = {0, static_cast<long>(waitMs) * 1000};
    const int count = select(0, &ready, nullptr, nullptr, &limit);
    if (count == SOCKET_ERROR) return Failed("waiting");
    if (count == 0) return Status::Ok();
    for (size_t i = 0; i < connections.size(); ++i)
      if (FD_ISSET(connections[i], &ready)) readable->push_back(i);
    *incoming = FD_ISSET(listening, &ready) != 0;
    return Status::Ok();
  }

  bool Receive(size_t i, std::string* to) override {
    char buffer[4096];
    const int n = recv(connections[i], buffer, sizeof buffer, 0);
    if (n > 0) to->append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK);
  }

  bool Accept() override {
    const SOCKET s = accept(listening, nullptr, nullptr);
    if (s == INVALID_SOCKET) return false;
    NonBlocking(s);
    connections.push_back(s);
    return true;
  }

  void Drop(size_t i) override {
    closesocket(connections[i]);
    connections.erase(connections.begin() + static_cast<long>(i));
  }

  void Choose(size_t i) override {
    chosen = connections[i];
    connections.erase(connections.begin() + static_cast<long>(i));
  }

 private:
  Status Failed(const char* doing) {
    return Status::Of(
        StatusKind::kOther,
        std::string(doing) + ": error " + std::to_string(WSAGetLastError()));
  }

  void CloseAll() {
    for (SOCKET s : connections) closesocket(s);
    connections.clear();
    if (chosen != INVALID_SOCKET) closesocket(chosen);
    if (listening != INVALID_SOCKET) closesocket(listening);
    chosen = listening = INVALID_SOCKET;
  }

  bool started = false;
  SOCKET listening = INVALID_SOCKET;
  SOCKET chosen = INVALID_SOCKET;
  uint16_t port = 0;
  std::vector<SOCKET> connections;  // taken, not yet answered or dropped
};

}  // namespace

std::unique_ptr<RedirectListener> RedirectListener::Create() {
  return std::unique_ptr<RedirectListener>(new Win32RedirectListener);
}

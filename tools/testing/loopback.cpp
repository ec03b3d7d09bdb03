#include "loopback.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef int socklen_t;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <thread>

namespace testing_support {

namespace {

#ifdef _WIN32
const int kNoSignal = 0;
SOCKET Native(Socket s) { return static_cast<SOCKET>(s); }
#else
const int kNoSignal = MSG_NOSIGNAL;  // a peer gone is a failed send
int Native(Socket s) { return static_cast<int>(s); }
#endif

void StartSockets() {
#ifdef _WIN32
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
#endif
}

bool Readable(Socket s, int timeoutMs) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Native(s), &set);
  timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &limit) > 0;
#else
  pollfd p = {Native(s), POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
#endif
}

Socket Connect(uint16_t port) {
  const Socket s = static_cast<Socket>(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(Native(s), reinterpret_cast<sockaddr*>(&address),
              sizeof address) != 0) {
    CloseSocket(s);
    return -1;
  }
  return s;
}

}  // namespace

void Shut(Socket s) {
#ifdef _WIN32
  shutdown(Native(s), SD_BOTH);
#else
  shutdown(Native(s), SHUT_RDWR);
#endif
}

void CloseSocket(Socket s) {
  if (s < 0) return;
  Shut(s);
#ifdef _WIN32
  closesocket(Native(s));
#else
  close(Native(s));
#endif
}

bool SendText(Socket s, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const int n = send(Native(s), text.data() + done,
                       static_cast<int>(text.size() - done), kNoSignal);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string ReceiveUntilQuiet(Socket s, int timeoutMs) {
  std::string text;
  char buffer[4096];
  while (Readable(s, timeoutMs)) {
    const int n = recv(Native(s), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

LoopbackListener::LoopbackListener() {
  StartSockets();
  socket_ = static_cast<Socket>(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Wine tells port 0 for a socket bound to port 0: a port is picked here
  // (from the clock, then upwards) where the system's choice is not told.
  bind(Native(socket_), reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(Native(socket_), reinterpret_cast<sockaddr*>(&address), &length);
  uint16_t candidate = static_cast<uint16_t>(
      20000 +
      std::chrono::steady_clock::now().time_since_epoch().count() % 30000);
  while (ntohs(address.sin_port) == 0) {
    CloseSocket(socket_);
    socket_ = static_cast<Socket>(socket(AF_INET, SOCK_STREAM, 0));
    address.sin_port = htons(candidate++);
    if (bind(Native(socket_), reinterpret_cast<sockaddr*>(&address),
             sizeof address) != 0)
      address.sin_port = 0;
  }
  listen(Native(socket_), 8);
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() { CloseSocket(socket_); }

Socket LoopbackListener::Accept(int timeoutMs) {
  if (!Readable(socket_, timeoutMs)) return -1;
  return static_cast<Socket>(accept(Native(socket_), nullptr, nullptr));
}

ScriptedServer::ScriptedServer(const std::string& greeting,
                               const std::string& reply)
    : thread_([this, greeting, reply] {
        while (!stop_) {
          const Socket s = listener_.Accept(100);
          if (s < 0) continue;
          SendText(s, greeting);
          std::string pending;
          char buffer[4096];
          while (!stop_ && Readable(s, 2000)) {
            const int n = recv(Native(s), buffer, sizeof buffer, 0);
            if (n <= 0) break;
            pending.append(buffer, static_cast<size_t>(n));
            {
              std::lock_guard<std::mutex> lock(mutex_);
              received_.append(buffer, static_cast<size_t>(n));
            }
            size_t lf;
            while ((lf = pending.find('\n')) != std::string::npos) {
              const std::string tag = pending.substr(0, pending.find(' '));
              pending.erase(0, lf + 1);
              std::string answer = reply;
              const size_t at = answer.find("TAG");
              if (at != std::string::npos) answer.replace(at, 3, tag);
              SendText(s, answer);
            }
          }
          CloseSocket(s);
        }
      }) {}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
}

std::string ScriptedServer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

CuttingProxy::CuttingProxy(uint16_t target, uint64_t after, Fault fault)
    : target(target), after(after), fault(fault), acceptor([this] {
        while (!stop) {
          const Socket client = listener.Accept(100);
          if (client < 0) continue;
          const bool first = connections++ == 0;
          if (!first && failed && this->fault == kGone) {
            CloseSocket(client);
            continue;
          }
          const Socket server = Connect(this->target);
          std::lock_guard<std::mutex> lock(mutex);
          open.push_back(client);
          open.push_back(server);
          threads.emplace_back([=] { Pass(client, server, true, first); });
          threads.emplace_back([=] { Pass(server, client, false, first); });
        }
      }) {}

void CuttingProxy::Pass(Socket from, Socket to, bool fromClient, bool first) {
  char buffer[16384];
  uint64_t passed = 0;
  while (!stop) {
    const bool quiet = failed && fault == kSilent;
    if (failed && fault == kGone) break;
    if (!Readable(from, 100)) continue;
    if (quiet) continue;  // what arrives stays unread
    // The first connection's client bytes up to the mark, then the fault.
    const uint64_t room =
        fromClient && first && !failed ? after - passed : sizeof buffer;
    const bool trickle = !fromClient && failed && fault == kTrickle;
    const int n = recv(
        Native(from), buffer,
        static_cast<int>(std::min<uint64_t>(trickle ? 1 : sizeof buffer, room)),
        0);
    if (n <= 0 || !SendText(to, std::string(buffer, static_cast<size_t>(n))))
      break;
    passed += static_cast<uint64_t>(n);
    if (trickle) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (fromClient && first && !failed && passed >= after) {
      failed = true;
      if (fault == kCutOnce) break;
    }
  }
  // Cut both ways: the peers see the connection end.
  Shut(from);
  Shut(to);
}

CuttingProxy::~CuttingProxy() {
  stop = true;
  acceptor.join();
  for (std::thread& t : threads) t.join();
  for (Socket s : open) CloseSocket(s);
}

}  // namespace testing_support

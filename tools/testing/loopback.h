// Loopback servers for the network tests: a listener that hands over its
// connections, a scripted server that answers with fixed text, and a proxy
// that cuts, silences or slows a server after a number of bytes.
#ifndef KORVANE_TESTING_LOOPBACK_H_
#define KORVANE_TESTING_LOOPBACK_H_

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A socket of the system, closed with CloseSocket.
typedef intptr_t Socket;
void CloseSocket(Socket s);
// Ends the connection both ways and reads no more, but keeps the socket:
// the peer sees the end, and what it sends stays unread.
void Shut(Socket s);
bool SendText(Socket s, const std::string& text);
// What arrives until the peer closes or timeoutMs pass without a byte.
std::string ReceiveUntilQuiet(Socket s, int timeoutMs);

class LoopbackListener {
 public:
  LoopbackListener();  // on 127.0.0.1, a free port
  ~LoopbackListener();
  uint16_t port() const { return port_; }
  // The next connection, or -1 after timeoutMs.
  Socket Accept(int timeoutMs);

 private:
  Socket socket_;
  uint16_t port_ = 0;
};

// Greets each connection with greeting, then answers every line it reads
// with reply (with the line's tag put in for "TAG"), and records all it
// was sent.
class ScriptedServer {
 public:
  ScriptedServer(const std::string& greeting, const std::string& reply);
  ~ScriptedServer();
  uint16_t port() const { return listener_.port(); }
  std::string Received();

 private:
  LoopbackListener listener_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

// Passes connections through to 127.0.0.1:target until the first one has
// carried after bytes from the client to the server; then, by the fault:
// that connection is cut both ways (later ones pass); every connection is
// cut, the later ones as soon as they are made (the server is gone); the
// server falls silent on every connection (nothing more passes, nothing is
// closed); or it trickles (a byte every 300 ms from the server).
class CuttingProxy {
 public:
  enum Fault { kCutOnce, kGone, kSilent, kTrickle };
  CuttingProxy(uint16_t target, uint64_t after, Fault fault = kCutOnce);
  ~CuttingProxy();
  uint16_t port() const { return listener.port(); }
  int Connections() const { return connections; }

 private:
  void Pass(Socket from, Socket to, bool fromClient, bool first);
  LoopbackListener listener;
  const uint16_t target;
  const uint64_t after;
  const Fault fault;
  std::atomic<bool> stop{false};
  std::atomic<bool> failed{false};  // the fault has begun
  std::atomic<int> connections{0};
  std::mutex mutex;
  std::vector<Socket> open;
  std::vector<std::thread> threads;
  std::thread acceptor;
};

}  // namespace testing_support

#endif  // KORVANE_TESTING_LOOPBACK_H_

// A TCP connection to a host and port, with time limits on connecting,
// reading and writing. Sockets of the system behind one interface:
// tcp_connection-posix.cpp, tcp_connection-win32.cpp (Winsock).
#ifndef KORVANE_NET_TCP_CONNECTION_H_
#define KORVANE_NET_TCP_CONNECTION_H_

#include <stdint.h>

#include <string>

#include "net/byte_stream.h"
#include "net/clock.h"

class TcpConnection : public ByteStream {
 public:
  // Deadlines are moments of clock, which must be the system's (or run
  // with it).
  explicit TcpConnection(Clock* clock = SystemClock());
  ~TcpConnection() override;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Resolves host (a name or an IPv4 or IPv6 address) and connects to the
  // first of its addresses that answers within timeoutMs. The same limit
  // applies to each later read and write.
  NetStatus Connect(const std::string& host, uint16_t port, int timeoutMs);

  NetStatus Read(char* buffer, size_t size, size_t* got) override;
  NetStatus Write(const char* data, size_t size) override;
  bool ReadableNow() override;
  void SetDeadline(int64_t ms) override { deadline = ms; }

  void Close();
  bool IsOpen() const;

 private:
  // How long the next wait may take: the time limit, or less where the
  // deadline is nearer.
  int WaitMs();

  Clock* const clock;
  intptr_t handle;
  int timeoutMs = 30000;
  int64_t deadline = kNoDeadline;
};

#endif  // KORVANE_NET_TCP_CONNECTION_H_

// Connecting, reading and writing on loopback, and what each failure is
// called.
#include "net/tcp_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "loopback.h"

namespace {

using testing_support::LoopbackListener;
using testing_support::ReceiveUntilQuiet;
using testing_support::SendText;

TEST(TcpConnectionTest, Outcomes) {
  LoopbackListener silent;  // accepts, and says nothing until told
  uint16_t closedPort;
  {
    LoopbackListener gone;
    closedPort = gone.port();
  }
  const struct {
    const char* host;
    uint16_t port;
    NetStatus status;
  } kConnects[] = {
      {"no-such-host.invalid", 993, NetStatus::kHostUnknown},
      {"127.0.0.1", closedPort, NetStatus::kRefused},
      {"localhost", silent.port(), NetStatus::kOk},
  };
  for (const auto& c : kConnects) {
    TcpConnection connection;
    EXPECT_EQ(c.status, connection.Connect(c.host, c.port, 2000)) << c.host;
    EXPECT_EQ(c.status == NetStatus::kOk, connection.IsOpen()) << c.host;
    if (connection.IsOpen()) testing_support::CloseSocket(silent.Accept(2000));
  }

  TcpConnection connection;
  ASSERT_EQ(NetStatus::kOk,
            connection.Connect("127.0.0.1", silent.port(), 300));
  const testing_support::Socket peer = silent.Accept(2000);
  ASSERT_GE(peer, 0);
  char buffer[64];
  size_t got = 0;
  EXPECT_FALSE(connection.ReadableNow());
  EXPECT_EQ(NetStatus::kTimedOut, connection.Read(buffer, sizeof buffer, &got));
  ASSERT_TRUE(SendText(peer, "* OK\r\n"));
  EXPECT_EQ(NetStatus::kOk, connection.Read(buffer, sizeof buffer, &got));
  EXPECT_EQ("* OK\r\n", std::string(buffer, got));
  EXPECT_EQ(NetStatus::kOk, connection.Write("K1 NOOP\r\n", 9));
  EXPECT_EQ("K1 NOOP\r\n", ReceiveUntilQuiet(peer, 300));
  testing_support::CloseSocket(peer);
  const NetStatus end = connection.Read(buffer, sizeof buffer, &got);
  EXPECT_TRUE(end == NetStatus::kClosed || end == NetStatus::kReset)
      << NetStatusText(end);
  EXPECT_EQ(0u, got);
}

TEST(TcpConnectionTest, WriteEndsWhenThePeerHasClosedItsEnd) {
  // A peer that stops reading, then ends the connection but keeps its
  // socket (as a cut connection may look): its full buffers take no more
  // bytes, so nothing it would refuse is ever sent. A long write must end
  // when the end arrives, not wait out its time limit for room.
  LoopbackListener listener;
  TcpConnection connection;
  ASSERT_EQ(NetStatus::kOk,
            connection.Connect("127.0.0.1", listener.port(), 20000));
  const testing_support::Socket peer = listener.Accept(2000);
  ASSERT_GE(peer, 0);
  NetStatus status = NetStatus::kOk;
  std::thread writer([&] {
    const std::string big(64 << 20, 'x');
    status = connection.Write(big.data(), big.size());
  });
  // By then the write waits for room.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  testing_support::Shut(peer);
  writer.join();
  EXPECT_TRUE(status == NetStatus::kClosed || status == NetStatus::kReset)
      << NetStatusText(status);
  testing_support::CloseSocket(peer);
}

}  // namespace

// The listener a browser brings the sign-in's answer to: connections that
// send nothing, or no end of head, do not hold the request up; the wait
// ends as asked or in time.
#include "redirect/redirect_listener.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp_connection.h"

namespace {

// What the connection gets until the listener closes it (or breaks it off,
// with bytes it did not read); "(open)" where it stays open past the
// connection's time limit.
std::string ReadToEnd(TcpConnection* connection) {
  std::string text;
  char buffer[4096];
  size_t got = 0;
  NetStatus status;
  while ((status = connection->Read(buffer, sizeof buffer, &got)) ==
         NetStatus::kOk)
    text.append(buffer, got);
  return status == NetStatus::kTimedOut ? "(open)" : text;
}

TEST(RedirectListenerTest, TakesTheRequestPastSilentAndOverlongConnections) {
  const std::unique_ptr<RedirectListener> listener = RedirectListener::Create();
  ASSERT_TRUE(listener->Listen().IsOk());
  const uint16_t port = listener->Port();
  std::string head;
  Status waited;
  std::thread waiting(
      [&] { waited = listener->AwaitRequest(20000, nullptr, &head); });

  // 20 silent ones: more than it keeps, so the oldest makes room.
  std::vector<std::unique_ptr<TcpConnection>> silent;
  for (int i = 0; i < 20; ++i) {
    silent.emplace_back(new TcpConnection);
    ASSERT_EQ(silent.back()->Connect("127.0.0.1", port, 5000), NetStatus::kOk);
  }
  TcpConnection overlong;
  ASSERT_EQ(overlong.Connect("127.0.0.1", port, 5000), NetStatus::kOk);
  const std::string line = "X-Padding: " + std::string(100, 'x') + "\r\n";
  std::string lines = "GET /a HTTP/1.1\r\n";
  while (lines.size() <= 17 * 1024) lines += line;
  ASSERT_EQ(overlong.Write(lines.data(), lines.size()), NetStatus::kOk);
  EXPECT_EQ(ReadToEnd(&overlong), "");
  EXPECT_EQ(ReadToEnd(silent[0].get()), "");

  TcpConnection browser;
  ASSERT_EQ(browser.Connect("127.0.0.1", port, 5000), NetStatus::kOk);
  const std::string request = "GET /cb?code=1&state=2 HTTP/1.1\r\nHost: h\r\n";
  ASSERT_EQ(browser.Write(request.data(), request.size()), NetStatus::kOk);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(browser.Write("\r\n", 2), NetStatus::kOk);
  waiting.join();
  ASSERT_TRUE(waited.IsOk()) << waited.Text();
  EXPECT_EQ(head, request);
  listener->Answer(PlainPage(200, "signed in"));
  const std::string answer = ReadToEnd(&browser);
  EXPECT_EQ(answer.compare(0, 15, "HTTP/1.1 200 OK"), 0) << answer;
  EXPECT_EQ(answer.substr(answer.size() - 9), "signed in");
  // Answered: every other connection is closed.
  EXPECT_EQ(ReadToEnd(silent[19].get()), "");
}

TEST(RedirectListenerTest, TheWaitEndsAsAskedOrInTime) {
  const struct {
    bool keepWaiting;
    StatusKind kind;
  } kWaits[] = {{false, StatusKind::kCancelled}, {true, StatusKind::kTimedOut}};
  for (const auto& w : kWaits) {
    const std::unique_ptr<RedirectListener> listener =
        RedirectListener::Create();
    ASSERT_TRUE(listener->Listen().IsOk());
    std::string head;
    const Status status = listener->AwaitRequest(
        300, [&] { return w.keepWaiting; }, &head);
    EXPECT_EQ(status.Kind(), w.kind) << status.Text();
  }
}

}  // namespace

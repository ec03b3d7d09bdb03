// The session and the uploader against the in-memory server, on a clock
// that moves only when they wait: pipelining, reconnects and their pauses,
// deadlines, in milliseconds of real time. Dovecot (ctest -L imap) remains
// the real check.
#include "imap/imap_uploader.h"

#include <gtest/gtest.h>

#include <set>

#include "imap/memory_imap_server.h"

namespace {

// A message of about size bytes; the same n gives the same message.
ImapMessage Message(int n, size_t size = 300) {
  ImapMessage m;
  m.internalDate = 1000000000 + n * 3661;
  m.messageId = "<" + std::to_string(n) + "@memory.test>";
  m.bytes = "From: a@example.org\r\nSubject: message " + std::to_string(n) +
            "\r\nMessage-ID: " + m.messageId + "\r\n\r\n";
  while (m.bytes.size() + 78 <= size)
    m.bytes += std::string(76, static_cast<char>('a' + n % 26)) + "\r\n";
  return m;
}

class ImapInMemoryTest : public ::testing::Test {
 protected:
  ImapInMemoryTest() : server(&clock) {
    links.connector = &server;
    links.clock = &clock;
    account.host = "memory";
    account.user = "user";
    account.credentials.secret = "secret";
    account.timeoutMs = 60000;
  }

  struct Run {
    Status status;
    DeliveryTally tally;
    uint64_t reconnects = 0;
    int64_t tookMs = 0;  // on the clock
  };
  Run Upload(const std::vector<ImapMessage>& messages,
             const UploadSettings& settings = UploadSettings(),
             const std::string& folder = "Box") {
    Run run;
    const int64_t start = clock.NowMs();
    ImapUploader uploader(account, settings, nullptr, links);
    run.status = uploader.Open({folder});
    for (size_t i = 0; run.status.IsOk() && i < messages.size(); ++i)
      run.status = uploader.Add(messages[i]);
    if (run.status.IsOk()) run.status = uploader.Finish();
    run.tally = uploader.Tally();
    run.reconnects = uploader.Reconnects();
    run.tookMs = clock.NowMs() - start;
    return run;
  }
  // The Message-IDs that arrived, each once.
  void ExpectEachOnce(const std::vector<ImapMessage>& messages,
                      const std::string& folder = "Box") {
    std::multiset<std::string> arrived;
    for (const auto& m : server.Seen(folder)) arrived.insert(m.bytes);
    EXPECT_EQ(messages.size(), arrived.size());
    for (const ImapMessage& m : messages)
      EXPECT_EQ(1u, arrived.count(m.bytes)) << m.messageId;
  }
  std::vector<ImapMessage> Messages(int count) {
    std::vector<ImapMessage> messages;
    for (int n = 0; n < count; ++n) messages.push_back(Message(n));
    return messages;
  }

  ManualClock clock;
  MemoryImapServer server;
  ImapLinks links;
  ImapAccount account;
};

TEST_F(ImapInMemoryTest, EveryWayOfSendingWithTwoBatchesInFlight) {
  // Each answer comes 100 ms after its command: with two commands in
  // flight, the run takes about half as many round trips as batches.
  server.latencyMs = 100;
  const struct {
    const char* name;
    bool multiappend, literalPlus;
    const char* literal;  // as the commands show it
    int64_t mostMs;
  } kWays[] = {
      {"multiappend, literal+", true, true, "+}", 1500},
      {"multiappend, synchronizing", true, false, "}", 12000},
      {"one by one, literal+", false, true, "+}", 1500},
      {"one by one, synchronizing", false, false, "}", 12000},
  };
  for (const auto& way : kWays) {
    SCOPED_TRACE(way.name);
    server.folders.clear();
    UploadSettings settings;
    settings.multiappend = way.multiappend;
    settings.literalPlus = way.literalPlus;
    settings.batchMessages = 10;
    const auto messages = Messages(100);
    const size_t logged = server.Log().size();
    const Run run = Upload(messages, settings);
    ASSERT_TRUE(run.status.IsOk()) << run.status.Text();
    EXPECT_EQ(100u, run.tally.delivered);
    ExpectEachOnce(messages);
    for (const auto& m : server.Seen("Box")) EXPECT_EQ("\\Seen", m.flags);
    EXPECT_EQ(messages[7].internalDate, server.Seen("Box")[7].date);
    EXPECT_LE(run.tookMs, way.mostMs);
    size_t appends = 0;
    for (size_t i = logged; i < server.Log().size(); ++i) {
      const std::string& line = server.Log()[i];
      if (line.find(" APPEND ") == std::string::npos) continue;
      ++appends;
      EXPECT_NE(std::string::npos, line.find(way.literal)) << line;
    }
    EXPECT_GE(appends, way.multiappend ? 10u : 100u);
  }
}

TEST_F(ImapInMemoryTest,
       ACutConnectionIsOpenedAgainAndOnlyWhatIsMissingGoesAgain) {
  const struct {
    const char* name;
    uint64_t cutAfter;
    int64_t leastMs;  // the pause, and the folder held still
  } kCuts[] = {{"during the login", 40, 1000},
               {"in the middle of the messages", 20000, 2000}};
  for (const auto& cut : kCuts) {
    SCOPED_TRACE(cut.name);
    server.folders.clear();
    server.faults = {MemoryImapServer::Fault()};
    server.faults[0].connection = server.Opened() + 1;
    server.faults[0].cutAfter = cut.cutAfter;
    const auto messages = Messages(200);
    const Run run = Upload(messages);
    ASSERT_TRUE(run.status.IsOk()) << run.status.Text();
    EXPECT_EQ(200u, run.tally.delivered);
    EXPECT_EQ(1u, run.reconnects);
    EXPECT_GE(run.tookMs, cut.leastMs);
    ExpectEachOnce(messages);
  }
}

TEST_F(ImapInMemoryTest, PausesDoubleUntilTheTriesAreSpent) {
  // The first connection is cut in the middle of the messages, every later
  // one during its login.
  server.faults.resize(2);
  server.faults[0].cutAfter = 100;
  server.faults[1].connection = 1;
  server.faults[1].cutAfter = 20000;
  UploadSettings settings;
  settings.tries = 4;
  const Run run = Upload(Messages(200), settings);
  EXPECT_TRUE(IsNetworkFailure(run.status)) << run.status.Text();
  EXPECT_EQ(4u, run.reconnects);
  EXPECT_EQ(5, server.Opened());
  // 1 + 2 + 4 + 8 seconds of pauses, and nothing else waited for.
  EXPECT_GE(run.tookMs, 15000);
  EXPECT_LT(run.tookMs, 16000);
}

TEST_F(ImapInMemoryTest, EachResponseHasItsDeadline) {
  // A server that falls silent, and one that sends a byte every 200 ms:
  // each read gets a byte in time, the whole response does not.
  account.timeoutMs = 5000;
  const struct {
    const char* name;
    MemoryImapServer::Fault fault;
  } kServers[] = {
      {"silent from the login on", {0, UINT64_MAX, 20, 0, -1, ""}},
      {"trickling", {0, UINT64_MAX, UINT64_MAX, 200, -1, ""}},
  };
  for (const auto& s : kServers) {
    SCOPED_TRACE(s.name);
    server.faults = {s.fault};
    const int64_t start = clock.NowMs();
    ImapSession session(links);
    const Status status = session.Open(account);
    EXPECT_EQ(StatusKind::kTimedOut, status.Kind()) << status.Text();
    EXPECT_LE(clock.NowMs() - start, 5000 + 200);
  }
}

}  // namespace

// The session and the uploader against the in-memory server, on a clock
// that moves only when they wait: pipelining, reconnects and their pauses,
// deadlines, in milliseconds of real time. Dovecot (ctest -L imap) remains
// the real check.
#include "imap/imap_uploader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "bytes/sha256.h"
#include "imap/memory_imap_server.h"

namespace {

// A message of about size bytes; the same n gives the same message.
ImapMessage Message(int n, size_t size = 300) {
  ImapMessage m;
  m.internalDate = 1000000000 + n * 3661;
  m.bytes = "From: a@example.org\r\nSubject: message " + std::to_string(n) +
            "\r\nMessage-ID: <" + std::to_string(n) + "@memory.test>\r\n\r\n";
  while (m.bytes.size() + 78 <= size)
    m.bytes += std::string(76, static_cast<char>('a' + n % 26)) + "\r\n";
  return m;
}

// What the folder holds of it: its identity's line, then its bytes.
std::string Stored(const ImapMessage& m) {
  Sha256 sha;
  sha.Update(m.bytes.data(), m.bytes.size());
  return IdentityLine(Sha256::Hex(sha.Finish())) + m.bytes;
}

// What the uploader tells besides its results.
class Notices : public NoticeSink {
 public:
  void Tell(const Notice& notice) override { told.push_back(notice); }
  std::vector<Notice> told;
};

class ImapInMemoryTest : public ::testing::Test {
 protected:
  ImapInMemoryTest() : server(&clock) {
    links.connector = &server;
    links.clock = &clock;
    links.gate = &gate;
    account.notices = &notices;
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
      EXPECT_EQ(1u, arrived.count(Stored(m))) << m.bytes;
  }
  std::vector<ImapMessage> Messages(int count) {
    std::vector<ImapMessage> messages;
    for (int n = 0; n < count; ++n) messages.push_back(Message(n));
    return messages;
  }

  ManualClock clock;
  MemoryImapServer server;
  ConnectionGate gate;
  Notices notices;
  ImapLinks links;
  ImapAccount account;
};

TEST_F(ImapInMemoryTest, EveryWayOfSendingWithTwoBatchesInFlight) {
  // Each answer comes 100 ms after its command: the login, the folder and
  // the check of the first batch's dates take 11 round trips, the ten
  // batches about half as many with two commands in flight.
  server.latencyMs = 100;
  const struct {
    const char* name;
    bool multiappend, literalPlus;
    const char* literal;  // as the commands show it
    int64_t mostMs;
  } kWays[] = {
      {"multiappend, literal+", true, true, "+}", 1800},
      {"multiappend, synchronizing", true, false, "}", 12000},
      {"one by one, literal+", false, true, "+}", 1800},
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

TEST_F(ImapInMemoryTest, LoginsAsTheServerAllowsThem) {
  const struct {
    const char* name;
    std::function<void(MemoryImapServer*, ImapAccount*)> set;
    StatusKind kind;
    const char* logged;  // a line of the server's log, "" for none
  } kCases[] = {
      {"OAUTHBEARER: the user name's \",\" and \"=\" escaped",
       [](MemoryImapServer* s, ImapAccount* a) {
         s->before.insert("AUTH=OAUTHBEARER");
         a->user = "a,b=c";
         a->credentials.kind = ImapCredentials::kOAuth2Token;
       },
       StatusKind::kOk, "SASL n,a=a=2Cb=3Dc,\x01host=memory"},
      {"a password not in ASCII where only LOGIN is offered",
       [](MemoryImapServer* s, ImapAccount* a) {
         s->before = {"IMAP4rev1"};
         s->password = a->credentials.secret = "p\xc3\xa4ss \"w\"";
       },
       StatusKind::kOk, "LOGIN user p\xc3\xa4ss \"w\""},
      {"PREAUTH: logged in already",
       [](MemoryImapServer* s, ImapAccount*) { s->greeting = "PREAUTH"; },
       StatusKind::kOk, ""},
      {"PREAUTH before STARTTLS: nothing goes in the clear",
       [](MemoryImapServer* s, ImapAccount* a) {
         s->greeting = "PREAUTH";
         a->implicitTls = false;
       },
       StatusKind::kRefused, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ManualClock clock;
    MemoryImapServer server(&clock);
    ImapAccount account = this->account;
    c.set(&server, &account);
    ImapLinks links;
    links.connector = &server;
    links.clock = &clock;
    ImapSession session(links);
    const Status status = session.Open(account);
    EXPECT_EQ(c.kind, status.Kind()) << status.Text();
    bool found = *c.logged == '\0';
    for (const std::string& line : server.Log()) {
      found |= line.find(c.logged) == 0;
      // Logged in by the greeting: no login follows.
      if (server.greeting == "PREAUTH") {
        EXPECT_EQ(std::string::npos, line.find("AUTHENTICATE")) << line;
        EXPECT_EQ(std::string::npos, line.find("LOGIN")) << line;
      }
    }
    EXPECT_TRUE(found) << c.logged;
  }
}

TEST_F(ImapInMemoryTest, ServersThatBreakTheProtocolCountAsABrokenConnection) {
  const struct {
    const char* name;
    MemoryImapServer::Fault fault;
    int64_t mostMs;
  } kServers[] = {
      // Only what it was sent may count as uploaded.
      {"a tagged OK before the go-ahead of a literal",
       {1, UINT64_MAX, UINT64_MAX, 0, -1, "", true},
       10000},
      // Not the minute a read may wait.
      {"an untagged BYE, the connection left open",
       {1, UINT64_MAX, UINT64_MAX, 0, 12, "going down", false},
       10000},
  };
  for (const auto& s : kServers) {
    SCOPED_TRACE(s.name);
    server.folders.clear();
    server.faults = {s.fault};
    server.faults[0].connection = server.Opened() + 1;
    UploadSettings settings;
    settings.literalPlus = false;
    settings.batchMessages = 10;
    const auto messages = Messages(30);
    const Run run = Upload(messages, settings);
    ASSERT_TRUE(run.status.IsOk()) << run.status.Text();
    EXPECT_EQ(30u, run.tally.delivered);
    EXPECT_EQ(1u, run.reconnects);
    EXPECT_LT(run.tookMs, s.mostMs);
    ExpectEachOnce(messages);
  }
}

TEST_F(ImapInMemoryTest, TheSkipRuleKnowsItsOwnUploadsAndNothingElse) {
  // The folder before the run, then the run's messages: what goes in.
  const auto legacy = [](const ImapMessage& m) {
    MemoryImapServer::Message held;
    held.bytes = m.bytes;  // as an earlier version uploaded it
    held.date = m.internalDate;
    return held;
  };
  const auto ours = [](const ImapMessage& m) {
    MemoryImapServer::Message held;
    held.bytes = Stored(m);
    held.date = 0;  // a server that kept no date
    return held;
  };
  ImapMessage twin = Message(2);  // Message-ID, date and size of 2's
  twin.bytes[twin.bytes.size() - 3] = '!';
  const struct {
    const char* name;
    std::vector<MemoryImapServer::Message> before;
    std::vector<ImapMessage> run;
    uint64_t uploaded, there;
  } kCases[] = {
      {"a rerun, whatever dates the server kept",
       {ours(Message(1)), ours(Message(2))},
       {Message(1), Message(2), Message(3)},
       1,
       2},
      {"another message of the same Message-ID, date and size",
       {ours(Message(2))},
       {twin},
       1,
       0},
      {"uploaded by an earlier version: its bytes decide",
       {legacy(Message(1)), legacy(twin)},
       {Message(1), Message(2)},
       1,
       1},
      {"one copy there, two in the base",
       {ours(Message(1))},
       {Message(1), Message(1)},
       1,
       1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server.folders.clear();
    for (MemoryImapServer::Message m : c.before) {
      MemoryImapServer::Folder& box = server.folders["Box"];
      m.uid = box.uidNext++;
      box.messages.push_back(m);
    }
    const Run run = Upload(c.run);
    ASSERT_TRUE(run.status.IsOk()) << run.status.Text();
    EXPECT_EQ(c.uploaded, run.tally.delivered);
    EXPECT_EQ(c.there, run.tally.alreadyThere);
    EXPECT_EQ(c.before.size() + c.uploaded, server.Seen("Box").size());
  }
}

TEST_F(ImapInMemoryTest, ARunCutOffAndStartedAgainAtOnceSendsNothingTwice) {
  // The server stores an append half a second after it has taken it: a
  // run started again at once must wait until the folder holds still.
  server.storeDelayMs = 500;
  const auto messages = Messages(250);
  {
    ImapUploader cut(account, UploadSettings(), nullptr, links);
    ASSERT_TRUE(cut.Open({"Box"}).IsOk());
    for (const ImapMessage& m : messages) ASSERT_TRUE(cut.Add(m).IsOk());
  }  // cut off: two batches sent in full, the rest never
  const Run run = Upload(messages);
  ASSERT_TRUE(run.status.IsOk()) << run.status.Text();
  EXPECT_EQ(200u, run.tally.alreadyThere);
  clock.Advance(server.storeDelayMs);
  ExpectEachOnce(messages);
}

TEST_F(ImapInMemoryTest, DatesTheServerDoesNotKeepAreToldOnce) {
  server.keepsDates = false;
  Run run = Upload(Messages(250));
  ASSERT_TRUE(run.status.IsOk()) << run.status.Text();
  ASSERT_EQ(1u, run.tally.warnings.size());
  EXPECT_NE(std::string::npos,
            run.tally.warnings[0].find("does not keep the dates"));
  ASSERT_EQ(1u, notices.told.size());
  EXPECT_EQ(run.tally.warnings[0], notices.told[0].text);
  server.keepsDates = true;
  run = Upload(Messages(250));
  EXPECT_EQ(250u, run.tally.alreadyThere);
  EXPECT_TRUE(run.tally.warnings.empty());
}

TEST_F(ImapInMemoryTest, GivingUpSaysWhyWithinTwiceTheTimeLimit) {
  // From the moment the server fails, at most one more time limit passes
  // before the uploader gives up, whatever the server does meanwhile.
  const struct {
    const char* name;
    MemoryImapServer::Fault first, later;  // connection 1, the others
    const char* says;                      // the first cause
  } kServers[] = {
      {"silent",
       {1, UINT64_MAX, 20000, 0, -1, ""},
       {0, UINT64_MAX, 0, 0, -1, ""},
       "no answer in 60 s"},
      {"trickling",
       {1, UINT64_MAX, UINT64_MAX, 1000, -1, ""},
       {0, UINT64_MAX, UINT64_MAX, 1000, -1, ""},
       "no answer in 60 s"},
      {"saying BYE",
       {1, UINT64_MAX, UINT64_MAX, 0, 9, "going \x1b[2J down"},
       {0, UINT64_MAX, UINT64_MAX, 0, 0, "still down"},
       "ended the connection: BYE going \x1b[2J down"},
  };
  for (const auto& s : kServers) {
    SCOPED_TRACE(s.name);
    server.faults = {s.later, s.first};
    server.faults[1].connection = server.Opened() + 1;
    const Run run = Upload(Messages(300));
    EXPECT_TRUE(IsNetworkFailure(run.status)) << run.status.Text();
    EXPECT_NE(std::string::npos, run.status.Text().find(s.says))
        << run.status.Text();
    EXPECT_LE(run.tookMs, 2 * 60000 + 5000) << run.status.Text();
  }
}

TEST_F(ImapInMemoryTest, ALimitOfConnectionsThatOthersTakeIsToldAsSuch) {
  server.connectionLimit = 0;
  const Run run = Upload(Messages(3));
  EXPECT_EQ(StatusKind::kLimit, run.status.Kind()) << run.status.Text();
  EXPECT_NE(std::string::npos, run.status.Text().find("NO [LIMIT]"))
      << run.status.Text();
  EXPECT_EQ(5u, run.reconnects);
}

TEST_F(ImapInMemoryTest, AStopWaitsForTheAnswersOfWhatWasSent) {
  std::atomic<bool> cancel{false};
  links.cancel = &cancel;
  server.latencyMs = 100;
  ImapUploader uploader(account, UploadSettings(), nullptr, links);
  ASSERT_TRUE(uploader.Open({"Box"}).IsOk());
  const auto messages = Messages(400);
  Status status;
  for (int n = 0; status.IsOk() && n < 400; ++n) {
    if (n == 250) cancel = true;
    status = uploader.Add(messages[n]);
  }
  EXPECT_EQ(StatusKind::kCancelled, status.Kind()) << status.Text();
  EXPECT_EQ(StatusKind::kCancelled, uploader.Finish().Kind());
  // What was sent in full was answered and counted; nothing after.
  const size_t stored = server.Seen("Box").size();
  EXPECT_EQ(stored, uploader.Tally().delivered);
  EXPECT_GE(stored, 100u);
  EXPECT_LE(stored, 250u);
}

TEST(ConnectionGateThreadTest, ARefusalMakesTheLoggedInTheLimit) {
  ConnectionGate gate;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(gate.Enter(nullptr));
    gate.LoggedIn();
  }
  ASSERT_TRUE(gate.Enter(nullptr));
  EXPECT_TRUE(gate.Refused());
  EXPECT_EQ(3, gate.Limit());
  // The fourth waits until one of the three ends.
  std::atomic<bool> in{false};
  std::thread fourth([&] {
    gate.Enter(nullptr);
    in = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(in);
  gate.Leave(true);
  fourth.join();
  EXPECT_TRUE(in);
  EXPECT_EQ(3, gate.MostLoggedIn());
  // Nobody else logged in: the limit is not this process's.
  ConnectionGate alone;
  ASSERT_TRUE(alone.Enter(nullptr));
  EXPECT_FALSE(alone.Refused());
  EXPECT_EQ(0, alone.Limit());
}

}  // namespace

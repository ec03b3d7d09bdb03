// The uploader against a real server when things go wrong: refusals before
// any message is sent, a cut connection, runs killed and started again at
// once. (A server gone, silent or trickling: ImapRunTest.)
#include <gtest/gtest.h>
#include <stdio.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "imap/imap_server_test_support.h"
#include "loopback.h"
#include "test_support.h"

namespace {

using namespace imap_testing;
using testing_support::RunProgram;

TEST_F(ImapServerTest, FailsBeforeAnyMessageIsSent) {
  // A server on imap:// that offers no STARTTLS.
  testing_support::ScriptedServer clearOnly(
      "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] clear text only\r\n",
      "TAG OK done\r\n");
  const struct {
    const char* name;
    std::function<void(ImapAccount*)> change;
    StatusKind kind;
    const char* says;  // part of the error
  } kCases[] = {
      {"wrong password",
       [](ImapAccount* a) { a->credentials.secret = "wrong-password"; },
       StatusKind::kRefused, "AUTHENTICATIONFAILED"},
      {"untrusted certificate", [](ImapAccount* a) { a->caFile.clear(); },
       StatusKind::kCertificate, "not trusted"},
      {"CA file missing",
       [](ImapAccount* a) { a->caFile = TheServer().folder + "/none.pem"; },
       StatusKind::kCertificate, "CA file"},
      {"certificate for another host",
       [](ImapAccount* a) { a->host = "127.0.0.2"; }, StatusKind::kCertificate,
       "another host"},
      {"TLS to a clear port",
       [](ImapAccount* a) { a->port = TheServer().imap; }, StatusKind::kOther,
       "handshake"},
      {"imap:// without STARTTLS",
       [&](ImapAccount* a) {
         a->implicitTls = false;
         a->port = clearOnly.port();
       },
       StatusKind::kRefused, "STARTTLS"},
      {"OAuth2 token not accepted",
       [](ImapAccount* a) {
         a->user = "oauthuser";
         a->credentials.kind = ImapCredentials::kOAuth2Token;
         a->credentials.secret = "bad-token";
       },
       StatusKind::kRefused, "OAUTHBEARER"},
      {"nothing listens",
       [](ImapAccount* a) {
         testing_support::LoopbackListener gone;
         a->port = gone.port();
       },
       StatusKind::kUnreachable, "refused"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ImapAccount account = Account();
    c.change(&account);
    const std::string leaf = Unique("refused");
    const UploadRun run =
        Upload(account, UploadSettings(), {leaf}, {Message(1)});
    EXPECT_EQ(c.kind, run.error.Kind()) << run.error.Text();
    EXPECT_NE(std::string::npos, run.error.Text().find(c.says))
        << run.error.Text();
    EXPECT_EQ(std::string::npos,
              run.error.Text().find(account.credentials.secret));
    EXPECT_EQ(0u, run.tally.delivered);
    EXPECT_TRUE(Fetch(account.user, leaf).empty());
  }
  // The clear-text server saw no login.
  EXPECT_EQ(std::string::npos, clearOnly.Received().find("LOGIN"));
  EXPECT_EQ(std::string::npos, clearOnly.Received().find("AUTHENTICATE"));
}

TEST_F(ImapServerTest, CutConnectionIsRecoveredWithinTheRun) {
  const struct {
    const char* name;
    bool multiappend;
    uint64_t cutAfter;
  } kWays[] = {{"multiappend", true, 150000},
               {"one by one", false, 150000},
               {"during the login", true, 400}};
  for (const auto& way : kWays) {
    SCOPED_TRACE(way.name);
    testing_support::CuttingProxy proxy(TheServer().imaps, way.cutAfter);
    ImapAccount account = Account();
    account.port = proxy.port();
    UploadSettings settings;
    settings.multiappend = way.multiappend;
    settings.firstPauseMs = 50;
    std::vector<ImapMessage> messages;
    for (int n = 0; n < 400; ++n) messages.push_back(Message(n));
    const std::string leaf = Unique("cut");
    UploadRun run = Upload(account, settings, {leaf}, messages);
    ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
    EXPECT_EQ(400u, run.tally.delivered);
    EXPECT_GE(run.reconnects, 1u);
    EXPECT_EQ(2, proxy.Connections());
    std::multiset<std::string> ids;
    for (const Stored& s : Fetch("korvane", leaf)) ids.insert(s.messageId);
    EXPECT_EQ(400u, ids.size());
    EXPECT_EQ(400u, std::set<std::string>(ids.begin(), ids.end()).size());
  }
}

#ifndef _WIN32
TEST_F(ImapServerTest, KilledAndStartedAgainAtOnceTwentyTimes) {
  // Each run is killed once another 100 messages have arrived, and the
  // next one starts at once: the server may still be storing the batch
  // the killed one had sent, and the new run must not send it again.
  const std::string leaf = Unique("killed");
  const std::string url =
      "imaps://korvane@127.0.0.1:" + std::to_string(TheServer().imaps) + "/" +
      leaf;
  testing_support::TempDir work;
  const std::string upload =
      std::string(KORVANE_IMAP_UPLOAD) + " --count 6000 --batch 100 " + url;
  const std::string count = "$(doveadm -c " + TheServer().config +
                            " -f tab mailbox status -u korvane messages " +
                            leaf + " 2>/dev/null | sed -n 2p | cut -f2)";
  const std::string script =
      "export KORVANE_PASSWORD=test-password-1 KORVANE_CA_FILE=" +
      TheServer().caFile + "; last=0; for run in $(seq 1 20); do " + upload +
      " >/dev/null 2>&1 & pid=$!; for i in $(seq 1 600); do n=" + count +
      "; [ \"${n:-0}\" -ge $((last + 100)) ] && break; "
      "kill -0 $pid 2>/dev/null || break; sleep 0.02; done; "
      "kill -9 $pid 2>/dev/null; wait $pid; last=${n:-0}; done; "
      "echo killed at $last";
  const auto killed = RunProgram("sh", {"-c", script}, work.path());
  const size_t before = Fetch("korvane", leaf).size();
  EXPECT_GE(before, 20u * 100u) << killed.output;
  EXPECT_LT(before, 6000u) << killed.output;
  const auto again =
      RunProgram("sh",
                 {"-c", "KORVANE_PASSWORD=test-password-1 KORVANE_CA_FILE=" +
                            TheServer().caFile + " " + upload},
                 work.path());
  EXPECT_EQ(0, again.status) << again.output;
  unsigned long uploaded = 0, there = 0;
  ASSERT_EQ(2, sscanf(again.output.c_str(), "uploaded %lu, already there %lu",
                      &uploaded, &there))
      << again.output;
  EXPECT_GE(there, before);
  EXPECT_EQ(6000u, uploaded + there);
  std::set<std::string> ids;
  const std::vector<Stored> stored = Fetch("korvane", leaf);
  for (const Stored& s : stored) ids.insert(s.messageId);
  EXPECT_EQ(6000u, stored.size());
  EXPECT_EQ(6000u, ids.size());
}
#endif

}  // namespace

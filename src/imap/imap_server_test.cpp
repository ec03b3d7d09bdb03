// The uploader against a real server: the throwaway Dovecot of
// dovecot_test_server.sh (KORVANE_TEST_DOVECOT names its folder). What
// arrived is checked with doveadm, the server's own tool.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "bytes/modified_utf7.h"
#include "imap/imap_uploader.h"
#include "loopback.h"
#include "platform/win32.h"
#include "test_support.h"

namespace {

using testing_support::RunProgram;

struct Server {
  uint16_t imaps = 0, imap = 0;
  std::string caFile, config, folder;
};

const Server& TheServer() {
  static Server server;
  if (server.imaps) return server;
  const char* dir = getenv("KORVANE_TEST_DOVECOT");
  if (!dir) return server;
  server.folder = dir;
#ifdef _WIN32
  // Under Wine: the server's folder is a Linux path, Z: is its root.
  if (server.folder[0] == '/') server.folder = "Z:" + server.folder;
#endif
  std::ifstream env(server.folder + "/server.env");
  std::string line;
  while (std::getline(env, line)) {
    const std::string name = line.substr(0, line.find('='));
    const std::string value = line.substr(line.find('=') + 1);
    if (name == "imaps_port") server.imaps = static_cast<uint16_t>(stoi(value));
    if (name == "imap_port") server.imap = static_cast<uint16_t>(stoi(value));
    if (name == "ca_file") server.caFile = value;
#ifdef _WIN32
    if (name == "ca_file") server.caFile = "Z:" + value;
#endif
    if (name == "config") server.config = value;
  }
  return server;
}

ImapAccount Account(const std::string& user = "korvane",
                    const std::string& password = "test-password-1") {
  ImapAccount account;
  account.host = "127.0.0.1";
  account.port = TheServer().imaps;
  account.user = user;
  account.credentials.secret = password;
  account.caFile = TheServer().caFile;
  account.timeoutMs = 30000;
  return account;
}

// A message of about size bytes; the same n gives the same message.
ImapMessage Message(int n, size_t size = 600) {
  ImapMessage m;
  m.internalDate = 1000000000 + n * 3661;
  m.messageId = "<" + std::to_string(n) + "@server.test>";
  m.bytes = "From: a@example.org\r\nSubject: message " + std::to_string(n) +
            "\r\nMessage-ID: " + m.messageId + "\r\n\r\n";
  while (m.bytes.size() + 78 <= size)
    m.bytes += std::string(76, static_cast<char>('a' + n % 26)) + "\r\n";
  return m;
}

struct Stored {
  std::string date, flags, size, messageId;
};

// What doveadm finds in mailbox of user (names in UTF-8, "." between).
std::string DoveadmDate(int64_t seconds);

#ifndef _WIN32
// What doveadm finds in mailbox of user (names in UTF-8, "." between).
std::vector<Stored> Fetch(const std::string& user, const std::string& mailbox) {
  const auto result =
      RunProgram("doveadm",
                 {"-c", TheServer().config, "-f", "tab", "fetch", "-u", user,
                  "date.received flags size.virtual hdr.message-id", "mailbox",
                  mailbox, "all"},
                 TheServer().folder);
  std::vector<Stored> stored;
  std::istringstream lines(result.output);
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    Stored s;
    std::istringstream fields(line);
    std::getline(fields, s.date, '\t');
    std::getline(fields, s.flags, '\t');
    std::getline(fields, s.size, '\t');
    std::getline(fields, s.messageId, '\t');
    stored.push_back(s);
  }
  return stored;
}
#else
// Under Wine, where doveadm cannot be run: the same from the server's
// Maildir files, in the order of its UID list. The received date is the
// file's write time, the size with CR LF the name's W=, \Seen its "S".
std::vector<Stored> Fetch(const std::string& user, const std::string& mailbox) {
  std::string folder = TheServer().folder + "/home/" + user + "/Maildir";
  if (mailbox != "INBOX") {
    folder += "/";
    std::string part;
    std::istringstream names(mailbox);
    while (std::getline(names, part, '.')) folder += "." + ModifiedUtf7(part);
  }
  std::vector<Stored> stored;
  std::ifstream uids(folder + "/dovecot-uidlist");
  std::string line;
  std::getline(uids, line);  // the list's header
  while (std::getline(uids, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string base = line.substr(colon + 1);
    for (const char* sub : {"/cur/", "/new/"}) {
      WIN32_FIND_DATAA data;
      HANDLE h = FindFirstFileA((folder + sub + base + "*").c_str(), &data);
      if (h == INVALID_HANDLE_VALUE) continue;
      FindClose(h);
      const std::string name = data.cFileName;
      Stored s;
      const size_t w = name.find(",W=");
      s.size = name.substr(w + 3, name.find_first_of(":,", w + 3) - w - 3);
      const size_t info = name.find(":2,");
      if (info != std::string::npos &&
          name.find('S', info + 3) != std::string::npos)
        s.flags = "\\Seen";
      const uint64_t ticks =
          static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
          data.ftLastWriteTime.dwLowDateTime;
      s.date =
          DoveadmDate(static_cast<int64_t>(ticks / 10000000) - 11644473600);
      std::ifstream file(folder + sub + name, std::ios::binary);
      std::string header, text;
      while (std::getline(file, text) && text != "" && text != "\r")
        header += text + "\n";
      s.messageId = MessageIdOfFields(header);
      stored.push_back(s);
      break;
    }
  }
  return stored;
}
#endif

std::string DoveadmDate(int64_t seconds) {  // TZ=UTC in the test's environment
  char text[32];
  const time_t t = static_cast<time_t>(seconds);
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", gmtime(&t));
  return text;
}

std::string Unique(const std::string& name) {
  static int counter = 0;
  return name + "-" + std::to_string(time(nullptr) % 100000) + "-" +
         std::to_string(++counter);
}

struct UploadRun {
  ImapError error;
  UploadTotals totals;
  std::vector<UploadResult> results;
};

UploadRun Upload(const ImapAccount& account, const UploadSettings& settings,
                 const std::vector<std::string>& path,
                 const std::vector<ImapMessage>& messages) {
  UploadRun run;
  ImapUploader uploader(account, settings, [&](const UploadResult& r) {
    run.results.push_back(r);
  });
  run.error = uploader.Open(path);
  for (size_t i = 0; run.error.Ok() && i < messages.size(); ++i)
    run.error = uploader.Add(messages[i]);
  if (run.error.Ok()) run.error = uploader.Finish();
  run.totals = uploader.Totals();
  return run;
}

class ImapServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, TheServer().imaps)
        << "KORVANE_TEST_DOVECOT names no running test server";
  }
};

TEST_F(ImapServerTest, EveryMessageOnceWithItsDateAndSeen) {
  const struct {
    const char* name;
    bool implicitTls, multiappend, literalPlus;
  } kWays[] = {
      {"multiappend", true, true, true},
      {"literal-plus, STARTTLS", false, false, true},
      {"synchronizing", true, false, false},
      {"multiappend, synchronizing", false, true, false},
  };
  for (const auto& way : kWays) {
    SCOPED_TRACE(way.name);
    ImapAccount account = Account();
    account.implicitTls = way.implicitTls;
    account.port = way.implicitTls ? TheServer().imaps : TheServer().imap;
    UploadSettings settings;
    settings.multiappend = way.multiappend;
    settings.literalPlus = way.literalPlus;
    settings.batchMessages = 4;
    const std::string leaf = Unique(way.name);
    const std::vector<std::string> path = {
        "B\xc3\xbc"
        "cher \xce\xa9",
        leaf};
    // The same message twice: both copies go in.
    std::vector<ImapMessage> messages;
    for (int n : {1, 2, 3, 3, 4, 5, 6, 7, 8, 9}) messages.push_back(Message(n));
    UploadRun run = Upload(account, settings, path, messages);
    ASSERT_TRUE(run.error.Ok()) << run.error.text;
    EXPECT_EQ(10u, run.totals.uploaded);
    std::set<uint32_t> uids;
    for (const UploadResult& r : run.results) uids.insert(r.uid);
    EXPECT_EQ(10u, uids.size());  // UIDPLUS: each its own
    EXPECT_EQ(0u, uids.count(0));

    const std::vector<Stored> stored =
        Fetch("korvane", std::string("B\xc3\xbc"
                                     "cher \xce\xa9.") +
                             leaf);
    ASSERT_EQ(10u, stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
      EXPECT_EQ(DoveadmDate(messages[i].internalDate), stored[i].date);
      EXPECT_NE(std::string::npos, stored[i].flags.find("\\Seen"));
      EXPECT_EQ(std::to_string(messages[i].bytes.size()), stored[i].size);
      EXPECT_EQ(messages[i].messageId, stored[i].messageId);
    }
    // Again, with two more: what is there stays, the rest goes in.
    messages.push_back(Message(10));
    messages.push_back(Message(3));
    run = Upload(account, settings, path, messages);
    ASSERT_TRUE(run.error.Ok()) << run.error.text;
    EXPECT_EQ(10u, run.totals.alreadyThere);
    EXPECT_EQ(2u, run.totals.uploaded);
    EXPECT_EQ(12u, Fetch("korvane", std::string("B\xc3\xbc"
                                                "cher \xce\xa9.") +
                                        leaf)
                       .size());
  }
}

TEST_F(ImapServerTest, InboxInAnyCase) {
  const std::vector<ImapMessage> messages = {Message(40)};
  const size_t before = Fetch("korvane", "INBOX").size();
  const UploadRun run =
      Upload(Account(), UploadSettings(), {"iNbOx"}, messages);
  ASSERT_TRUE(run.error.Ok()) << run.error.text;
  EXPECT_EQ(before + 1, Fetch("korvane", "INBOX").size());
}

TEST_F(ImapServerTest, FailsBeforeAnyMessageIsSent) {
  // A server on imap:// that offers no STARTTLS.
  testing_support::ScriptedServer clearOnly(
      "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] clear text only\r\n",
      "TAG OK done\r\n");
  const struct {
    const char* name;
    std::function<void(ImapAccount*)> change;
    ImapFault fault;
    const char* says;  // part of the error
  } kCases[] = {
      {"wrong password",
       [](ImapAccount* a) { a->credentials.secret = "wrong-password"; },
       ImapFault::kLogin, "AUTHENTICATIONFAILED"},
      {"untrusted certificate", [](ImapAccount* a) { a->caFile.clear(); },
       ImapFault::kTls, "not trusted"},
      {"CA file missing",
       [](ImapAccount* a) { a->caFile = TheServer().folder + "/none.pem"; },
       ImapFault::kTls, "CA file"},
      {"certificate for another host",
       [](ImapAccount* a) { a->host = "127.0.0.2"; }, ImapFault::kTls,
       "another host"},
      {"TLS to a clear port",
       [](ImapAccount* a) { a->port = TheServer().imap; }, ImapFault::kTls,
       "handshake"},
      {"imap:// without STARTTLS",
       [&](ImapAccount* a) {
         a->implicitTls = false;
         a->port = clearOnly.port();
       },
       ImapFault::kNoStartTls, "STARTTLS"},
      {"OAuth2 token not accepted",
       [](ImapAccount* a) {
         a->user = "oauthuser";
         a->credentials.kind = ImapCredentials::kOAuth2Token;
         a->credentials.secret = "bad-token";
       },
       ImapFault::kLogin, "OAUTHBEARER"},
      {"nothing listens",
       [](ImapAccount* a) {
         testing_support::LoopbackListener gone;
         a->port = gone.port();
       },
       ImapFault::kNetwork, "refused"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ImapAccount account = Account();
    c.change(&account);
    const std::string leaf = Unique("refused");
    const UploadRun run =
        Upload(account, UploadSettings(), {leaf}, {Message(1)});
    EXPECT_EQ(c.fault, run.error.fault) << run.error.text;
    EXPECT_NE(std::string::npos, run.error.text.find(c.says)) << run.error.text;
    EXPECT_EQ(std::string::npos,
              run.error.text.find(account.credentials.secret));
    EXPECT_EQ(0u, run.totals.uploaded);
    EXPECT_TRUE(Fetch(account.user, leaf).empty());
  }
  // The clear-text server saw no login.
  EXPECT_EQ(std::string::npos, clearOnly.Received().find("LOGIN"));
  EXPECT_EQ(std::string::npos, clearOnly.Received().find("AUTHENTICATE"));
}

TEST_F(ImapServerTest, OAuth2Token) {
  ImapAccount account = Account("oauthuser", "good-token");
  account.credentials.kind = ImapCredentials::kOAuth2Token;
  const std::string leaf = Unique("oauth");
  const UploadRun run = Upload(account, UploadSettings(), {leaf}, {Message(1)});
  ASSERT_TRUE(run.error.Ok()) << run.error.text;
  EXPECT_EQ(1u, Fetch("oauthuser", leaf).size());
}

TEST_F(ImapServerTest, RefusedMessageIsReportedAndTheRestGoIn) {
  // The user "small" may store no message over 1 MB.
  for (const bool multiappend : {true, false}) {
    SCOPED_TRACE(multiappend ? "multiappend" : "one by one");
    UploadSettings settings;
    settings.multiappend = multiappend;
    const std::vector<ImapMessage> messages = {Message(1),
                                               Message(2),
                                               Message(3, 1536 * 1024),
                                               Message(4),
                                               Message(5, 1100 * 1024),
                                               Message(6)};
    const std::string leaf = Unique("limit");
    const UploadRun run =
        Upload(Account("small", "test-password-2"), settings, {leaf}, messages);
    ASSERT_TRUE(run.error.Ok()) << run.error.text;
    EXPECT_EQ(4u, run.totals.uploaded);
    EXPECT_EQ(2u, run.totals.refused);
    std::set<uint64_t> refused;
    for (const UploadResult& r : run.results) {
      if (r.outcome != UploadOutcome::kRefused) continue;
      refused.insert(r.number);
      EXPECT_NE(std::string::npos, r.serverText.find("NO")) << r.serverText;
    }
    EXPECT_EQ(std::set<uint64_t>({2, 4}), refused);
    EXPECT_EQ(4u, Fetch("small", leaf).size());
  }
}

TEST_F(ImapServerTest, NulBytesAndAFiftyMegabyteMessage) {
  ImapMessage nul = Message(1);
  nul.bytes.insert(nul.bytes.size() - 10, std::string("\0\0x\0", 4));
  const ImapMessage big = Message(2, 50 << 20);
  const struct {
    const char* name;
    bool binary;
    uint64_t nulsAsBlanks;
  } kWays[] = {{"BINARY", true, 0}, {"NUL bytes as blanks", false, 1}};
  for (const auto& way : kWays) {
    SCOPED_TRACE(way.name);
    UploadSettings settings;
    settings.binary = way.binary;
    const std::string leaf = Unique("nul");
    std::vector<ImapMessage> messages = {nul, Message(3)};
    if (way.binary) messages.push_back(big);
    UploadRun run = Upload(Account(), settings, {leaf}, messages);
    ASSERT_TRUE(run.error.Ok()) << run.error.text;
    EXPECT_EQ(messages.size(), run.totals.uploaded);
    EXPECT_EQ(way.nulsAsBlanks, run.totals.nulsAsBlanks);
    const std::vector<Stored> stored = Fetch("korvane", leaf);
    ASSERT_EQ(messages.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i)
      EXPECT_EQ(std::to_string(messages[i].bytes.size()), stored[i].size);
    // And the next run finds them there, NUL bytes or not.
    run = Upload(Account(), settings, {leaf}, messages);
    EXPECT_EQ(messages.size(), run.totals.alreadyThere);
  }
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
    ASSERT_TRUE(run.error.Ok()) << run.error.text;
    EXPECT_EQ(400u, run.totals.uploaded);
    EXPECT_GE(run.totals.reconnects, 1u);
    EXPECT_EQ(2, proxy.Connections());
    std::multiset<std::string> ids;
    for (const Stored& s : Fetch("korvane", leaf)) ids.insert(s.messageId);
    EXPECT_EQ(400u, ids.size());
    EXPECT_EQ(400u, std::set<std::string>(ids.begin(), ids.end()).size());
  }
}

TEST_F(ImapServerTest, GivesUpAfterItsTriesSayingHowFarItGot) {
  std::unique_ptr<testing_support::CuttingProxy> proxy(
      new testing_support::CuttingProxy(TheServer().imaps, UINT64_MAX));
  ImapAccount account = Account();
  account.port = proxy->port();
  UploadSettings settings;
  settings.firstPauseMs = 10;
  settings.tries = 2;
  ImapUploader uploader(account, settings, nullptr);
  ASSERT_TRUE(uploader.Open({Unique("give-up")}).Ok());
  ImapError error;
  int n = 0;
  while (error.Ok() && n < 200) error = uploader.Add(Message(n++));
  proxy.reset();  // the server is gone for good
  while (error.Ok() && n < 400) error = uploader.Add(Message(n++));
  if (error.Ok()) error = uploader.Finish();
  EXPECT_EQ(ImapFault::kGaveUp, error.fault) << error.text;
  EXPECT_NE(std::string::npos, error.text.find(" uploaded")) << error.text;
  EXPECT_EQ(2u, uploader.Totals().reconnects);
}

#ifndef _WIN32
TEST_F(ImapServerTest, KilledRunStartedAgainLeavesEveryMessageOnce) {
  const std::string leaf = Unique("killed");
  const std::string url =
      "imaps://korvane@127.0.0.1:" + std::to_string(TheServer().imaps) + "/" +
      leaf;
  testing_support::TempDir work;
  const std::string upload =
      std::string(KORVANE_IMAP_UPLOAD) + " --count 4000 --batch 50 " + url;
  // Killed once some of it has arrived.
  const std::string script =
      "export KORVANE_PASSWORD=test-password-1 KORVANE_CA_FILE=" +
      TheServer().caFile + "; " + upload + " >/dev/null 2>&1 & pid=$!; " +
      "for i in $(seq 1 200); do n=$(doveadm -c " + TheServer().config +
      " -f tab mailbox status -u korvane messages " + leaf +
      " 2>/dev/null | sed -n 2p | cut -f2); [ \"${n:-0}\" -ge 500 ] && break; "
      "sleep 0.05; done; kill -9 $pid; wait $pid; echo killed at $n; "
      // As a person would start it again: not within the millisecond in
      // which the server may still store the last batch it was sent.
      "sleep 1";
  const auto killed = RunProgram("sh", {"-c", script}, work.path());
  const size_t before = Fetch("korvane", leaf).size();
  EXPECT_GT(before, 0u) << killed.output;
  EXPECT_LT(before, 4000u) << killed.output;
  const auto again =
      RunProgram("sh",
                 {"-c", "KORVANE_PASSWORD=test-password-1 KORVANE_CA_FILE=" +
                            TheServer().caFile + " " + upload},
                 work.path());
  EXPECT_EQ(0, again.status) << again.output;
  // The server may still have taken a batch that was on its way.
  unsigned long uploaded = 0, there = 0;
  ASSERT_EQ(2, sscanf(again.output.c_str(), "uploaded %lu, already there %lu",
                      &uploaded, &there))
      << again.output;
  EXPECT_GE(there, before);
  EXPECT_EQ(4000u, uploaded + there);
  std::set<std::string> ids;
  const std::vector<Stored> stored = Fetch("korvane", leaf);
  for (const Stored& s : stored) ids.insert(s.messageId);
  EXPECT_EQ(4000u, stored.size());
  EXPECT_EQ(4000u, ids.size());
}
#endif

}  // namespace

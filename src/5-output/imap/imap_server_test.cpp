// The uploader against a real server: what arrives, with which date and
// flags, in which folder, and what a second run does.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "imap/imap_server_test_support.h"
#include "loopback.h"
#include "test_support.h"

namespace {

using namespace imap_testing;

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
    const std::vector<int> n = {1, 2, 3, 3, 4, 5, 6, 7, 8, 9};
    std::vector<ImapMessage> messages;
    for (const int i : n) messages.push_back(Message(i));
    UploadRun run = Upload(account, settings, path, messages);
    ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
    EXPECT_EQ(10u, run.tally.delivered);
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
      EXPECT_EQ(StoredSize(messages[i]), stored[i].size);
      EXPECT_EQ(MessageId(n[i]), stored[i].messageId);
    }
    // Again, with two more: what is there stays, the rest goes in.
    messages.push_back(Message(10));
    messages.push_back(Message(3));
    run = Upload(account, settings, path, messages);
    ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
    EXPECT_EQ(10u, run.tally.alreadyThere);
    EXPECT_EQ(2u, run.tally.delivered);
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
  ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
  EXPECT_EQ(before + 1, Fetch("korvane", "INBOX").size());
}

TEST_F(ImapServerTest, OAuth2Token) {
  // Dovecot offers both mechanisms; the client prefers OAUTHBEARER unless
  // told otherwise.
  for (const bool xoauth2 : {false, true}) {
    SCOPED_TRACE(xoauth2 ? "XOAUTH2" : "OAUTHBEARER");
    ImapAccount account = Account("oauthuser", "good-token");
    account.credentials.kind = ImapCredentials::kOAuth2Token;
    account.xoauth2 = xoauth2;
    const std::string leaf = Unique("oauth");
    UploadRun run = Upload(account, UploadSettings(), {leaf}, {Message(1)});
    ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
    EXPECT_EQ(1u, Fetch("oauthuser", leaf).size());
    account.credentials.secret = "bad-token";
    run = Upload(account, UploadSettings(), {leaf}, {Message(2)});
    EXPECT_EQ(StatusKind::kRefused, run.error.Kind()) << run.error.Text();
    EXPECT_NE(std::string::npos,
              run.error.Text().find(xoauth2 ? "(XOAUTH2)" : "(OAUTHBEARER)"))
        << run.error.Text();
  }
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
    ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
    EXPECT_EQ(4u, run.tally.delivered);
    EXPECT_EQ(2u, run.tally.refused);
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
    ASSERT_TRUE(run.error.IsOk()) << run.error.Text();
    EXPECT_EQ(messages.size(), run.tally.delivered);
    EXPECT_EQ(way.nulsAsBlanks, run.tally.nulsAsBlanks);
    const std::vector<Stored> stored = Fetch("korvane", leaf);
    ASSERT_EQ(messages.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i)
      EXPECT_EQ(StoredSize(messages[i]), stored[i].size);
    // And the next run finds them there, NUL bytes or not.
    run = Upload(Account(), settings, {leaf}, messages);
    EXPECT_EQ(messages.size(), run.tally.alreadyThere);
  }
}

}  // namespace

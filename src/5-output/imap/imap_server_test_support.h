// The throwaway Dovecot of dovecot_test_server.sh (KORVANE_TEST_DOVECOT
// names its folder) as the IMAP tests use it: accounts, messages, uploads,
// and what arrived, read with doveadm (under Wine, where doveadm cannot be
// run, from the server's Maildir files).
#ifndef KORVANE_IMAP_IMAP_SERVER_TEST_SUPPORT_H_
#define KORVANE_IMAP_IMAP_SERVER_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imap/imap_uploader.h"

namespace imap_testing {

struct Server {
  uint16_t imaps = 0, imap = 0;
  std::string caFile, config, folder;
};
const Server& TheServer();

ImapAccount Account(const std::string& user = "korvane",
                    const std::string& password = "test-password-1");

// A message of about size bytes; the same n gives the same message, with
// MessageId(n).
ImapMessage Message(int n, size_t size = 600);
std::string MessageId(int n);
// Its size in the folder: with the line of its identity.
std::string StoredSize(const ImapMessage& message);

struct Stored {
  std::string date, flags, size, messageId;
};
// What arrived in mailbox of user (names in UTF-8, "." between), in order.
std::vector<Stored> Fetch(const std::string& user, const std::string& mailbox);
// The messages of mailbox of user as the server's Maildir files hold them
// (LF line ends), in order; without the line of korvane's identity.
std::vector<std::string> StoredTexts(const std::string& user,
                                     const std::string& mailbox);
// text with every line end one LF, the last line ended too.
std::string LfLines(const std::string& text);
// seconds as doveadm shows a date (TZ=UTC in the tests' environment).
std::string DoveadmDate(int64_t seconds);
// name with a part that differs from test to test and run to run.
std::string Unique(const std::string& name);

struct UploadRun {
  Status error;
  DeliveryTally tally;
  uint64_t reconnects = 0;
  std::vector<UploadResult> results;
};
UploadRun Upload(const ImapAccount& account, const UploadSettings& settings,
                 const std::vector<std::string>& path,
                 const std::vector<ImapMessage>& messages);

class ImapServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, TheServer().imaps)
        << "KORVANE_TEST_DOVECOT names no running test server";
  }
};

}  // namespace imap_testing

#endif  // KORVANE_IMAP_IMAP_SERVER_TEST_SUPPORT_H_

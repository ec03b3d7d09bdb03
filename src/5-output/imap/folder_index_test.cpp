// The pieces of the skip rule: internal dates and Date: fields, the
// identity and the Message-ID as the one header reader reads them, the
// multiset and the candidates, and folder names as the server spells them.
#include "imap/folder_index.h"

#include <gtest/gtest.h>

#include "imap/imap_date.h"
#include "imap/imap_folder.h"
#include "platform/file_time.h"

namespace {

TEST(ImapDateTest, FormatAndParse) {
  const struct {
    int64_t seconds;
    const char* text;
  } kDates[] = {
      {1000000000, "09-Sep-2001 01:46:40 +0000"},
      {0, "01-Jan-1970 00:00:00 +0000"},
      {-1, "31-Dec-1969 23:59:59 +0000"},
      {951782400, "29-Feb-2000 00:00:00 +0000"},
      {253402300799, "31-Dec-9999 23:59:59 +0000"},
      {253402300800, "31-Dec-9999 23:59:59 +0000"},  // held to the form's end
  };
  for (const auto& c : kDates) {
    EXPECT_EQ(c.text, FormatImapDate(c.seconds)) << c.seconds;
    int64_t back = 0;
    EXPECT_TRUE(ParseImapDate(c.text, &back)) << c.text;
    EXPECT_EQ(std::min<int64_t>(c.seconds, 253402300799), back) << c.text;
  }
  const struct {
    const char* text;
    bool parses;
    int64_t seconds;
  } kParsed[] = {
      {" 9-Sep-2001 03:46:40 +0200", true, 1000000000},
      {"08-Sep-2001 20:16:40 -0530", true, 1000000000},
      {"09-Sep-2001 01:46:40", false, 0},
      {"09-Sep-2001 01:46:40 +0000 ", false, 0},
      {"32-Sep-2001 01:46:40 +0000", false, 0},
      {"09-Sip-2001 01:46:40 +0000", false, 0},
      {"09-epO-2001 01:46:40 +0000", false, 0},
      {"09-Sep-2001 24:00:00 +0000", false, 0},
      {"09-Sep-2001 01:46:40 *0000", false, 0},
  };
  for (const auto& c : kParsed) {
    int64_t seconds = 0;
    EXPECT_EQ(c.parses, ParseImapDate(c.text, &seconds)) << c.text;
    if (c.parses) {
      EXPECT_EQ(c.seconds, seconds) << c.text;
    }
  }
  // A message dated from the clock: its Date: field, else one fixed date.
  const struct {
    const char* field;
    int64_t seconds;
  } kFields[] = {
      {"Sun, 9 Sep 2001 03:46:40 +0200", 1000000000},
      {"9 sep 2001 01:46:40", 1000000000},
      {"Sat, 08 Sep 01 20:46:40 EST (comment)", 1000000000},
      {"Sun, 9 Sep 2001 01:46 GMT", 999999960},
      {"Sun, 31 Dec 1899 23:59:59 +0000", -2208988801},
      {"yesterday", kUndatedInternalDate},
      {"Sun, 9 Sep 2001", kUndatedInternalDate},
      {"32 Sep 2001 01:46:40 +0000", kUndatedInternalDate},
  };
  const FILETIME anyTime = {0, 0};
  for (const auto& c : kFields) {
    const std::string message =
        std::string("Subject: x\r\nDate: ") + c.field + "\r\n\r\nbody\r\n";
    EXPECT_EQ(c.seconds, UploadDate(anyTime, true, message)) << c.field;
  }
  EXPECT_EQ(kUndatedInternalDate, UploadDate(anyTime, true, "Subject: x\r\n"));
  const FILETIME y2001 =
      FileTimeOfTicks(kUnixEpochTicks + uint64_t(1000000000) * kTicksPerSecond);
  EXPECT_EQ(1000000000, UploadDate(y2001, false, "Date: 1 Jan 1990 0:0\r\n"));
}

TEST(FolderIndexTest, FieldsAndTheMultiset) {
  const std::string id(64, 'a'), other = std::string(63, 'a') + "b";
  // The same reader for the server's lines and for a whole message.
  const struct {
    std::string header;
    std::string identity, messageId;
  } kFields[] = {
      {"Message-ID: <a@b>\r\n\r\n", "", "<a@b>"},
      {"message-id:<a@b>\r\n", "", "<a@b>"},
      {"Message-ID : <spaced@b>\r\n", "", "<spaced@b>"},
      {"Message-Id:\r\n  <folded@b>\r\n\r\n", "", "<folded@b>"},
      {"Message-ID: <a@b>\r\nMessage-ID: <c@d>\r\n", "", "<a@b>"},
      {"Message-IDs: <x>\r\nMessage-ID: <y>\r\n", "", "<y>"},
      {"X-Korvane-Id: " + id + "\r\nMessage-ID: <y>\r\n\r\nbody", id, "<y>"},
      // A message that began with a continued line continues korvane's.
      {"x-korvane-id: " + std::string(64, 'A') + "\r\n more\r\n", id, ""},
      {"X-Korvane-Id: " + id + "0\r\n", "", ""},
      {"X-Korvane-Id: " + id.substr(1) + "g\r\n", "", ""},
      {"\r\nMessage-ID: <body@b>\r\n", "", ""},
      {"", "", ""},
  };
  for (const auto& c : kFields) {
    const IndexFields found = ReadIndexFields(c.header);
    EXPECT_EQ(c.identity, found.identity) << c.header;
    EXPECT_EQ(c.messageId, found.messageId) << c.header;
  }

  FolderIndex index;
  index.Add({1, id, "<a@b>", 300});
  index.Add({2, id, "<a@b>", 300});
  index.Add({3, "", "<a@b>", 300});
  index.Add({4, "", "<a@b>", 300});
  index.Add({5, "", "<a@b>", 301});
  EXPECT_EQ(5u, index.Count());
  EXPECT_TRUE(index.TakeIdentity(id));
  EXPECT_TRUE(index.TakeIdentity(id));
  EXPECT_FALSE(index.TakeIdentity(id));  // a third copy is not there
  EXPECT_FALSE(index.TakeIdentity(other));
  // Without an identity, Message-ID and size only name candidates.
  EXPECT_EQ(std::vector<uint32_t>({3, 4}), index.Candidates("<a@b>", 300));
  EXPECT_TRUE(index.TakeUid(4));
  EXPECT_FALSE(index.TakeUid(4));
  EXPECT_EQ(std::vector<uint32_t>({3}), index.Candidates("<a@b>", 300));
  EXPECT_TRUE(index.Candidates("<c@d>", 300).empty());
}

TEST(ImapFolderTest, MailboxNames) {
  const struct {
    std::vector<std::string> path;
    const char* separator;
    const char* mailbox;  // "" for refused
  } kNames[] = {
      {{}, ".", "INBOX"},
      {{"inBox"}, ".", "INBOX"},
      {{"Inbox", "Sub"}, "/", "INBOX/Sub"},
      {{"A", "Inbox"}, ".", "A.Inbox"},
      {{"B\xc3\xbc"
        "cher",
        "2001"},
       ".",
       "B&APw-cher.2001"},
      {{"Tom & Jerry"}, "/", "Tom &- Jerry"},
      {{"x.y"}, ".", ""},
      {{"x.y"}, "/", "x.y"},
      {{"a", ""}, "/", ""},
      {{"a", "b"}, "", ""},
      {{"a"}, "", "a"},
  };
  for (const auto& c : kNames) {
    std::string mailbox, why;
    const bool named = MailboxName(c.path, c.separator, &mailbox, &why);
    EXPECT_EQ(*c.mailbox != '\0', named) << c.mailbox << why;
    if (named) {
      EXPECT_EQ(c.mailbox, mailbox);
    }
    if (!named) {
      EXPECT_FALSE(why.empty());
    }
  }
  // What cannot be a quoted string is no mailbox argument at all.
  EXPECT_EQ("\"A \\\"b\\\"\\\\\"", QuotedMailbox("A \"b\"\\"));
  EXPECT_EQ("", QuotedMailbox("a\r\n1 DELETE INBOX"));
}

}  // namespace

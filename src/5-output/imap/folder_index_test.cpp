// The pieces of the skip rule: internal dates, the Message-ID as the
// server gives it, the multiset, and folder names as the server spells
// them.
#include "imap/folder_index.h"

#include <gtest/gtest.h>

#include "imap/imap_date.h"
#include "imap/imap_folder.h"

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
}

TEST(FolderIndexTest, MessageIdsAndTheMultiset) {
  const struct {
    const char* fields;
    const char* id;
  } kFields[] = {
      {"Message-ID: <a@b>\r\n\r\n", "<a@b>"},
      {"message-id:<a@b>\r\n", "<a@b>"},
      {"Message-Id:\r\n  <folded@b>\r\n\r\n", "<folded@b>"},
      {"Message-ID: <a@b>\r\nMessage-ID: <c@d>\r\n", "<a@b>"},
      {"Message-IDs: <x>\r\nMessage-ID: <y>\r\n", "<y>"},
      {"\r\n", ""},
      {"", ""},
  };
  for (const auto& c : kFields) EXPECT_EQ(c.id, MessageIdOfFields(c.fields));
  EXPECT_EQ("<a@b>", NormalizedMessageId(" \t<a@b>\r\n"));

  FolderIndex index;
  const MessageKey a{"<a@b>", 1000, 300}, b{"<a@b>", 1000, 301},
      c{"<a@b>", 1001, 300}, none{"", 1000, 300};
  index.Add(a);
  index.Add(a);
  index.Add(none);
  EXPECT_FALSE(index.Take(b));
  EXPECT_FALSE(index.Take(c));
  EXPECT_TRUE(index.Take(a));
  EXPECT_TRUE(index.Take(a));
  EXPECT_FALSE(index.Take(a));  // a third copy is not there
  EXPECT_TRUE(index.Take(none));
  EXPECT_EQ(0u, index.Unmatched());
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
}

}  // namespace

// The Maildir pieces: file and folder names, what may become a Maildir, and
// delivering a message into one.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "faulty_file_system.h"
#include "maildir/maildir_folder.h"
#include "maildir/maildir_name.h"
#include "maildir/maildir_plus.h"
#include "test_support.h"

namespace {

using testing_support::Fault;
using testing_support::FaultyFileSystem;
using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return {"!"};
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return names;
}

TEST(MaildirNameTest, UniqueAndDeliveredNames) {
  // 2001-09-09 01:46:40.123456 UTC, and 7 units more that are dropped.
  const uint64_t ticks = 126444736001234567;
  const FILETIME now = {static_cast<DWORD>(ticks),
                        static_cast<DWORD>(ticks >> 32)};
  const std::string unique = UniqueMessageName(now, 4711, 12, "host");
  EXPECT_EQ("1000000000.M123456P4711Q12.host", unique);
  EXPECT_EQ("1000000000.M123456P4711Q12.host,S=305:2,",
            DeliveredMessageName(unique, 305, true));
  EXPECT_EQ("1000000000.M123456P4711Q12.host,S=305",
            DeliveredMessageName(unique, 305, false));
  EXPECT_STREQ("cur", DeliveredFolder(true));
  EXPECT_STREQ("new", DeliveredFolder(false));

  const struct {
    const char* host;
    const char* part;
  } kHosts[] = {{"mail.example.org", "mail.example.org"},
                {"a/b:c,d", "a\\057b\\072c\\054d"},
                {"sp ace\x7f", "sp_ace_"},
                {"", "localhost"}};
  for (const auto& c : kHosts) EXPECT_EQ(c.part, HostNamePart(c.host));
  EXPECT_EQ(std::string::npos, LocalHostNamePart().find_first_of("/:, "));
}

TEST(MaildirPlusTest, FolderNames) {
  // Each as the IMAP server itself writes the name it is given.
  const struct {
    const char* name;
    const char* written;
  } kNames[] = {
      {"Archive 2001", "Archive 2001"},
      {"x.y", "x\\2ey"},
      {"a\\b", "a\\5cb"},
      {"~home", "\\7ehome"},
      {"a~b", "a~b"},
      {"a&b", "a&-b"},
      {"K\xc3\xb6ln", "K&APY-ln"},
      {"K\xc3\xb6.x", "K&APY-\\2ex"},
      {"\xc3\xa9.\\x", "&AOk-\\2e\\5cx"},
      {"\ttab", "&AAk-tab"},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "&ZeVnLIqe-"},
      {"\xf0\x9f\x98\x80", "&2D3eAA-"},  // beyond 16 bits: a surrogate pair
      {"\xff", "&AP8-"},                 // not UTF-8: the byte's number
      {"\xc0\x80", "&AMAAgA-"},          // an overlong NUL: two such bytes
      {"\xc3", "&AMM-"},                 // a cut sequence
      {"%*\"'", "%*\"'"},
  };
  for (const auto& c : kNames)
    EXPECT_EQ(c.written, MaildirPlusName(c.name)) << c.name;

  const struct {
    std::vector<std::string> path;
    const char* folder;
  } kPaths[] = {
      {{"A"}, ".A"},
      {{"A", "B.C", "D"}, ".A.B\\2eC.D"},
      {{"Inbox"}, ""},
      {{"iNBOX"}, ""},
      {{"Inbox", "X"}, ".INBOX.X"},
      {{"A", "Inbox"}, ".A.Inbox"},
      {{"Inboxes"}, ".Inboxes"},
  };
  for (const auto& c : kPaths)
    EXPECT_EQ(c.folder, MaildirPlusFolder(c.path)) << c.folder;
}

TEST(MaildirFolderTest, WhatMayBecomeAMaildir) {
  const auto mkdir = [](const std::string& p) {
    ASSERT_TRUE(CreateDirectoryA(p.c_str(), nullptr)) << p;
  };
  const auto maildir = [&](const std::string& p) {
    mkdir(p);
    for (const char* sub : {"cur", "new", "tmp"}) mkdir(JoinPath(p, sub));
  };
  const auto file = [](const std::string& p) {
    ASSERT_TRUE(testing_support::WriteFile(p, "x")) << p;
  };
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    MaildirTarget found;
  } kCases[] = {
      {"missing", [](const std::string&) {}, MaildirTarget::kMissing},
      {"empty folder", mkdir, MaildirTarget::kEmptyFolder},
      {"file", file, MaildirTarget::kNotAFolder},
      {"empty Maildir", maildir, MaildirTarget::kEmptyMaildir},
      {"Maildir with an index and a delivery left in tmp",
       [&](const std::string& p) {
         maildir(p);
         file(JoinPath(p, "dovecot-uidlist"));
         file(JoinPath(JoinPath(p, "tmp"), "1.M1P1Q1.h"));
       },
       MaildirTarget::kEmptyMaildir},
      {"message in cur",
       [&](const std::string& p) {
         maildir(p);
         file(JoinPath(JoinPath(p, "cur"), "1.M1P1Q1.h,S=1:2,"));
       },
       MaildirTarget::kNotEmpty},
      {"message in new",
       [&](const std::string& p) {
         maildir(p);
         file(JoinPath(JoinPath(p, "new"), "1.M1P1Q1.h"));
       },
       MaildirTarget::kNotEmpty},
      {"Maildir with a sub-folder",
       [&](const std::string& p) {
         maildir(p);
         maildir(JoinPath(p, ".A"));
       },
       MaildirTarget::kNotEmpty},
      {"cur alone",
       [&](const std::string& p) {
         mkdir(p);
         mkdir(JoinPath(p, "cur"));
       },
       MaildirTarget::kNotEmpty},
      {"folder with a file",
       [&](const std::string& p) {
         mkdir(p);
         file(JoinPath(p, "notes.txt"));
       },
       MaildirTarget::kNotEmpty},
      {"cur is a file",
       [&](const std::string& p) {
         mkdir(p);
         file(JoinPath(p, "cur"));
         mkdir(JoinPath(p, "new"));
         mkdir(JoinPath(p, "tmp"));
       },
       MaildirTarget::kNotEmpty},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    const std::string target = dir.File("out");
    c.make(target);
    const std::vector<std::string> before = Entries(target);
    DWORD error = 0xDEAD;
    EXPECT_EQ(c.found, InspectMaildirTarget(target, &error)) << c.what;
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, error) << c.what;
    EXPECT_EQ(before, Entries(target)) << c.what;
  }
}

TEST(MaildirFolderTest, CreatesFoldersAndDeliversIntoPlace) {
  TempDir dir;
  const std::string top = dir.File("out");
  const std::string sub = JoinPath(top, ".A");
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, CreateMaildir(top, false));
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, CreateMaildir(top, false));  // again: kept
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, CreateMaildir(sub, true));
  EXPECT_EQ(std::vector<std::string>{}, Entries(JoinPath(top, "cur")));
  EXPECT_TRUE(testing_support::FileExists(JoinPath(sub, "maildirfolder")));
  EXPECT_FALSE(testing_support::FileExists(JoinPath(top, "maildirfolder")));
  EXPECT_NE(DWORD{ERROR_SUCCESS}, CreateMaildir(dir.File("no/out"), false));

  // Two threads deliver into one folder; one message is abandoned.
  const uint64_t ticks = 126444736005000000;  // 2001-09-09 01:46:40.5
  const FILETIME when = {static_cast<DWORD>(ticks),
                         static_cast<DWORD>(ticks >> 32)};
  const auto deliver = [&](int count, std::vector<std::string>* names) {
    MaildirDelivery delivery(sub);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(DWORD{ERROR_SUCCESS}, delivery.Begin());
      const std::string text = "Subject: " + std::to_string(i) + "\n\nx\n";
      ASSERT_EQ(DWORD{ERROR_SUCCESS}, delivery.Write(text.data(), 10));
      ASSERT_EQ(DWORD{ERROR_SUCCESS},
                delivery.Write(text.data() + 10, text.size() - 10));
      if (i == 1) {
        delivery.Abandon();
        continue;
      }
      ASSERT_EQ(DWORD{ERROR_SUCCESS}, delivery.Finish(when));
      names->push_back(delivery.lastDelivered());
      EXPECT_EQ(text, ReadFileOrEmpty(JoinPath(sub, names->back().c_str())));
    }
  };
  std::vector<std::string> first, second;
  std::thread other(deliver, 50, &second);
  deliver(50, &first);
  other.join();

  const std::string folder = kColonInNames ? "cur" : "new";
  const std::regex form(folder +
                        "[/\\\\][0-9]+\\.M[0-9]+P[0-9]+Q[0-9]+\\.[^/]+" +
                        ",S=1[0-9]" + (kColonInNames ? ":2," : ""));
  std::set<std::string> all(first.begin(), first.end());
  all.insert(second.begin(), second.end());
  EXPECT_EQ(98u, all.size());
  for (const std::string& name : all)
    EXPECT_TRUE(std::regex_match(name, form)) << name;
  EXPECT_EQ(98u, Entries(JoinPath(sub, folder.c_str())).size());
  EXPECT_EQ(std::vector<std::string>{}, Entries(JoinPath(sub, "tmp")));
  // Every file carries the time given as its write time.
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(
      JoinPath(JoinPath(sub, folder.c_str()), "*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  do {
    if (data.cFileName[0] == '.') continue;
    EXPECT_EQ(ticks, uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                         data.ftLastWriteTime.dwLowDateTime);
  } while (FindNextFileA(h, &data));
  FindClose(h);
}

// Where the disk refuses, the step that meets it says why, and nothing is
// left in tmp/ or delivered half.
TEST(MaildirFolderTest, FailedDeliveriesLeaveNothing) {
  const struct {
    Fault fault;
    const char* name;
    int from;
    int failingStep;  // 0 Begin, 1 and 2 the writes, 3 Finish
    DWORD error;
  } kCases[] = {
      {Fault::kCreateFails, "", 1, 0, ERROR_ACCESS_DENIED},
      {Fault::kNameRefused, "", 1, 0, ERROR_INVALID_NAME},
      {Fault::kFolderGone, "tmp", 1, 0, ERROR_PATH_NOT_FOUND},
      {Fault::kDiskFull, "", 2, 2, ERROR_HANDLE_DISK_FULL},
      {Fault::kRenameFails, "", 1, 3, ERROR_ACCESS_DENIED},
  };
  const FILETIME when = {0, 30000000};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.failingStep);
    TempDir dir;
    const std::string folder = dir.File("out");
    ASSERT_EQ(DWORD{ERROR_SUCCESS}, CreateMaildir(folder, false));
    FaultyFileSystem faulty;
    faulty.Add({c.fault, c.name, c.from});
    {
      MaildirDelivery delivery(folder, &faulty);
      const DWORD results[] = {
          delivery.Begin(), delivery.Write("Subject: a\n", 11),
          delivery.Write("\nbody\n", 6), delivery.Finish(when)};
      EXPECT_EQ(results[c.failingStep], c.error);
      for (int step = 0; step < c.failingStep; ++step)
        EXPECT_EQ(results[step], DWORD{ERROR_SUCCESS}) << step;
    }
    EXPECT_GT(faulty.Failed(), 0);
    for (const char* sub : {"tmp", "cur", "new"})
      EXPECT_EQ(Entries(JoinPath(folder, sub)), std::vector<std::string>{})
          << sub;
  }
}

}  // namespace

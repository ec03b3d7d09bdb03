// korvane into the accounts of the big providers, end to end, against their
// stand-ins on loopback (src/5-output/imap/provider_stand_in.py, started
// with the test Dovecot, which stores what they take in): signing in by
// both flows and what refuses it. Runs under Wine too: the browser is
// korvane-test-browser, built for the same system.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base_builder.h"
#include "imap/imap_server_test_support.h"
#include "net/tcp_connection.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using namespace imap_testing;
using testing_support::ProgramResult;
using testing_support::RunKorvaneBinary;
using testing_support::TempDir;
using testing_support::WriteFile;

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());  // "" removes it
#else
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
#endif
}

// One line to the stand-ins' control port, its answer's fields.
std::map<std::string, std::string> Control(const std::string& line) {
  static uint16_t port = 0;
  if (port == 0) {
    std::ifstream env(TheServer().folder + "/server.env");
    std::string entry;
    while (std::getline(env, entry))
      if (entry.compare(0, 14, "stand_in_port=") == 0)
        port = static_cast<uint16_t>(std::stoi(entry.substr(14)));
  }
  std::map<std::string, std::string> fields;
  TcpConnection connection;
  if (connection.Connect("127.0.0.1", port, 10000) != NetStatus::kOk)
    return fields;
  const std::string sent = line + "\n";
  connection.Write(sent.data(), sent.size());
  std::string answer;
  char c;
  size_t got;
  while (connection.Read(&c, 1, &got) == NetStatus::kOk && c != '\n')
    answer += c;
  std::istringstream words(answer);
  std::string word;
  while (words >> word)
    fields[word.substr(0, word.find('='))] =
        word.find('=') == std::string::npos ? ""
                                            : word.substr(word.find('=') + 1);
  return fields;
}

// A provider's stand-in for one test, closed after it.
class StandIn {
 public:
  explicit StandIn(const std::string& settings) {
    const auto fields = Control("open " + settings);
    id = fields.count("id") ? fields.at("id") : "";
    imap = id.empty() ? 0 : std::stoi(fields.at("imap"));
    oauth = id.empty() ? 0 : std::stoi(fields.at("oauth"));
  }
  ~StandIn() {
    // A login the test Dovecot refused would make the stand-in fail where
    // the provider would not.
    if (!id.empty()) {
      EXPECT_EQ(0, Stat("upstream_refusals"));
    }
    Control("close " + id);
  }
  int Stat(const std::string& name) {
    const auto fields = Control("stats " + id);
    return fields.count(name) ? std::stoi(fields.at(name)) : -1;
  }
  std::string Endpoint(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(oauth) + "/" + path;
  }
  std::string Url(const std::string& folder) const {
    return "imaps://korvane@127.0.0.1:" + std::to_string(imap) + "/" + folder;
  }
  std::string id;
  int imap = 0, oauth = 0;
};

// The environment of a run against stand-in as provider: no password or
// token, the registration the stub knows, its endpoints, the test browser.
void SignInEnvironment(const StandIn& standIn, const std::string& provider,
                       const std::map<std::string, std::string>& more = {}) {
  std::map<std::string, std::string> env = {
      {"KORVANE_PASSWORD", ""},
      {"KORVANE_OAUTH2_TOKEN", ""},
      {"KORVANE_OAUTH2_REFRESH_TOKEN", ""},
      {"KORVANE_OAUTH2_FLOW", ""},
      {"KORVANE_CA_FILE", TheServer().caFile},
      {"KORVANE_PROVIDER", provider},
      {"KORVANE_OAUTH2_CLIENT_ID", "test-client"},
      {"KORVANE_OAUTH2_CLIENT_SECRET",
       provider == "google" ? "test-secret" : ""},
      {"KORVANE_OAUTH2_AUTHORIZE_URL", standIn.Endpoint("authorize")},
      {"KORVANE_OAUTH2_TOKEN_URL", standIn.Endpoint("token")},
      {"KORVANE_OAUTH2_DEVICE_URL",
       provider == "google" ? "" : standIn.Endpoint("devicecode")},
      {"KORVANE_BROWSER", KORVANE_TEST_BROWSER},
      {"KORVANE_TEST_BROWSER", ""},
      {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""},
  };
  for (const auto& m : more) env[m.first] = m.second;
  for (const auto& e : env) SetVariable(e.first.c_str(), e.second);
}

// A base of messages of about these sizes.
std::string Base(const std::string& tag, const std::vector<size_t>& sizes) {
  mkbase::BaseBuilder b;
  for (size_t n = 0; n < sizes.size(); ++n) {
    std::string text = "From: " + tag + "@example.org\r\nSubject: " + tag +
                       " " + std::to_string(n) + "\r\nMessage-ID: <" + tag +
                       "." + std::to_string(n) + "@korvane.test>\r\n\r\n";
    while (text.size() + 78 <= sizes[n]) text += std::string(76, 'x') + "\r\n";
    b.AddMessage(text, 1000000000u + 3600u * static_cast<uint32_t>(n));
  }
  return b.Build();
}

std::string Base(const std::string& tag, int count) {
  return Base(tag, std::vector<size_t>(size_t(count), 400));
}

class ProviderTest : public ImapServerTest {
 protected:
  TempDir dir;
};

TEST_F(ProviderTest, SignInByBothFlowsAndWhatRefusesIt) {
  ASSERT_TRUE(WriteFile(dir.File("in.tbb"), Base("signin", 3)));
  const std::string secret = "client_secret=test-secret ";
  const struct {
    const char* name;
    const char* provider;
    std::string standIn;  // settings
    std::map<std::string, std::string> env;
    int status;
    std::vector<std::string> says;  // in this order
    const char* stat;               // what the stand-in counted, and how often
    int times;
  } kCases[] = {
      {"browser",
       "google",
       secret,
       {},
       0,
       {"signing in to Google (Gmail) as korvane: the browser shows its "
        "page (if it did not open, open this address in one):\n  https://",
        "signed in to Google (Gmail) as korvane\n",
        ": 3 uploaded, 0 already there, 0 refused\n"},
       "code_exchanges",
       1},
      {"device code, as chosen",
       "microsoft",
       "device_pending=1",
       {{"KORVANE_OAUTH2_FLOW", "device"}},
       0,
       {"signing in to Microsoft (Outlook.com, Microsoft 365) as korvane: on "
        "any device, open https://127.0.0.1:",
        "/device and enter the code KRV-7391 (within 15 minutes)\n",
        "signed in to Microsoft", ": 3 uploaded"},
       "device_polls",
       2},
#ifndef _WIN32
      {"device code, as no browser can be opened",
       "microsoft",
       "",
       {{"KORVANE_BROWSER", ""}},
       0,
       {"enter the code KRV-7391", ": 3 uploaded"},
       "device_polls",
       1},
#endif
      {"a refresh token handed in",
       "google",
       secret + "refresh_token=tok-ref-given",
       {{"KORVANE_OAUTH2_REFRESH_TOKEN", "tok-ref-given"},
        {"KORVANE_BROWSER", "no-such-browser"}},
       0,
       {"signed in to Google (Gmail) as korvane\n", ": 3 uploaded"},
       "refreshes",
       1},
      {"a wrong state on the redirect",
       "google",
       secret,
       {{"KORVANE_TEST_BROWSER", "wrong-state"}},
       2,
       {"error: can't sign in to Google (Gmail) as korvane: the answer that "
        "came to korvane's listener belongs to no sign-in korvane started "
        "(its state differs): ignored, nothing signed in\n"},
       "authorizations",
       1},
      {"consent refused",
       "microsoft",
       "consent=deny",
       {},
       2,
       {"error: can't sign in to Microsoft (Outlook.com, Microsoft 365) as "
        "korvane: the sign-in was refused: access_denied (The user "
        "declined)\n"},
       "refused_consent",
       1},
      {"no client ID, Google",
       "google",
       "",
       {{"KORVANE_OAUTH2_CLIENT_ID", ""}},
       2,
       {"error: can't sign in to Google (Gmail) as korvane: this korvane has "
        "no OAuth2 client ID to sign in to Google (Gmail) with: register one "
        "and put it into KORVANE_OAUTH2_CLIENT_ID (its secret into "
        "KORVANE_OAUTH2_CLIENT_SECRET), as the README's \"Into Gmail\" "
        "shows\nhint: or use an app password (Google account, Security, App "
        "passwords) in KORVANE_PASSWORD\n"},
       "authorizations",
       0},
      {"no client ID, Microsoft",
       "microsoft",
       "",
       {{"KORVANE_OAUTH2_CLIENT_ID", ""}},
       2,
       {"client ID to sign in to Microsoft (Outlook.com, Microsoft 365) "
        "with: register one and put it into KORVANE_OAUTH2_CLIENT_ID, as the "
        "README's \"Into Outlook.com or Microsoft 365\" shows\nhint: "
        "Microsoft takes no password over IMAP"},
       "authorizations",
       0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    StandIn standIn("provider=" + std::string(c.provider) +
                    " client_id=test-client " + c.standIn);
    ASSERT_NE(0, standIn.imap);
    SignInEnvironment(standIn, c.provider, c.env);
    const std::string folder = Unique("signin");
    const std::string log = Unique("log") + ".jsonl";
    const ProgramResult run = RunKorvaneBinary(
        {"in.tbb", standIn.Url(folder), "--log", log}, dir.path());
    EXPECT_EQ(c.status, run.status) << run.output;
    size_t at = 0;
    for (const std::string& part : c.says) {
      at = run.output.find(part, at);
      EXPECT_NE(std::string::npos, at) << part << "\n" << run.output;
    }
    // No token, code or secret in what it printed or logged.
    const std::string logged = testing_support::ReadFileOrEmpty(dir.File(log));
    for (const char* secret : {"tok-", "test-secret"}) {
      EXPECT_EQ(std::string::npos, run.output.find(secret)) << run.output;
      EXPECT_EQ(std::string::npos, logged.find(secret)) << logged;
    }
    EXPECT_EQ(c.times, standIn.Stat(c.stat)) << c.stat;
    EXPECT_EQ(0, standIn.Stat("pkce_failures"));
    EXPECT_EQ(c.status == 0 ? 3u : 0u, Fetch("korvane", folder).size());
  }
}

#ifndef _WIN32
TEST_F(ProviderTest, CtrlCEndsTheWaitForTheSignIn) {
  // A browser that never answers, a device code never entered: Ctrl-C
  // ends the wait (of up to 5 and 15 minutes) and the run at once.
  ASSERT_TRUE(WriteFile(dir.File("in.tbb"), Base("ctrlc", 1)));
  const struct {
    const char* provider;
    const char* standIn;  // settings
    std::map<std::string, std::string> env;
    const char* waiting;  // the line it waits after
  } kCases[] = {
      {"google",
       "client_secret=test-secret",
       {{"KORVANE_BROWSER", "true"}},
       "the browser shows its page"},
      {"microsoft",
       "device_pending=100000",
       {{"KORVANE_OAUTH2_FLOW", "device"}},
       "enter the code KRV-7391"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.provider);
    StandIn standIn("provider=" + std::string(c.provider) +
                    " client_id=test-client " + c.standIn);
    SignInEnvironment(standIn, c.provider, c.env);
    const std::string script =
        "'" + std::string(KORVANE_BINARY) + "' in.tbb '" +
        standIn.Url(Unique("ctrlc")) +
        "' >out 2>&1 & pid=$!; (sleep 30; kill -KILL $pid) >/dev/null 2>&1 & "
        "dog=$!; "
        "for i in $(seq 1 1000); do grep -q '" +
        c.waiting +
        "' out && break; sleep 0.01; done; start=$(date +%s); "
        "kill -INT $pid; wait $pid; echo \"status $? after "
        "$(($(date +%s) - start)) s\" >>out; kill $dog; cat out";
    const ProgramResult run =
        testing_support::RunProgram("sh", {"-c", script}, dir.path());
    EXPECT_NE(std::string::npos, run.output.find(c.waiting)) << run.output;
    EXPECT_TRUE(std::regex_search(run.output,
                                  std::regex("status 130 after [0-3] s\n$")))
        << run.output;
    EXPECT_EQ(0, standIn.Stat("logins"));
  }
}
#endif

TEST_F(ProviderTest, LimitsOfOneBase) {
  const struct {
    const char* name;
    const char* provider;
    std::string standIn;
    std::vector<size_t> sizes;
    int status;
    std::vector<std::string> says;
    size_t arrive;
    const char* stat;  // what the stand-in counted, at least once, at most
    int most;          // this often
  } kCases[] = {
      {"too big for the server's APPENDLIMIT: not sent",
       "google",
       "client_secret=test-secret appendlimit=2000",
       {400, 3000, 400, 3000, 400},
       2,
       {"refused: message 2: not sent: ",
        " bytes, more than the 2000 the server takes (its APPENDLIMIT)\n",
        "refused: message 4: not sent: ",
        ": 3 uploaded, 0 already there, 2 refused\n"},
       3,
       "over_appendlimit",
       0},
      // Every tenth APPEND, and each during the pause it asks for, is
      // turned down; a client that did not wait would be turned down
      // hundreds of times.
      {"throttled: waited as asked, nothing lost",
       "microsoft",
       "throttle_every=10 backoff_ms=400",
       std::vector<size_t>(30, 400),
       0,
       {"the server asked for a pause (BAD Request is throttled. Suggested "
        "Backoff Time: 400 milliseconds): waiting 1 second each time it "
        "asks, then going on; nothing is lost\n",
        ": 30 uploaded, 0 already there, 0 refused\n"},
       30,
       "throttled",
       100},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    StandIn standIn("provider=" + std::string(c.provider) +
                    " client_id=test-client refresh_token=tok-ref-given " +
                    c.standIn);
    SignInEnvironment(standIn, c.provider,
                      {{"KORVANE_OAUTH2_REFRESH_TOKEN", "tok-ref-given"}});
    const std::string folder = Unique("limits");
    ASSERT_TRUE(WriteFile(dir.File("in.tbb"), Base(folder, c.sizes)));
    const ProgramResult run =
        RunKorvaneBinary({"in.tbb", standIn.Url(folder)}, dir.path());
    EXPECT_EQ(c.status, run.status) << run.output;
    size_t at = 0;
    for (const std::string& part : c.says) {
      at = run.output.find(part, at);
      EXPECT_NE(std::string::npos, at) << part << "\n" << run.output;
    }
    const int counted = standIn.Stat(c.stat);
    EXPECT_LE(c.most == 0 ? 0 : 1, counted) << c.stat;
    EXPECT_GE(c.most, counted) << c.stat;
    std::set<std::string> ids;
    const std::vector<Stored> stored = Fetch("korvane", folder);
    for (const Stored& s : stored) ids.insert(s.messageId);
    EXPECT_EQ(c.arrive, stored.size());
    EXPECT_EQ(c.arrive, ids.size());
  }
}

// A tree's folders, each with a base of count messages (Message-IDs of
// their own for each run) below dir/Mail.
void Tree(const std::string& dir,
          const std::vector<std::pair<std::string, int>>& folders) {
  const std::string tag = Unique("tree");
  for (const auto& f : folders) {
    const fs::path folder = fs::u8path(dir) / fs::u8path("Mail/" + f.first);
    fs::create_directories(folder);
    ASSERT_TRUE(WriteFile((folder / "messages.tbb").u8string(),
                          Base(tag + f.first, f.second)));
  }
}

// What arrived in each of a tree's folders below parent: every message of
// the base once.
void ExpectEachOnce(const std::string& parent,
                    const std::vector<std::pair<std::string, int>>& folders) {
  for (const auto& f : folders) {
    SCOPED_TRACE(f.first);
    std::set<std::string> ids;
    const std::vector<Stored> stored = Fetch("korvane", parent + "." + f.first);
    for (const Stored& s : stored) ids.insert(s.messageId);
    EXPECT_EQ(size_t(f.second), stored.size());
    EXPECT_EQ(size_t(f.second), ids.size());
  }
}

TEST_F(ProviderTest, TokenRunsOutInTheMiddleOfATreeAndIsRenewed) {
  // Signed in once; the token is good for 40 messages, the tree has 60 in
  // two bases uploaded at once. Each connection the server drops logs in
  // again with a renewed token, without asking; both share one renewal.
  StandIn exchange("provider=microsoft client_id=test-client expire_after=40");
  SignInEnvironment(exchange, "microsoft");
  const std::vector<std::pair<std::string, int>> folders = {{"One", 30},
                                                            {"Two", 30}};
  Tree(dir.path(), folders);
  const std::string parent = Unique("expiry");
  const ProgramResult run =
      RunKorvaneBinary({"Mail", exchange.Url(parent), "-r", "-j2"}, dir.path());
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("60 uploaded, 0 already there, 0 refused\n"))
      << run.output;
  EXPECT_EQ(1, exchange.Stat("code_exchanges"));
  EXPECT_EQ(1, exchange.Stat("refreshes"));
  EXPECT_LE(1, exchange.Stat("expired_sessions"));
  ExpectEachOnce(parent, folders);
}

TEST_F(ProviderTest, DailyLimitStopsTheRunAndTheNextDayCarriesOn) {
  // Gmail's limit scaled down: 6,000 bytes a day, 8,000 to upload.
  StandIn gmail(
      "provider=google client_id=test-client client_secret=test-secret "
      "refresh_token=tok-ref-given daily_bytes=6000");
  SignInEnvironment(gmail, "google",
                    {{"KORVANE_OAUTH2_REFRESH_TOKEN", "tok-ref-given"}});
  const std::vector<std::pair<std::string, int>> folders = {{"One", 10},
                                                            {"Two", 10}};
  Tree(dir.path(), folders);
  const std::string parent = Unique("daily");
  const std::vector<std::string> args = {"Mail", gmail.Url(parent), "-r",
                                         "-j2"};
  ProgramResult run = RunKorvaneBinary(args, dir.path());
  EXPECT_EQ(3, run.status) << run.output;
  const std::regex stopped(
      "\nstopped: imaps://korvane@127\\.0\\.0\\.1:[0-9]+/" + parent +
      "/(One|Two): Google \\(Gmail\\)'s daily limit was reached \\(NO "
      "\\[OVERQUOTA\\] Account exceeded command or bandwidth limits\\. "
      "\\(Failure\\)\\); ([0-9]+) messages \\(([0-9.]+) KiB\\) went in "
      "today\nhint: run the same command again tomorrow: it carries on where "
      "this one stopped and sends nothing twice\n$");
  std::smatch said;
  ASSERT_TRUE(std::regex_search(run.output, said, stopped)) << run.output;
  EXPECT_TRUE(std::regex_search(
      run.output, std::regex("\nuploading [0-9.]+ KiB into 127\\.0\\.0\\.1: "
                             "at Google \\(Gmail\\)'s daily limit, about 1 "
                             "day\n")))
      << run.output;
  const size_t first = Fetch("korvane", parent + ".One").size() +
                       Fetch("korvane", parent + ".Two").size();
  EXPECT_EQ(std::to_string(first), said[2].str());
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, 20u);
  // The next day: the same command sends the rest, nothing twice.
  Control("nextday " + gmail.id);
  run = RunKorvaneBinary(args, dir.path());
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(
      std::string::npos,
      run.output.find(std::to_string(20 - first) + " uploaded, " +
                      std::to_string(first) + " already there, 0 refused\n"))
      << run.output;
  ExpectEachOnce(parent, folders);
}

TEST_F(ProviderTest, MoreJobsThanTheProviderTakesConnections) {
  StandIn gmail(
      "provider=google client_id=test-client client_secret=test-secret "
      "refresh_token=tok-ref-given cap=15");
  SignInEnvironment(gmail, "google",
                    {{"KORVANE_OAUTH2_REFRESH_TOKEN", "tok-ref-given"}});
  std::vector<std::pair<std::string, int>> folders;
  for (int i = 0; i < 20; ++i) folders.push_back({"F" + std::to_string(i), 2});
  Tree(dir.path(), folders);
  const std::string parent = Unique("cap");
  const ProgramResult run =
      RunKorvaneBinary({"Mail", gmail.Url(parent), "-r", "-j32"}, dir.path());
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("at most 15 bases at once: Google (Gmail) takes "
                            "no more than 15 connections at once\n"))
      << run.output;
  EXPECT_GE(15, gmail.Stat("most_at_once"));
  EXPECT_EQ(0, gmail.Stat("over_cap"));
  ExpectEachOnce(parent, folders);
}

TEST_F(ProviderTest, FolderNamesTheProviderKeepsOrTakesForOne) {
  // Gmail's own folders are below "[Gmail]" at the account's top: that
  // folder of the tree becomes folder-N there.
  {
    StandIn gmail(
        "provider=google client_id=test-client "
        "client_secret=test-secret refresh_token=tok-ref-given");
    SignInEnvironment(gmail, "google",
                      {{"KORVANE_OAUTH2_REFRESH_TOKEN", "tok-ref-given"}});
    Tree(dir.path(), {{"[Gmail]", 2}});
    const size_t before = Fetch("korvane", "folder-1").size();
    const ProgramResult run =
        RunKorvaneBinary({"Mail", gmail.Url(""), "-r"}, dir.path());
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(std::string::npos,
              run.output.find("(written as folder-1: the name \"[Gmail]\" "
                              "cannot be used there: Gmail keeps the folder "
                              "\"[Gmail]\" for its own folders)"))
        << run.output;
    EXPECT_EQ(before + 2, Fetch("korvane", "folder-1").size());
  }
#ifndef _WIN32
  // Exchange takes "Ärger" and "ärger" for one folder: the second gets a
  // name of its own. (Windows' file system, Wine's too, holds only one.)
  StandIn exchange(
      "provider=microsoft client_id=test-client "
      "refresh_token=tok-ref-given");
  SignInEnvironment(exchange, "microsoft",
                    {{"KORVANE_OAUTH2_REFRESH_TOKEN", "tok-ref-given"}});
  const std::string parent = Unique("case");
  Tree(dir.path(), {{u8"\u00c4rger", 2}, {u8"\u00e4rger", 3}});
  const ProgramResult run =
      RunKorvaneBinary({"Mail", exchange.Url(parent), "-r"}, dir.path());
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_EQ(2u, Fetch("korvane", parent + u8".\u00c4rger").size());
  EXPECT_EQ(3u, Fetch("korvane", parent + u8".\u00e4rger-2").size())
      << run.output;
#endif
}

}  // namespace

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "http/form.h"
#include "oauth2/oauth2_flows.h"
#include "oauth2/pkce.h"
#include "oauth2/refreshing_tokens.h"

namespace {

TEST(OAuth2AnswerTest, AnythingAServerSendsIsReadWithoutFailing) {
  const struct {
    const char* name;
    std::string body;
    bool object;
    const char* access;
    int64_t expiresIn;
    const char* error;
  } kCases[] = {
      {"tokens",
       R"({"access_token":"at","refresh_token":"rt","expires_in":3599,)"
       R"("token_type":"Bearer"})",
       true, "at", 3599, ""},
      {"seconds as a numeral", R"({"access_token":"at","expires_in":"60"})",
       true, "at", 60, ""},
      {"error", R"({"error":"invalid_grant","error_description":"x"})", true,
       "", 0, "invalid_grant"},
      {"wrong types", R"({"access_token":5,"expires_in":"soon","error":["a"]})",
       true, "", 0, ""},
      {"absurd numbers", R"({"access_token":"a","expires_in":1e300})", true,
       "a", 366 * 86400, ""},
      {"negative", R"({"access_token":"a","expires_in":-5})", true, "a", 0, ""},
      {"not an object", R"(["access_token","at"])", false, "", 0, ""},
      {"not JSON", "<html>Bad gateway</html>", false, "", 0, ""},
      {"cut", R"({"access_token":"a)", false, "", 0, ""},
      {"empty", "", false, "", 0, ""},
      {"deep", std::string(100000, '[') + std::string(100000, ']'), false, "",
       0, ""},
      {"NUL and bad UTF-8", std::string("{\"access_token\":\"a\0\xff\"}", 22),
       false, "", 0, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TokenAnswer answer;
    ASSERT_EQ(c.object, ParseTokenAnswer(c.body, &answer));
    if (!c.object) continue;
    EXPECT_EQ(c.access, answer.accessToken);
    EXPECT_EQ(c.expiresIn, answer.expiresIn);
    EXPECT_EQ(c.error, answer.error);
  }
}

TEST(PkceTest, ChallengeIsTheVerifiersHash) {
  // As Python's hashlib and base64.urlsafe_b64encode make it.
  EXPECT_EQ("8IUGUwLAn2GETC_37YSw2Y1ynnLc4BngU3EwOdVmaj4",
            PkceChallenge("dBjftJeZ4CVP-mJ92K9qkYcbFcKUYiEvXqN9eQEvSig"));
  Pkce a, b;
  ASSERT_TRUE(MakePkce(&a).IsOk());
  ASSERT_TRUE(MakePkce(&b).IsOk());
  EXPECT_EQ(43u, a.verifier.size());
  EXPECT_EQ(std::string::npos,
            a.verifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij"
                                         "klmnopqrstuvwxyz0123456789-_"));
  EXPECT_NE(a.verifier, b.verifier);
  EXPECT_NE(a.state, b.state);
  EXPECT_EQ(PkceChallenge(a.verifier), a.challenge);
}

// Answers given in turn, requests kept; from any thread.
class ScriptedHttp : public HttpClient {
 public:
  void Add(int status, const std::string& body) {
    answers.push_back({status, body});
  }
  Status Send(const HttpRequest& request, HttpResponse* response) override {
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(ParseForm(request.body));
    if (answers.empty())
      return Status::Of(StatusKind::kConnectionLost, "no more answers");
    *response = HttpResponse();
    response->status = answers.front().first;
    response->body = answers.front().second;
    answers.pop_front();
    return Status::Ok();
  }
  std::mutex mutex;
  std::deque<std::pair<int, std::string>> answers;
  std::vector<FormFields> requests;
};

class NoEvents : public SignInEvents {
 public:
  void OpenPage(const std::string&, bool) override {}
  void EnterCode(const std::string& page, const std::string& code,
                 int64_t expiresIn) override {
    shown = page + " " + code + " " + std::to_string(expiresIn);
  }
  std::string shown;
};

OAuth2Settings Settings() {
  OAuth2Settings s;
  s.tokenUrl = "https://login.example.com/token";
  s.deviceUrl = "https://login.example.com/device";
  s.clientId = "client-1";
  s.clientSecret = "secret-1";
  s.scope = "mail offline_access";
  return s;
}

const char kDevice[] =
    R"({"device_code":"dc-1","user_code":"ABCD-EFGH",)"
    R"("verification_uri":"https://login.example.com/device","expires_in":60,)"
    R"("interval":2})";

TEST(DeviceFlowTest, AsksAsTheEndpointSays) {
  const std::string pending = R"({"error":"authorization_pending"})";
  const std::string slow = R"({"error":"slow_down"})";
  const struct {
    const char* name;
    std::vector<std::pair<int, std::string>> polls;
    std::vector<int64_t> pauses;  // seconds
    StatusKind outcome;
  } kCases[] = {
      {"pending, slow down, signed in",
       {{400, pending},
        {400, slow},
        {400, pending},
        {200, R"({"access_token":"at"})"}},
       {2, 2, 7, 7},
       StatusKind::kOk},
      {"refused",
       {{400, pending}, {400, R"({"error":"access_denied"})"}},
       {2, 2},
       StatusKind::kRefused},
      {"ran out at the server",
       {{400, R"({"error":"expired_token"})"}},
       {2},
       StatusKind::kTimedOut},
      // 60 seconds of life: the slow downs leave no time for a fifth ask.
      {"ran out here",
       {{400, slow}, {400, slow}, {400, slow}, {400, slow}, {400, slow}},
       {2, 7, 12, 17, 22},
       StatusKind::kTimedOut},
      {"a broken answer", {{502, "<html>"}}, {2}, StatusKind::kBadInput},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedHttp http;
    http.Add(200, kDevice);
    for (const auto& poll : c.polls) http.Add(poll.first, poll.second);
    std::vector<int64_t> pauses;
    NoEvents events;
    TokenAnswer answer;
    const Status status = DeviceFlow(
        Settings(), &http, &events,
        [&](int64_t ms) {
          pauses.push_back(ms / 1000);
          return true;
        },
        &answer);
    EXPECT_EQ(c.outcome, status.Kind()) << status.Text();
    EXPECT_EQ(c.pauses, pauses);
    EXPECT_EQ("https://login.example.com/device ABCD-EFGH 60", events.shown);
    for (size_t i = 1; i < http.requests.size(); ++i) {
      EXPECT_EQ("dc-1", FormValue(http.requests[i], "device_code"));
      EXPECT_EQ("urn:ietf:params:oauth:grant-type:device_code",
                FormValue(http.requests[i], "grant_type"));
    }
    for (const char* secret : {"dc-1", "secret-1", "at"})
      EXPECT_EQ(std::string::npos, status.Text().find(secret));
  }
}

TEST(RefreshingTokensTest, ConcurrentConnectionsShareOneRenewal) {
  int64_t clock = 0;
  std::unique_ptr<ScriptedHttp> owned(new ScriptedHttp);
  ScriptedHttp* http = owned.get();
  http->Add(200, R"({"access_token":"second","expires_in":3600})");
  http->Add(200, R"({"access_token":"third","refresh_token":"rt-2"})");
  http->Add(400, R"({"error":"invalid_grant","error_description":"revoked"})");
  TokenAnswer first;
  first.accessToken = "first";
  first.refreshToken = "rt-1";
  first.expiresIn = 3600;
  RefreshingTokens tokens(Settings(), std::move(owned), first,
                          [&] { return clock; });
  std::string token;
  ASSERT_TRUE(tokens.Token(&token).IsOk());
  EXPECT_EQ("first", token);
  // Eight connections told at once that "first" is no good: one renewal.
  std::vector<std::thread> threads;
  std::vector<std::string> got(8);
  for (size_t i = 0; i < got.size(); ++i)
    threads.emplace_back([&, i] { tokens.Renew("first", &got[i]); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(std::vector<std::string>(8, "second"), got);
  EXPECT_EQ(1, tokens.Renewals());
  EXPECT_EQ("rt-1", FormValue(http->requests[0], "refresh_token"));
  // Near its end, the next connection gets a renewed one; a new refresh
  // token is kept.
  clock = 3600 * 1000 - 4 * 60 * 1000;
  ASSERT_TRUE(tokens.Token(&token).IsOk());
  EXPECT_EQ("third", token);
  const Status refused = tokens.Renew("third", &token);
  EXPECT_EQ(StatusKind::kRefused, refused.Kind());
  EXPECT_NE(std::string::npos, refused.Text().find("invalid_grant (revoked)"));
  EXPECT_EQ("rt-2", FormValue(http->requests[2], "refresh_token"));
  for (const char* secret : {"rt-", "secret-1", "third"})
    EXPECT_EQ(std::string::npos, refused.Text().find(secret)) << refused.Text();
}

}  // namespace

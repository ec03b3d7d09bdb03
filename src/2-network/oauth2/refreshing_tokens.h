// The tokens of a signed-in account for one run: the access token handed
// out until shortly before it runs out, then renewed with the refresh
// token, once for every connection that asks at the same time.
#ifndef KORVANE_OAUTH2_REFRESHING_TOKENS_H_
#define KORVANE_OAUTH2_REFRESHING_TOKENS_H_

#include <stdint.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "account/access_tokens.h"
#include "http/http_client.h"
#include "oauth2/oauth2_answers.h"
#include "oauth2/oauth2_settings.h"

class RefreshingTokens : public AccessTokens {
 public:
  // Milliseconds on a clock that only goes forward.
  typedef std::function<int64_t()> Clock;

  // first: the answer of the sign-in; a refresh token it lacks is taken
  // from settings (one handed in).
  RefreshingTokens(const OAuth2Settings& settings,
                   std::unique_ptr<HttpClient> http, const TokenAnswer& first,
                   Clock now);

  Status Token(std::string* token) override;
  Status Renew(const std::string& refused, std::string* token) override;

  // How many times the access token was renewed.
  int Renewals();

 private:
  void Take(const TokenAnswer& answer);
  Status RenewLocked();

  OAuth2Settings settings;
  std::unique_ptr<HttpClient> http;
  Clock now;
  std::mutex mutex;
  std::string accessToken, refreshToken;
  int64_t renewAt = 0;  // on now's clock; 0 for never
  int renewals = 0;
};

// A clock for RefreshingTokens: the system's steady one.
int64_t SteadyMilliseconds();

#endif  // KORVANE_OAUTH2_REFRESHING_TOKENS_H_

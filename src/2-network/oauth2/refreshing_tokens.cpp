#include "oauth2/refreshing_tokens.h"

#include <chrono>

#include "oauth2/oauth2_flows.h"

namespace {

// Renewed this long before it runs out (or at a tenth of a short life), so
// that a connection never logs in with a token about to end.
const int64_t kMarginMs = 5 * 60 * 1000;

}  // namespace

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

RefreshingTokens::RefreshingTokens(const OAuth2Settings& settings,
                                   std::unique_ptr<HttpClient> http,
                                   const TokenAnswer& first, Clock now)
    : settings(settings), http(std::move(http)), now(now) {
  refreshToken = settings.refreshToken;
  Take(first);
}

void RefreshingTokens::Take(const TokenAnswer& answer) {
  accessToken = answer.accessToken;
  // A provider may hand out a new refresh token with each renewal.
  if (!answer.refreshToken.empty()) refreshToken = answer.refreshToken;
  if (answer.expiresIn > 0) {
    const int64_t life = answer.expiresIn * 1000;
    renewAt = now() + life - (life / 10 < kMarginMs ? life / 10 : kMarginMs);
  } else {
    renewAt = 0;
  }
}

Status RefreshingTokens::RenewLocked() {
  if (refreshToken.empty())
    return Status::Of(StatusKind::kRefused,
                      "the sign-in has run out and came without a way to "
                      "renew it: run korvane again to sign in");
  TokenAnswer answer;
  const Status status =
      RefreshFlow(settings, http.get(), refreshToken, &answer);
  if (!status.IsOk()) return status.Within("the sign-in could not be renewed");
  Take(answer);
  ++renewals;
  return Status::Ok();
}

Status RefreshingTokens::Token(std::string* token) {
  std::lock_guard<std::mutex> lock(mutex);
  if (renewAt != 0 && now() >= renewAt) {
    const Status status = RenewLocked();
    if (!status.IsOk()) return status;
  }
  *token = accessToken;
  return Status::Ok();
}

Status RefreshingTokens::Renew(const std::string& refused, std::string* token) {
  std::lock_guard<std::mutex> lock(mutex);
  if (refused == accessToken) {
    const Status status = RenewLocked();
    if (!status.IsOk()) return status;
  }
  *token = accessToken;
  return Status::Ok();
}

int RefreshingTokens::Renewals() {
  std::lock_guard<std::mutex> lock(mutex);
  return renewals;
}

#include "oauth2/sign_in.h"

#include <chrono>
#include <thread>

#include "oauth2/refreshing_tokens.h"

namespace {

// The HTTP requests of a sign-in: each connect, read and write.
const int kHttpTimeoutMs = 30000;

}  // namespace

Notice SignInNotices::Of(NoticeKind kind) const {
  Notice notice;
  notice.kind = kind;
  notice.text = provider.title;
  notice.where = account;
  return notice;
}

void SignInNotices::OpenPage(const std::string& url, bool opened) {
  Notice notice = Of(NoticeKind::kOpenInBrowser);
  notice.url = url;
  notice.count = opened ? 1 : 0;
  sink->Tell(notice);
}

void SignInNotices::EnterCode(const std::string& page, const std::string& code,
                              int64_t expiresIn) {
  Notice notice = Of(NoticeKind::kDeviceCode);
  notice.url = page;
  notice.code = code;
  notice.seconds = static_cast<uint64_t>(expiresIn);
  sink->Tell(notice);
}

void SignInNotices::SignedIn() { sink->Tell(Of(NoticeKind::kSignedIn)); }

const Provider* ProviderOf(const SignInRequest& request, std::string* why) {
  std::string unknown;
  const Provider* provider = ProviderFromEnvironment(request.host, &unknown);
  if (!unknown.empty()) {
    *why =
        "KORVANE_PROVIDER names no provider korvane knows (microsoft, "
        "google)";
    return nullptr;
  }
  if (!provider && request.host.empty())
    provider = ProviderForAddress(request.address);
  if (!provider)
    *why = "korvane knows no sign-in for " +
           (request.host.empty() ? request.address : request.host);
  return provider;
}

SignInResult SignIn(const SignInRequest& request, SignInEvents* events) {
  SignInResult result;
  std::string why;
  result.provider = ProviderOf(request, &why);
  if (!result.provider) {
    result.status = Status::Of(StatusKind::kNotFound, why);
    return result;
  }
  OAuth2Settings settings;
  result.status =
      OAuth2SettingsFromEnvironment(*result.provider, request.address,
                                    request.caFile, &settings, &result.hint);
  if (!result.status.IsOk()) return result;
  std::unique_ptr<HttpClient> http(
      new NetHttpClient(request.caFile, kHttpTimeoutMs));
  const Pause pause = [events](int64_t ms) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (!events->KeepWaiting()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
  };
  TokenAnswer answer;
  if (!settings.refreshToken.empty()) {
    result.status =
        RefreshFlow(settings, http.get(), settings.refreshToken, &answer);
  } else {
    bool noBrowser = settings.deviceFlow;
    if (!noBrowser)
      result.status = AuthorizationCodeFlow(settings, http.get(), events,
                                            &noBrowser, &answer);
    if (noBrowser)
      result.status = DeviceFlow(settings, http.get(), events, pause, &answer);
  }
  if (!result.status.IsOk()) return result;
  result.tokens = std::make_shared<RefreshingTokens>(
      settings, std::move(http), answer, SteadyMilliseconds);
  return result;
}

// The authorization code grant with PKCE for a native app (RFC 8252): the
// system's browser shows the provider's page, and the provider's answer
// comes back to a listener on 127.0.0.1.
#include <memory>

#include "browser/browser.h"
#include "oauth2/oauth2_flows.h"
#include "oauth2/pkce.h"
#include "redirect/redirect_listener.h"

namespace {

// What the browser shows after the answer came; plain text.
const char kSignedInPage[] =
    "korvane: signed in. You can close this page and go back to korvane.\n";
const char kRefusedPage[] =
    "korvane: the sign-in did not go through; korvane says why.\n";

}  // namespace

Status AuthorizationCodeFlow(const OAuth2Settings& settings, HttpClient* http,
                             SignInEvents* events, bool* noBrowser,
                             TokenAnswer* answer) {
  *noBrowser = false;
  const bool fallBack = !settings.deviceUrl.empty();
  if (fallBack && !BrowserAvailable()) {
    *noBrowser = true;
    return Status::Ok();
  }
  Pkce pkce;
  Status status = MakePkce(&pkce);
  if (!status.IsOk()) return status;
  const std::unique_ptr<RedirectListener> listener = RedirectListener::Create();
  status = listener->Listen();
  if (!status.IsOk()) return status.Within("can't take the browser's answer");
  const std::string redirect =
      "http://127.0.0.1:" + std::to_string(listener->Port()) + "/";
  FormFields fields = {{"response_type", "code"},
                       {"client_id", settings.clientId},
                       {"redirect_uri", redirect},
                       {"scope", settings.scope},
                       {"state", pkce.state},
                       {"code_challenge", pkce.challenge},
                       {"code_challenge_method", "S256"}};
  if (!settings.loginHint.empty())
    fields.emplace_back("login_hint", settings.loginHint);
  for (const auto& field : ParseForm(settings.authorizeFields))
    fields.push_back(field);
  const std::string url =
      settings.authorizeUrl +
      (settings.authorizeUrl.find('?') == std::string::npos ? "?" : "&") +
      FormEncode(fields);
  std::unique_ptr<BrowserLaunch> browser;
  if (BrowserAvailable()) browser = OpenBrowser(url, &status);
  if (!browser && fallBack) {
    *noBrowser = true;
    return Status::Ok();
  }
  events->OpenPage(url, browser != nullptr);
  bool browserFailed = false;
  std::string head;
  status = listener->AwaitRequest(
      kAuthorizationWaitMs,
      [&] {
        browserFailed = fallBack && browser && browser->Failed();
        return !browserFailed && events->KeepWaiting();
      },
      &head);
  if (browserFailed) {
    *noBrowser = true;
    return Status::Ok();
  }
  if (status.Kind() == StatusKind::kTimedOut)
    return Status::Of(StatusKind::kTimedOut,
                      "no answer came from the browser within 5 minutes");
  if (!status.IsOk()) return status;
  std::string path, query;
  if (!ParseRequestTarget(head, &path, &query)) {
    listener->Answer(PlainPage(400, kRefusedPage));
    return Status::Of(StatusKind::kBadInput,
                      "the browser came back with no sign-in answer");
  }
  const FormFields got = ParseForm(query);
  // Only the answer to this very request counts (RFC 6749 §10.12).
  if (FormValue(got, "state") != pkce.state) {
    listener->Answer(PlainPage(400, kRefusedPage));
    return Status::Of(StatusKind::kRefused,
                      "the answer that came to korvane's listener belongs to "
                      "no sign-in korvane started (its state differs): "
                      "ignored, nothing signed in");
  }
  if (HasField(got, "error")) {
    listener->Answer(PlainPage(200, kRefusedPage));
    return Status::Of(StatusKind::kRefused,
                      "the sign-in was refused: " +
                          OAuth2ErrorText(FormValue(got, "error"),
                                          FormValue(got, "error_description")));
  }
  const std::string code = FormValue(got, "code");
  if (code.empty()) {
    listener->Answer(PlainPage(400, kRefusedPage));
    return Status::Of(StatusKind::kBadInput,
                      "the sign-in answer holds no authorization code");
  }
  listener->Answer(PlainPage(200, kSignedInPage));
  return TokenRequest(settings, http,
                      {{"grant_type", "authorization_code"},
                       {"code", code},
                       {"redirect_uri", redirect},
                       {"code_verifier", pkce.verifier}},
                      answer);
}

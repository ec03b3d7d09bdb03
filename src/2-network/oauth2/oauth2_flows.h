// The ways to an access token (RFC 6749, RFC 8252 for a native app): the
// authorization code with PKCE through the browser and a loopback
// redirect, the device code (RFC 8628), and the refresh token. None of
// them puts a token, code or secret into a status.
#ifndef KORVANE_OAUTH2_OAUTH2_FLOWS_H_
#define KORVANE_OAUTH2_OAUTH2_FLOWS_H_

#include <stdint.h>

#include <functional>
#include <string>

#include "http/form.h"
#include "http/http_client.h"
#include "oauth2/oauth2_answers.h"
#include "oauth2/oauth2_settings.h"

// What a sign-in tells the person signing in, and asks them.
class SignInEvents {
 public:
  virtual ~SignInEvents() {}
  // The provider's sign-in page, to be opened; opened says whether the
  // browser was started on it. The URL holds nothing secret.
  virtual void OpenPage(const std::string& url, bool opened) = 0;
  // The device flow: the page to go to, on any device, and the code to
  // enter there, good for expiresIn seconds.
  virtual void EnterCode(const std::string& page, const std::string& code,
                         int64_t expiresIn) = 0;
  // Asked while waiting; false gives the sign-in up.
  virtual bool KeepWaiting() { return true; }
};

// Waits ms milliseconds; false where the wait was given up.
typedef std::function<bool(int64_t ms)> Pause;

// How long the browser's answer is waited for.
const int kAuthorizationWaitMs = 5 * 60 * 1000;

// The browser opened on the provider's page, its answer taken on
// 127.0.0.1 (one request, its state checked, within
// kAuthorizationWaitMs), the code exchanged with the PKCE verifier.
// *noBrowser is set, and nothing else done, where no browser could be
// started (or it failed at once) and the settings allow the device flow.
Status AuthorizationCodeFlow(const OAuth2Settings& settings, HttpClient* http,
                             SignInEvents* events, bool* noBrowser,
                             TokenAnswer* answer);

// The device flow: the code shown, the token endpoint asked at the
// interval it says (longer after slow_down) until the user has signed in,
// refused, or the code ran out.
Status DeviceFlow(const OAuth2Settings& settings, HttpClient* http,
                  SignInEvents* events, const Pause& pause,
                  TokenAnswer* answer);

// A new access token for refreshToken.
Status RefreshFlow(const OAuth2Settings& settings, HttpClient* http,
                   const std::string& refreshToken, TokenAnswer* answer);

// One request to the token endpoint with fields (the client's ID, and its
// secret where the provider wants it, added). An answer without a token is
// a failure that says the endpoint's error (a kRefused one).
Status TokenRequest(const OAuth2Settings& settings, HttpClient* http,
                    FormFields fields, TokenAnswer* answer);

#endif  // KORVANE_OAUTH2_OAUTH2_FLOWS_H_

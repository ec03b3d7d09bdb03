// Signing in to an account of a provider korvane knows, as a front end
// asks for it: the console where an output's host is such a provider and
// neither a password nor a token is set, a window's "Sign in" with the
// account's address. Address -> provider -> flow -> a source of tokens
// for the run, in memory only.
#ifndef KORVANE_OAUTH2_SIGN_IN_H_
#define KORVANE_OAUTH2_SIGN_IN_H_

#include <atomic>
#include <memory>
#include <string>

#include "account/access_tokens.h"
#include "oauth2/oauth2_flows.h"
#include "provider/provider.h"
#include "status/notice.h"
#include "status/status.h"

struct SignInRequest {
  std::string address;  // the account (the IMAP user): "someone@gmail.com"
  std::string host;     // the IMAP host; "" to go by the address's domain
  std::string caFile;   // trusted besides the system's (KORVANE_CA_FILE)
};

struct SignInResult {
  Status status;
  std::string hint;  // a second line for a failure; "" for none
  const Provider* provider = nullptr;
  std::shared_ptr<AccessTokens> tokens;  // set where status is OK
};

// A sign-in's events as notices (status/notice.h) to sink: the page to
// open (kOpenInBrowser), the device code (kDeviceCode), for a front end
// that shows them as the run's other notices. The wait ends where cancel
// (may be null) turns true.
class SignInNotices : public SignInEvents {
 public:
  SignInNotices(const Provider& provider, const std::string& account,
                NoticeSink* sink, const std::atomic<bool>* cancel = nullptr)
      : provider(provider), account(account), sink(sink), cancel(cancel) {}
  void OpenPage(const std::string& url, bool opened) override;
  void EnterCode(const std::string& page, const std::string& code,
                 int64_t expiresIn) override;
  bool KeepWaiting() override { return !cancel || !cancel->load(); }
  // kSignedIn.
  void SignedIn();

 private:
  Notice Of(NoticeKind kind) const;
  const Provider& provider;
  const std::string account;
  NoticeSink* const sink;
  const std::atomic<bool>* const cancel;
};

// The provider for request (KORVANE_PROVIDER, else the host, else the
// address's domain); null, with *why, where korvane knows none.
const Provider* ProviderOf(const SignInRequest& request, std::string* why);

// Signs in: with a refresh token handed in (KORVANE_OAUTH2_REFRESH_TOKEN)
// without asking; else through the browser, or the device code where
// chosen or where no browser can be opened and the provider allows it.
SignInResult SignIn(const SignInRequest& request, SignInEvents* events);

#endif  // KORVANE_OAUTH2_SIGN_IN_H_

#include "console/sign_in_console.h"

#include <stdio.h>
#include <stdlib.h>

#include "console/display_width.h"
#include "oauth2/sign_in.h"

namespace {

class ConsoleSignInEvents : public SignInEvents {
 public:
  ConsoleSignInEvents(const Provider& provider, const std::string& who)
      : provider(provider), who(who) {}

  void OpenPage(const std::string& url, bool opened) override {
    printf("signing in to %s as %s: %s\n", provider.title, who.c_str(),
           opened ? "the browser shows its page (if it did not open, open "
                    "this address in one):"
                  : "open this address in a browser:");
    printf("  %s\n", ConsoleText(url).c_str());
    fflush(stdout);
  }

  void EnterCode(const std::string& page, const std::string& code,
                 int64_t expiresIn) override {
    printf(
        "signing in to %s as %s: on any device, open %s and enter the "
        "code %s (within %lld minutes)\n",
        provider.title, who.c_str(), ConsoleText(page).c_str(),
        ConsoleText(code).c_str(),
        static_cast<long long>((expiresIn + 59) / 60));
    fflush(stdout);
  }

 private:
  const Provider& provider;
  std::string who;
};

}  // namespace

ConsoleSignIn SignInOnConsole(const AccountPlace& place, AccountAccess* access,
                              Status* failure, std::string* hint) {
  SignInRequest request;
  request.address = place.user;
  request.host = place.host;
  request.caFile = access->caFile;
  std::string why;
  const Provider* provider = ProviderOf(request, &why);
  const char* named = getenv("KORVANE_PROVIDER");
  if (!provider && !(named && *named)) return ConsoleSignIn::kNoProvider;
  if (!provider) {
    *failure = Status::Of(StatusKind::kBadInput, why);
    return ConsoleSignIn::kFailed;
  }
  const std::string who = ConsoleText(place.user);
  ConsoleSignInEvents events(*provider, who);
  const SignInResult result = SignIn(request, &events);
  const std::string cantSignIn =
      std::string("can't sign in to ") + provider->title + " as " + place.user;
  if (!result.status.IsOk()) {
    *failure = result.status.Within(cantSignIn);
    *hint = result.hint;
    return ConsoleSignIn::kFailed;
  }
  printf("signed in to %s as %s\n", provider->title, who.c_str());
  access->credentials.kind = AccountCredentials::kOAuth2Token;
  access->credentials.tokens = result.tokens;
  return ConsoleSignIn::kSignedIn;
}

#include "console/sign_in_console.h"

#include <stdlib.h>

#include "oauth2/sign_in.h"

ConsoleSignIn SignInOnConsole(const AccountPlace& place, AccountAccess* access,
                              NoticeSink* notices,
                              const std::atomic<bool>* cancel, Status* failure,
                              std::string* hint) {
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
  SignInNotices events(*provider, place.user, notices, cancel);
  const SignInResult result = SignIn(request, &events);
  const std::string cantSignIn =
      std::string("can't sign in to ") + provider->title + " as " + place.user;
  if (!result.status.IsOk()) {
    *failure = result.status.Within(cantSignIn);
    *hint = result.hint;
    return ConsoleSignIn::kFailed;
  }
  events.SignedIn();
  access->credentials.kind = AccountCredentials::kOAuth2Token;
  access->credentials.tokens = result.tokens;
  return ConsoleSignIn::kSignedIn;
}

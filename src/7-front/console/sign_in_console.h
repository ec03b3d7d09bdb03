// An account of a provider korvane knows (its URL's host, or
// KORVANE_PROVIDER), with neither a password nor a token set: signed in
// with OAuth2 before the run, what it tells as notices to notices.
#ifndef KORVANE_CONSOLE_SIGN_IN_CONSOLE_H_
#define KORVANE_CONSOLE_SIGN_IN_CONSOLE_H_

#include <atomic>
#include <string>

#include "account/account_access.h"
#include "status/notice.h"
#include "status/status.h"

enum class ConsoleSignIn {
  kNoProvider,  // a host of no provider korvane knows: ask as before
  kSignedIn,    // access holds what logs in
  kFailed,      // *failure says why, *hint what to do where there is more
                // to say (the run's status is then 2)
};

// A wait for the browser or the device code ends where cancel (may be
// null) turns true.
ConsoleSignIn SignInOnConsole(const AccountPlace& place, AccountAccess* access,
                              NoticeSink* notices,
                              const std::atomic<bool>* cancel, Status* failure,
                              std::string* hint);

#endif  // KORVANE_CONSOLE_SIGN_IN_CONSOLE_H_

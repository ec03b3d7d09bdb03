// What an output that is a folder of a mail account (IMAP) needs besides
// its name: the secret to log in with, and the certificates trusted besides
// the system's. The program reads them once and hands them down; they never
// reach the console, an error or a log.
#ifndef KORVANE_ACCOUNT_ACCOUNT_ACCESS_H_
#define KORVANE_ACCOUNT_ACCOUNT_ACCESS_H_

#include <memory>
#include <string>

#include "account/access_tokens.h"
#include "status/notice.h"

struct AccountCredentials {
  enum Kind { kPassword, kOAuth2Token };
  Kind kind = kPassword;
  std::string secret;  // never shown, logged or put into an error
  // kOAuth2Token: where the tokens come from when set (a sign-in, renewed
  // as they run out, shared by every connection); else secret is the one.
  std::shared_ptr<AccessTokens> tokens;
};

struct AccountAccess {
  AccountCredentials credentials;
  std::string caFile;  // a PEM file (KORVANE_CA_FILE); "" for none
  // Where the account's side tells the user what is no failure (sign in
  // here, waiting as the server asked): the run's, set by the run; null
  // for nowhere.
  NoticeSink* notices = nullptr;
};

// Where such an output is, as its name tells: who logs in, on which host,
// into which folder ("/" between the names; "" for the account's first).
struct AccountPlace {
  std::string user, host, folder;
};

#endif  // KORVANE_ACCOUNT_ACCOUNT_ACCESS_H_

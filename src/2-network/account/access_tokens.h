// Where the OAuth2 access tokens of an account come from during a run: one
// fixed token, or a sign-in that renews them when they run out. Every
// connection of the run asks the same source, from any thread; a token
// lives in memory only and never reaches the console, an error or a log.
#ifndef KORVANE_ACCOUNT_ACCESS_TOKENS_H_
#define KORVANE_ACCOUNT_ACCESS_TOKENS_H_

#include <string>

#include "status/status.h"

class AccessTokens {
 public:
  virtual ~AccessTokens() {}
  // A token to log in with now, renewed first where it has run out.
  virtual Status Token(std::string* token) = 0;
  // The server refused refused: a fresh token, unless another connection
  // has renewed it meanwhile (then that one). Not OK where none can be had.
  virtual Status Renew(const std::string& refused, std::string* token) = 0;
};

#endif  // KORVANE_ACCOUNT_ACCESS_TOKENS_H_

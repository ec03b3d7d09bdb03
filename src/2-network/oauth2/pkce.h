// Proof Key for Code Exchange (RFC 7636) with S256, and the state that ties
// an authorization's answer to the request korvane made.
#ifndef KORVANE_OAUTH2_PKCE_H_
#define KORVANE_OAUTH2_PKCE_H_

#include <string>

#include "status/status.h"

struct Pkce {
  std::string verifier;   // 43 characters; secret until the token request
  std::string challenge;  // BASE64URL(SHA-256(verifier))
  std::string state;      // 32 characters
};

// Fresh values from the system's random source.
Status MakePkce(Pkce* pkce);

std::string PkceChallenge(const std::string& verifier);

#endif  // KORVANE_OAUTH2_PKCE_H_

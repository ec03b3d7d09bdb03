#include "oauth2/pkce.h"

#include "bytes/base64.h"
#include "bytes/sha256.h"
#include "random/random.h"

std::string PkceChallenge(const std::string& verifier) {
  Sha256 sha;
  sha.Update(verifier.data(), verifier.size());
  const Sha256::Digest digest = sha.Finish();
  return Base64Url(std::string(digest.begin(), digest.end()));
}

Status MakePkce(Pkce* pkce) {
  // 32 bytes: the 43 characters RFC 7636 asks for at least.
  Status status = RandomText(32, &pkce->verifier);
  if (status.IsOk()) status = RandomText(24, &pkce->state);
  if (status.IsOk()) pkce->challenge = PkceChallenge(pkce->verifier);
  return status;
}

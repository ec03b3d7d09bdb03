// Base64 in the URL-safe alphabet without padding (RFC 4648 §5), the form
// of PKCE and OAuth2 state values.
#ifndef KORVANE_BYTES_BASE64_H_
#define KORVANE_BYTES_BASE64_H_

#include <string>

std::string Base64Url(const std::string& bytes);

#endif  // KORVANE_BYTES_BASE64_H_

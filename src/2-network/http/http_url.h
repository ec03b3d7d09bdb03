// The address of an HTTP endpoint korvane talks to (an OAuth2 token,
// authorization or device endpoint): https, or http to a loopback address
// only, so that nothing secret ever crosses a network in the clear.
#ifndef KORVANE_HTTP_HTTP_URL_H_
#define KORVANE_HTTP_HTTP_URL_H_

#include <stdint.h>

#include <string>

#include "status/status.h"

struct HttpUrl {
  bool tls = true;
  std::string host;  // a name, or an address (IPv6 without its brackets)
  uint16_t port = 443;
  std::string target = "/";  // path and query, as sent in the request line

  // host as the Host field and a URL write it: "[::1]", "example.org:8443".
  std::string Authority() const;
};

// Reads https://HOST[:PORT][/PATH][?QUERY], or the same with http:// where
// HOST is a loopback address (127.0.0.0/8, [::1]). Anything else (another
// scheme, user information, a fragment, blanks or control characters, a
// port out of range) is refused, and the status says why.
Status ParseEndpointUrl(const std::string& text, HttpUrl* url);

// Whether host (as in HttpUrl) is an IPv4 address in 127.0.0.0/8 or ::1.
bool IsLoopbackAddress(const std::string& host);

#endif  // KORVANE_HTTP_HTTP_URL_H_

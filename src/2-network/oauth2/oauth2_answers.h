// What the token and device endpoints answer (RFC 6749 §5, RFC 8628 §3.2),
// read from their JSON. Bytes that are no JSON object, fields of the wrong
// type and absurd numbers are taken as missing: nothing a server sends can
// make the reading fail in another way.
#ifndef KORVANE_OAUTH2_OAUTH2_ANSWERS_H_
#define KORVANE_OAUTH2_OAUTH2_ANSWERS_H_

#include <stdint.h>

#include <string>

struct TokenAnswer {
  std::string accessToken;   // secret
  std::string refreshToken;  // secret; "" where none came
  int64_t expiresIn = 0;     // seconds; 0 where not said
  std::string error, errorDescription;
};

struct DeviceAnswer {
  std::string deviceCode;  // secret
  std::string userCode, verificationUri;
  int64_t expiresIn = 0, interval = 0;
  std::string error, errorDescription;
};

// False where body is no JSON object.
bool ParseTokenAnswer(const std::string& body, TokenAnswer* answer);
bool ParseDeviceAnswer(const std::string& body, DeviceAnswer* answer);

// An endpoint's error in words: "access_denied (the user said no)", with
// the description cut to one line of at most 300 bytes.
std::string OAuth2ErrorText(const std::string& error,
                            const std::string& description);

#endif  // KORVANE_OAUTH2_OAUTH2_ANSWERS_H_

// How one sign-in goes: the provider's row, with what the environment
// changes in it (endpoints for a stand-in, the client registration, the
// flow, a refresh token handed in), checked before anything is sent.
#ifndef KORVANE_OAUTH2_OAUTH2_SETTINGS_H_
#define KORVANE_OAUTH2_OAUTH2_SETTINGS_H_

#include <string>

#include "provider/provider.h"
#include "status/status.h"

struct OAuth2Settings {
  const Provider* provider = nullptr;
  std::string authorizeUrl, tokenUrl, deviceUrl;  // deviceUrl "" for none
  std::string scope, authorizeFields;
  std::string clientId;
  std::string clientSecret;  // sent where the provider wants it; secret
  std::string loginHint;     // the account's address
  std::string refreshToken;  // KORVANE_OAUTH2_REFRESH_TOKEN; secret
  bool deviceFlow = false;   // KORVANE_OAUTH2_FLOW=device
  std::string caFile;        // KORVANE_CA_FILE
};

// The settings for signing user in at provider:
//   KORVANE_OAUTH2_CLIENT_ID, KORVANE_OAUTH2_CLIENT_SECRET (else the
//     registration built in);
//   KORVANE_OAUTH2_AUTHORIZE_URL, KORVANE_OAUTH2_TOKEN_URL,
//     KORVANE_OAUTH2_DEVICE_URL (https, or http to a loopback address);
//   KORVANE_OAUTH2_FLOW (browser or device); KORVANE_OAUTH2_REFRESH_TOKEN.
// Without a client ID the status says so and *hint says what else can be
// done; the two lines are all a user needs.
Status OAuth2SettingsFromEnvironment(const Provider& provider,
                                     const std::string& user,
                                     const std::string& caFile,
                                     OAuth2Settings* settings,
                                     std::string* hint);

#endif  // KORVANE_OAUTH2_OAUTH2_SETTINGS_H_

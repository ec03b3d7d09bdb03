#include "oauth2/oauth2_settings.h"

#include <stdlib.h>

#include "http/http_url.h"

namespace {

std::string Variable(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

// The row's endpoint, or the one variable names instead; checked.
Status Endpoint(const char* variable, const char* fromRow, std::string* url) {
  const std::string set = Variable(variable);
  *url = set.empty() ? fromRow : set;
  if (url->empty()) return Status::Ok();
  HttpUrl parsed;
  const Status status = ParseEndpointUrl(*url, &parsed);
  if (status.IsOk()) return status;
  // The URL is the user's own setting, not a secret; it is not repeated,
  // since it may hold control characters.
  return status.Within(
      std::string(set.empty() ? "the provider's endpoint" : variable) +
      " can't be used");
}

}  // namespace

Status OAuth2SettingsFromEnvironment(const Provider& provider,
                                     const std::string& user,
                                     const std::string& caFile,
                                     OAuth2Settings* settings,
                                     std::string* hint) {
  OAuth2Settings s;
  s.provider = &provider;
  s.scope = provider.scope;
  s.authorizeFields = provider.authorizeFields;
  s.loginHint = user;
  s.caFile = caFile;
  Status status = Endpoint("KORVANE_OAUTH2_AUTHORIZE_URL",
                           provider.authorizeUrl, &s.authorizeUrl);
  if (status.IsOk())
    status =
        Endpoint("KORVANE_OAUTH2_TOKEN_URL", provider.tokenUrl, &s.tokenUrl);
  if (status.IsOk())
    status =
        Endpoint("KORVANE_OAUTH2_DEVICE_URL", provider.deviceUrl, &s.deviceUrl);
  if (!status.IsOk()) return status;
  const std::string flow = Variable("KORVANE_OAUTH2_FLOW");
  if (flow == "device") {
    s.deviceFlow = true;
  } else if (!flow.empty() && flow != "browser") {
    return Status::Of(StatusKind::kBadInput,
                      "KORVANE_OAUTH2_FLOW is browser or device");
  }
  if (s.deviceFlow && s.deviceUrl.empty())
    return Status::Of(StatusKind::kBadInput,
                      std::string(provider.title) +
                          " gives no mail access through the device flow: "
                          "sign in with the browser (unset "
                          "KORVANE_OAUTH2_FLOW)");
  s.clientId = Variable("KORVANE_OAUTH2_CLIENT_ID");
  s.clientSecret = Variable("KORVANE_OAUTH2_CLIENT_SECRET");
  if (s.clientId.empty()) {
    s.clientId = provider.clientId;
    s.clientSecret = provider.clientSecret;
  }
  s.refreshToken = Variable("KORVANE_OAUTH2_REFRESH_TOKEN");
  if (s.clientId.empty()) {
    *hint = provider.otherWay;
    return Status::Of(
        StatusKind::kNotFound,
        std::string("this korvane has no OAuth2 client ID to sign in to ") +
            provider.title +
            " with: register one and put it into "
            "KORVANE_OAUTH2_CLIENT_ID" +
            (provider.sendsSecret ? " (its secret into "
                                    "KORVANE_OAUTH2_CLIENT_SECRET)"
                                  : "") +
            ", as the README's \"" + provider.guide + "\" shows");
  }
  *settings = s;
  return Status::Ok();
}

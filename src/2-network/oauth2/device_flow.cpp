// The device authorization grant (RFC 8628): a code the user enters on a
// page of the provider, on any device, while korvane asks the token
// endpoint whether it has been.
#include "http/http_url.h"
#include "oauth2/oauth2_flows.h"

namespace {

const int64_t kDefaultIntervalSeconds = 5;  // RFC 8628 §3.2
const int64_t kSlowDownSeconds = 5;         // RFC 8628 §3.5
const int64_t kDefaultLifetimeSeconds = 900;

}  // namespace

Status DeviceFlow(const OAuth2Settings& settings, HttpClient* http,
                  SignInEvents* events, const Pause& pause,
                  TokenAnswer* answer) {
  HttpRequest request;
  request.method = "POST";
  request.url = settings.deviceUrl;
  request.contentType = "application/x-www-form-urlencoded";
  request.body =
      FormEncode({{"client_id", settings.clientId}, {"scope", settings.scope}});
  HttpResponse response;
  Status status = http->Send(request, &response);
  if (!status.IsOk()) return status.Within("asking for a device code");
  DeviceAnswer device;
  const bool parsed = ParseDeviceAnswer(response.body, &device);
  if (!parsed || response.status != 200 || device.deviceCode.empty() ||
      device.userCode.empty() || device.verificationUri.empty()) {
    if (parsed && !device.error.empty())
      return Status::Of(
          StatusKind::kRefused,
          "no device code: " +
              OAuth2ErrorText(device.error, device.errorDescription));
    return Status::Of(StatusKind::kBadInput,
                      "the device endpoint answered HTTP " +
                          std::to_string(response.status) +
                          " without a device code");
  }
  HttpUrl page;
  if (!ParseEndpointUrl(device.verificationUri, &page).IsOk())
    return Status::Of(StatusKind::kBadInput,
                      "the device endpoint named no https page to sign in on");
  const int64_t lifetime =
      device.expiresIn > 0 ? device.expiresIn : kDefaultLifetimeSeconds;
  events->EnterCode(device.verificationUri, device.userCode, lifetime);
  int64_t interval =
      device.interval > 0 ? device.interval : kDefaultIntervalSeconds;
  int64_t waited = 0;
  for (;;) {
    if (waited + interval > lifetime)
      return Status::Of(StatusKind::kTimedOut,
                        "the code was not entered in time");
    if (!pause(interval * 1000) || !events->KeepWaiting())
      return Status::Of(StatusKind::kCancelled, "the sign-in was given up");
    waited += interval;
    status = TokenRequest(
        settings, http,
        {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
         {"device_code", device.deviceCode}},
        answer);
    if (status.IsOk()) return status;
    if (answer->error == "authorization_pending") continue;
    if (answer->error == "slow_down") {
      interval += kSlowDownSeconds;
      continue;
    }
    if (answer->error == "expired_token")
      return Status::Of(StatusKind::kTimedOut,
                        "the code was not entered in time");
    return status;
  }
}

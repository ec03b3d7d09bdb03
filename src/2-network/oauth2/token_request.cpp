// Requests to the token endpoint, and the refresh of an access token.
#include "http/http_url.h"
#include "oauth2/oauth2_flows.h"

namespace {

std::string HostOf(const std::string& url) {
  HttpUrl parsed;
  return ParseEndpointUrl(url, &parsed).IsOk() ? parsed.Authority()
                                               : "the token endpoint";
}

}  // namespace

Status TokenRequest(const OAuth2Settings& settings, HttpClient* http,
                    FormFields fields, TokenAnswer* answer) {
  fields.emplace_back("client_id", settings.clientId);
  if (settings.provider && settings.provider->sendsSecret &&
      !settings.clientSecret.empty())
    fields.emplace_back("client_secret", settings.clientSecret);
  HttpRequest request;
  request.method = "POST";
  request.url = settings.tokenUrl;
  request.contentType = "application/x-www-form-urlencoded";
  request.body = FormEncode(fields);
  HttpResponse response;
  const std::string host = HostOf(settings.tokenUrl);
  const Status status = http->Send(request, &response);
  if (!status.IsOk()) return status.Within("asking " + host + " for a token");
  const bool parsed = ParseTokenAnswer(response.body, answer);
  if (parsed && response.status == 200 && !answer->accessToken.empty())
    return Status::Ok();
  if (parsed && !answer->error.empty())
    return Status::Of(
        StatusKind::kRefused,
        host + " gave no token: " +
            OAuth2ErrorText(answer->error, answer->errorDescription));
  return Status::Of(StatusKind::kBadInput, host + " answered HTTP " +
                                               std::to_string(response.status) +
                                               " without a token");
}

Status RefreshFlow(const OAuth2Settings& settings, HttpClient* http,
                   const std::string& refreshToken, TokenAnswer* answer) {
  return TokenRequest(settings, http,
                      {{"grant_type", "refresh_token"},
                       {"refresh_token", refreshToken},
                       {"scope", settings.scope}},
                      answer);
}

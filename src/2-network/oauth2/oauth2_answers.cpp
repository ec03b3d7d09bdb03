#include "oauth2/oauth2_answers.h"

#include <nlohmann/json.hpp>

namespace {

typedef nlohmann::json Json;

bool ParseObject(const std::string& body, Json* json) {
  *json = Json::parse(body, nullptr, /*allow_exceptions=*/false);
  return json->is_object();
}

std::string Text(const Json& json, const char* name) {
  const auto found = json.find(name);
  return found != json.end() && found->is_string() ? found->get<std::string>()
                                                   : "";
}

// A count of seconds, as a number or a numeral (some servers quote it);
// 0 for anything else, and never more than a year.
int64_t Seconds(const Json& json, const char* name) {
  const auto found = json.find(name);
  if (found == json.end()) return 0;
  double value = 0;
  if (found->is_number()) {
    value = found->get<double>();
  } else if (found->is_string()) {
    const std::string text = found->get<std::string>();
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
      return 0;
    value = std::stod(text);
  }
  if (!(value > 0)) return 0;
  return value > 366 * 86400.0 ? 366 * 86400 : static_cast<int64_t>(value);
}

}  // namespace

bool ParseTokenAnswer(const std::string& body, TokenAnswer* answer) {
  *answer = TokenAnswer();
  Json json;
  if (!ParseObject(body, &json)) return false;
  answer->accessToken = Text(json, "access_token");
  answer->refreshToken = Text(json, "refresh_token");
  answer->expiresIn = Seconds(json, "expires_in");
  answer->error = Text(json, "error");
  answer->errorDescription = Text(json, "error_description");
  return true;
}

bool ParseDeviceAnswer(const std::string& body, DeviceAnswer* answer) {
  *answer = DeviceAnswer();
  Json json;
  if (!ParseObject(body, &json)) return false;
  answer->deviceCode = Text(json, "device_code");
  answer->userCode = Text(json, "user_code");
  // Google says verification_url.
  answer->verificationUri = Text(json, "verification_uri");
  if (answer->verificationUri.empty())
    answer->verificationUri = Text(json, "verification_url");
  answer->expiresIn = Seconds(json, "expires_in");
  answer->interval = Seconds(json, "interval");
  answer->error = Text(json, "error");
  answer->errorDescription = Text(json, "error_description");
  return true;
}

std::string OAuth2ErrorText(const std::string& error,
                            const std::string& description) {
  std::string line = description.substr(0, description.find_first_of("\r\n"));
  if (line.size() > 300) line = line.substr(0, 300) + "...";
  const std::string name = error.substr(0, 100);
  return line.empty() ? name : name + " (" + line + ")";
}

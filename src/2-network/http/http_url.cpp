#include "http/http_url.h"

#include "bytes/ascii.h"

namespace {

Status Refused(const std::string& why) {
  return Status::Of(StatusKind::kBadInput, why);
}

bool Digits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::string HttpUrl::Authority() const {
  std::string text =
      host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != (tls ? 443 : 80)) text += ":" + std::to_string(port);
  return text;
}

bool IsLoopbackAddress(const std::string& host) {
  if (host == "::1") return true;
  // Four decimal parts, the first 127.
  int parts = 0;
  size_t at = 0;
  while (at <= host.size()) {
    const size_t dot = host.find('.', at);
    const std::string part = host.substr(
        at, dot == std::string::npos ? std::string::npos : dot - at);
    if (!Digits(part) || part.size() > 3 || std::stoi(part) > 255) return false;
    if (parts == 0 && part != "127") return false;
    ++parts;
    if (dot == std::string::npos) break;
    at = dot + 1;
  }
  return parts == 4;
}

Status ParseEndpointUrl(const std::string& text, HttpUrl* url) {
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= ' ' || u >= 127)
      return Refused("it holds a blank, a control character or non-ASCII");
  }
  const size_t colon = text.find("://");
  if (colon == std::string::npos) return Refused("it is no URL");
  const std::string scheme = FoldedAscii(text.substr(0, colon));
  if (scheme != "https" && scheme != "http")
    return Refused("only https is used (http to a loopback address)");
  HttpUrl result;
  result.tls = scheme == "https";
  result.port = result.tls ? 443 : 80;
  if (text.find('#') != std::string::npos) return Refused("it has a fragment");
  const size_t start = colon + 3;
  const size_t end = text.find_first_of("/?", start);
  const std::string authority = text.substr(
      start, end == std::string::npos ? std::string::npos : end - start);
  if (authority.find('@') != std::string::npos)
    return Refused("it names a user");
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return Refused("its address is not closed");
    result.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return Refused("its host is malformed");
      port = authority.substr(close + 2);
      if (port.empty()) return Refused("its port is empty");
    }
  } else {
    const size_t portAt = authority.find(':');
    result.host = authority.substr(0, portAt);
    if (portAt != std::string::npos) {
      port = authority.substr(portAt + 1);
      if (port.empty()) return Refused("its port is empty");
    }
  }
  if (result.host.empty()) return Refused("it names no host");
  if (!port.empty()) {
    if (!Digits(port) || port.size() > 5 || std::stol(port) < 1 ||
        std::stol(port) > 65535)
      return Refused("its port is not a number from 1 to 65535");
    result.port = static_cast<uint16_t>(std::stol(port));
  }
  result.host = FoldedAscii(result.host);
  if (!result.tls && !IsLoopbackAddress(result.host))
    return Refused("http is used only to a loopback address; use https");
  if (end != std::string::npos) {
    result.target = text.substr(end);
    if (result.target[0] == '?') result.target = "/" + result.target;
  }
  *url = result;
  return Status::Ok();
}

#include "tls/tls_stream.h"

std::string TlsResultText(const TlsResult& result) {
  std::string text;
  switch (result.status) {
    case TlsStatus::kOk:
      return "no error";
    case TlsStatus::kNetwork:
      return std::string("TLS handshake: ") + NetStatusText(result.net);
    case TlsStatus::kCaFile:
      text = "the CA file cannot be used";
      break;
    case TlsStatus::kUntrusted:
      text = "the server's certificate is not trusted";
      break;
    case TlsStatus::kWrongHost:
      text = "the server's certificate is made out for another host";
      break;
    case TlsStatus::kHandshake:
      text = "TLS handshake failed";
      break;
  }
  if (!result.detail.empty()) text += " (" + result.detail + ")";
  return text;
}

Status TlsStatusOf(const TlsResult& result, const std::string& host) {
  switch (result.status) {
    case TlsStatus::kOk:
      return Status::Ok();
    case TlsStatus::kNetwork:
      return NetworkStatus(result.net, "TLS");
    case TlsStatus::kCaFile:
    case TlsStatus::kUntrusted:
    case TlsStatus::kWrongHost:
      return Status::Of(StatusKind::kCertificate,
                        host + ": " + TlsResultText(result));
    case TlsStatus::kHandshake:
      break;
  }
  return Status::Of(StatusKind::kOther, host + ": " + TlsResultText(result));
}

#include "http/http_client.h"

#include <memory>

#include "http/http_url.h"
#include "net/tcp_connection.h"
#include "tls/tls_stream.h"

namespace {

Status NetFailure(NetStatus status, const std::string& where) {
  const StatusKind kind =
      status == NetStatus::kHostUnknown ? StatusKind::kNotFound
      : status == NetStatus::kTimedOut  ? StatusKind::kTimedOut
      : status == NetStatus::kFailed    ? StatusKind::kOther
                                        : StatusKind::kConnectionLost;
  return Status::Of(kind, where + ": " + NetStatusText(status));
}

}  // namespace

std::string FormatHttpRequest(const HttpRequest& request,
                              const std::string& target,
                              const std::string& authority) {
  std::string text = request.method + " " + target +
                     " HTTP/1.1\r\nHost: " + authority +
                     "\r\nUser-Agent: korvane/" KORVANE_VERSION
                     "\r\nAccept: application/json\r\nConnection: close\r\n";
  if (!request.body.empty() || request.method == "POST") {
    if (!request.contentType.empty())
      text += "Content-Type: " + request.contentType + "\r\n";
    text += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
  }
  return text + "\r\n" + request.body;
}

NetHttpClient::NetHttpClient(const std::string& caFile, int timeoutMs)
    : caFile(caFile), timeoutMs(timeoutMs) {}

Status NetHttpClient::Send(const HttpRequest& request, HttpResponse* response) {
  HttpUrl url;
  Status status = ParseEndpointUrl(request.url, &url);
  if (!status.IsOk()) return status.Within("the address can't be used");
  const std::string where = url.Authority();
  TcpConnection tcp;
  NetStatus net = tcp.Connect(url.host, url.port, timeoutMs);
  if (net != NetStatus::kOk) return NetFailure(net, "connecting to " + where);
  ByteStream* stream = &tcp;
  std::unique_ptr<TlsStream> tls;
  if (url.tls) {
    tls = TlsStream::Create();
    const TlsResult result = tls->Start(&tcp, url.host, caFile);
    if (result.status == TlsStatus::kNetwork)
      return NetFailure(result.net, where + ": TLS");
    if (result.status != TlsStatus::kOk)
      return Status::Of(result.status == TlsStatus::kHandshake
                            ? StatusKind::kOther
                            : StatusKind::kCertificate,
                        where + ": " + TlsResultText(result));
    stream = tls.get();
  }
  const std::string text = FormatHttpRequest(request, url.target, where);
  net = stream->Write(text.data(), text.size());
  if (net != NetStatus::kOk) return NetFailure(net, where);
  status = ReadHttpResponse(stream, response);
  if (!status.IsOk()) return status.Within(where);
  return Status::Ok();
}

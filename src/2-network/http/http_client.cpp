#include "http/http_client.h"

#include <memory>

#include "http/http_url.h"
#include "tls/network_connector.h"

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
  std::unique_ptr<Connection> connection;
  status = NetworkConnector()->Open(url.host, url.port, url.tls, caFile,
                                    timeoutMs, &connection);
  if (!status.IsOk()) return status.Within(where);
  const std::string text = FormatHttpRequest(request, url.target, where);
  const NetStatus net = connection->Write(text.data(), text.size());
  if (net != NetStatus::kOk) return NetworkStatus(net, where);
  status = ReadHttpResponse(connection.get(), response);
  if (!status.IsOk()) return status.Within(where);
  return Status::Ok();
}

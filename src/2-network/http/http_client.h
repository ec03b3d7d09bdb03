// A small HTTP/1.1 client for the few requests an OAuth2 sign-in makes: one
// request per connection, over the TLS stream (the certificate always
// checked) or, to a loopback address only, over plain TCP. The answer is
// read whole, within bounds: a server cannot make korvane hold more than
// kMaxHttpBody bytes of body or kMaxHttpHead of head.
#ifndef KORVANE_HTTP_HTTP_CLIENT_H_
#define KORVANE_HTTP_HTTP_CLIENT_H_

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

#include "net/byte_stream.h"
#include "status/status.h"

const size_t kMaxHttpHead = 64 * 1024;
const size_t kMaxHttpBody = 1024 * 1024;

struct HttpRequest {
  std::string method = "GET";
  std::string url;          // as ParseEndpointUrl takes it
  std::string contentType;  // for a body
  std::string body;  // may hold secrets: never put into a status or a log
};

struct HttpResponse {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header field called name (any case); "".
  std::string Header(const std::string& name) const;
};

// What sends a request and reads its answer: the network, or a stand-in
// in the tests.
class HttpClient {
 public:
  virtual ~HttpClient() {}
  // A status that is not OK means no answer came (refused URL, network,
  // TLS, a malformed or oversized answer); an answer of any status code
  // is OK here.
  virtual Status Send(const HttpRequest& request, HttpResponse* response) = 0;
};

// Over TCP and TLS. caFile: certificates trusted besides the system's
// (KORVANE_CA_FILE); timeoutMs: for connecting and for each read and write.
class NetHttpClient : public HttpClient {
 public:
  NetHttpClient(const std::string& caFile, int timeoutMs);
  Status Send(const HttpRequest& request, HttpResponse* response) override;

 private:
  std::string caFile;
  int timeoutMs;
};

// The request as it goes on the wire (method, target, Host, the body).
std::string FormatHttpRequest(const HttpRequest& request,
                              const std::string& target,
                              const std::string& authority);

// Reads one answer from stream: status line, head, and the body by
// Content-Length, chunks, or up to the end of the connection.
Status ReadHttpResponse(ByteStream* stream, HttpResponse* response);

#endif  // KORVANE_HTTP_HTTP_CLIENT_H_

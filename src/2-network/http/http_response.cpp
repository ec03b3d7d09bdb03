// Reading an HTTP/1.1 answer within bounds.
#include <stdlib.h>

#include "bytes/ascii.h"
#include "http/http_client.h"

namespace {

Status Malformed(const std::string& why) {
  return Status::Of(StatusKind::kBadInput, "malformed HTTP answer: " + why);
}

// Bytes from a stream, with what was read past the current need kept.
class Input {
 public:
  explicit Input(ByteStream* stream) : stream(stream) {}

  // Reads until buffered holds text ending in delimiter, at most limit
  // bytes; *line gets it without the delimiter.
  Status Until(const std::string& delimiter, size_t limit, std::string* line) {
    for (;;) {
      const size_t found = buffered.find(delimiter);
      if (found != std::string::npos) {
        *line = buffered.substr(0, found);
        buffered.erase(0, found + delimiter.size());
        return Status::Ok();
      }
      if (buffered.size() > limit) return Malformed("a line is too long");
      bool ended = false;
      const Status status = More(&ended);
      if (!status.IsOk()) return status;
      if (ended) return Malformed("it ends early");
    }
  }

  // Appends count bytes to *out.
  Status Take(size_t count, std::string* out) {
    while (buffered.size() < count) {
      bool ended = false;
      const Status status = More(&ended);
      if (!status.IsOk()) return status;
      if (ended) return Malformed("its body ends early");
    }
    out->append(buffered, 0, count);
    buffered.erase(0, count);
    return Status::Ok();
  }

  // Appends all up to the end of the connection, at most limit bytes.
  Status Rest(size_t limit, std::string* out) {
    for (;;) {
      if (out->size() + buffered.size() > limit)
        return Malformed("its body is too large");
      out->append(buffered);
      buffered.clear();
      bool ended = false;
      const Status status = More(&ended);
      if (!status.IsOk() || ended) return status;
    }
  }

 private:
  Status More(bool* ended) {
    char chunk[16384];
    size_t got = 0;
    const NetStatus status = stream->Read(chunk, sizeof chunk, &got);
    if (status == NetStatus::kClosed) {
      *ended = true;
      return Status::Ok();
    }
    if (status != NetStatus::kOk)
      return NetworkStatus(status, "reading the answer");
    buffered.append(chunk, got);
    return Status::Ok();
  }

  ByteStream* stream;
  std::string buffered;
};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A decimal or hexadecimal count, whole; false for anything else or one
// past limit.
bool Count(const std::string& text, int base, size_t limit, size_t* count) {
  if (text.empty() || text.size() > 16) return false;
  char* end = nullptr;
  const unsigned long long value = strtoull(text.c_str(), &end, base);
  if (*end != '\0' || text[0] == '-' || text[0] == '+' || value > limit)
    return false;
  *count = static_cast<size_t>(value);
  return true;
}

}  // namespace

std::string HttpResponse::Header(const std::string& name) const {
  const std::string folded = FoldedAscii(name);
  for (const auto& field : headers)
    if (FoldedAscii(field.first) == folded) return field.second;
  return "";
}

Status ReadHttpResponse(ByteStream* stream, HttpResponse* response) {
  *response = HttpResponse();
  Input input(stream);
  std::string line;
  Status status = input.Until("\r\n", kMaxHttpHead, &line);
  if (!status.IsOk()) return status;
  // "HTTP/1.1 200 OK"
  if (line.compare(0, 5, "HTTP/") != 0 || line.size() < 12 || line[8] != ' ' ||
      !(line[9] >= '1' && line[9] <= '5') ||
      !(line[10] >= '0' && line[10] <= '9') ||
      !(line[11] >= '0' && line[11] <= '9') ||
      (line.size() > 12 && line[12] != ' '))
    return Malformed("no status line");
  response->status =
      (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  size_t headBytes = line.size();
  for (;;) {
    status = input.Until("\r\n", kMaxHttpHead, &line);
    if (!status.IsOk()) return status;
    if (line.empty()) break;
    headBytes += line.size() + 2;
    if (headBytes > kMaxHttpHead) return Malformed("its head is too large");
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
      return Malformed("a header field without a name");
    response->headers.emplace_back(line.substr(0, colon),
                                   Trimmed(line.substr(colon + 1)));
  }
  const std::string encoding =
      FoldedAscii(response->Header("Transfer-Encoding"));
  const std::string length = response->Header("Content-Length");
  if (encoding == "chunked") {
    for (;;) {
      status = input.Until("\r\n", 1024, &line);
      if (!status.IsOk()) return status;
      size_t size = 0;
      if (!Count(Trimmed(line.substr(0, line.find(';'))), 16, kMaxHttpBody,
                 &size))
        return Malformed("a chunk's size is not a number");
      if (response->body.size() + size > kMaxHttpBody)
        return Malformed("its body is too large");
      if (size == 0) break;
      status = input.Take(size, &response->body);
      if (status.IsOk()) status = input.Until("\r\n", 2, &line);
      if (!status.IsOk()) return status;
      if (!line.empty()) return Malformed("a chunk is longer than it says");
    }
    // Trailer fields, up to the empty line.
    do {
      status = input.Until("\r\n", kMaxHttpHead, &line);
      if (!status.IsOk()) return status;
    } while (!line.empty());
    return Status::Ok();
  }
  if (!encoding.empty()) return Malformed("an unknown transfer coding");
  if (!length.empty()) {
    size_t size = 0;
    if (!Count(length, 10, kMaxHttpBody, &size))
      return Malformed("Content-Length is not a number or too large");
    return input.Take(size, &response->body);
  }
  if (response->status == 204 || response->status == 304 ||
      response->status < 200)
    return Status::Ok();
  return input.Rest(kMaxHttpBody, &response->body);
}

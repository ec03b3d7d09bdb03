#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "http/form.h"
#include "http/http_client.h"
#include "http/http_url.h"

namespace {

TEST(HttpUrlTest, OnlyHttpsOrHttpToALoopbackAddress) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    int port;
    const char* target;
  } kCases[] = {
      {"https://login.example.com/common/oauth2/v2.0/token", true,
       "login.example.com", 443, "/common/oauth2/v2.0/token"},
      {"HTTPS://Login.Example.COM:8443", true, "login.example.com", 8443, "/"},
      {"https://example.com?x=1", true, "example.com", 443, "/?x=1"},
      {"http://127.0.0.1:5000/token", true, "127.0.0.1", 5000, "/token"},
      {"http://127.1.2.3/", true, "127.1.2.3", 80, "/"},
      {"http://[::1]:99/a?b", true, "::1", 99, "/a?b"},
      {"https://[2001:db8::1]/", true, "2001:db8::1", 443, "/"},
      {"http://example.com/token", false, "", 0, ""},
      {"http://localhost/token", false, "", 0, ""},
      {"http://128.0.0.1/", false, "", 0, ""},
      {"http://127.0.0.1.example.com/", false, "", 0, ""},
      {"ftp://example.com/", false, "", 0, ""},
      {"example.com/token", false, "", 0, ""},
      {"https://user@example.com/", false, "", 0, ""},
      {"https://example.com/#part", false, "", 0, ""},
      {"https://example.com:0/", false, "", 0, ""},
      {"https://example.com:65536/", false, "", 0, ""},
      {"https://example.com:/", false, "", 0, ""},
      {"https:///path", false, "", 0, ""},
      {"https://exa mple.com/", false, "", 0, ""},
      {"https://example.com/\r\nHost: other", false, "", 0, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    HttpUrl url;
    const Status status = ParseEndpointUrl(c.text, &url);
    ASSERT_EQ(c.ok, status.IsOk()) << status.Text();
    if (!c.ok) continue;
    EXPECT_EQ(c.host, url.host);
    EXPECT_EQ(c.port, url.port);
    EXPECT_EQ(c.target, url.target);
  }
}

TEST(HttpFormTest, EncodesAndDecodesEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const FormFields fields = {{"code", all}, {"a b", "x&y=z+%"}, {"e", ""}};
  EXPECT_EQ(fields, ParseForm(FormEncode(fields)));
  EXPECT_EQ("a%20b=x%26y%3Dz%2B%25", FormEncode({fields[1]}));
  const FormFields query = ParseForm("state=a+b&code=%41%zz&flag&=v&&");
  EXPECT_EQ("a b", FormValue(query, "state"));
  EXPECT_EQ("A%zz", FormValue(query, "code"));
  EXPECT_TRUE(HasField(query, "flag"));
  EXPECT_FALSE(HasField(query, "error"));
}

// Bytes handed out a few at a time, then the end of the connection.
class ScriptedStream : public ByteStream {
 public:
  ScriptedStream(std::string bytes, size_t piece)
      : bytes(bytes), piece(piece) {}
  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    if (at == bytes.size()) return NetStatus::kClosed;
    *got = std::min({size, piece, bytes.size() - at});
    bytes.copy(buffer, *got, at);
    at += *got;
    return NetStatus::kOk;
  }
  NetStatus Write(const char*, size_t) override { return NetStatus::kOk; }
  bool ReadableNow() override { return true; }

 private:
  std::string bytes;
  size_t piece, at = 0;
};

TEST(HttpResponseTest, ReadsWithinBounds) {
  const std::string big(kMaxHttpBody + 1, 'x');
  const struct {
    const char* name;
    std::string bytes;
    int status;  // 0: refused
    std::string body;
  } kCases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello+extra", 200,
       "hello"},
      {"chunks",
       "HTTP/1.1 400 Bad\r\nTransfer-Encoding: Chunked\r\n\r\n3;x=y\r\nabc\r\n"
       "A\r\n0123456789\r\n0\r\nTrailer: t\r\n\r\n",
       400, "abc0123456789"},
      {"to the end", "HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\nall of it", 302,
       "all of it"},
      {"no reason phrase", "HTTP/1.1 204\r\n\r\n", 204, ""},
      {"ends early", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nshort", 0,
       ""},
      {"head cut", "HTTP/1.1 200 OK\r\nContent-Le", 0, ""},
      {"no status line", "SSH-2.0-OpenSSH\r\n\r\n", 0, ""},
      {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
       0, ""},
      {"length too large",
       "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n", 0, ""},
      {"chunk too large",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n",
       0, ""},
      {"chunk longer than said",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
       "chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n",
       0, ""},
      {"unknown coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxx",
       0, ""},
      {"body too large to the end", "HTTP/1.1 200 OK\r\n\r\n" + big, 0, ""},
      {"field too long",
       "HTTP/1.1 200 OK\r\nX: " + std::string(kMaxHttpHead, 'y') + "\r\n\r\n",
       0, ""},
      {"field without a name", "HTTP/1.1 200 OK\r\n: v\r\n\r\n", 0, ""},
  };
  for (const auto& c : kCases) {
    for (const size_t piece : {size_t(1), size_t(7), size_t(1) << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " +
                   std::to_string(piece));
      ScriptedStream stream(c.bytes, piece);
      HttpResponse response;
      const Status status = ReadHttpResponse(&stream, &response);
      ASSERT_EQ(c.status != 0, status.IsOk()) << status.Text();
      if (c.status == 0) continue;
      EXPECT_EQ(c.status, response.status);
      EXPECT_EQ(c.body, response.body);
    }
  }
}

}  // namespace

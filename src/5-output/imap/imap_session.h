// One logged-in connection to an IMAP server: TCP, TLS (implicit or by
// STARTTLS), the greeting, capabilities and the login, then commands and
// their responses. No login is ever sent in the clear.
#ifndef KORVANE_IMAP_IMAP_SESSION_H_
#define KORVANE_IMAP_IMAP_SESSION_H_

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "imap/imap_account.h"
#include "imap/response.h"
#include "net/tcp_connection.h"
#include "tls/tls_stream.h"

class ImapSession {
 public:
  typedef std::function<void(const ImapResponse&)> UntaggedHandler;

  ImapSession();
  ~ImapSession();

  // Connects and logs in. The credentials go only over a checked TLS
  // connection.
  ImapError Open(const ImapAccount& account);
  void Close();

  // Whether the server named capability (upper case, as "LITERAL+").
  bool Has(const std::string& capability) const;

  // A fresh tag ("K17").
  std::string NextTag();

  // Writes bytes as they are.
  NetStatus Send(const std::string& bytes);
  NetStatus Send(const char* data, size_t size);
  // The next response; one that does not parse comes as an untagged one
  // with an empty word. Capabilities in it are taken note of.
  NetStatus Read(ImapResponse* response);
  bool ReadableNow();

  // Sends "TAG command" and reads until its tagged response (into *done),
  // handing untagged ones to onUntagged. A network failure is a kNetwork
  // error; NO and BAD come back in *done.
  ImapError Run(const std::string& command, const UntaggedHandler& onUntagged,
                ImapResponse* done);

 private:
  ImapError Connect(const ImapAccount& account);
  ImapError Login(const ImapAccount& account);
  ImapError Authenticate(const std::string& mechanism,
                         const std::string& initial);
  ImapError RefreshCapabilities();
  ImapError NetworkError(NetStatus status, const char* during);
  void NoteCapabilities(const ImapResponse& response);

  TcpConnection tcp_;
  std::unique_ptr<TlsStream> tls_;
  ByteStream* stream_ = nullptr;
  std::unique_ptr<ResponseReader> reader_;
  std::set<std::string> capabilities_;
  unsigned tags_ = 0;
};

// Text for the server's words in an error: its code and text, in one line.
std::string ServerSays(const ImapResponse& response);

// Standard base64 (for the SASL mechanisms).
std::string Base64(const std::string& bytes);

// A command argument: a quoted string, or, when bytes holds anything a
// quoted string cannot (CR, LF, NUL, bytes above 127), false.
bool QuoteArgument(const std::string& bytes, std::string* quoted);

#endif  // KORVANE_IMAP_IMAP_SESSION_H_

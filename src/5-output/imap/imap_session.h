// One logged-in connection to an IMAP server: the connection (TLS from the
// start, or by STARTTLS), the greeting, capabilities and the login, then
// commands and their responses, each response within the account's time
// limit. No login is ever sent in the clear.
#ifndef KORVANE_IMAP_IMAP_SESSION_H_
#define KORVANE_IMAP_IMAP_SESSION_H_

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "imap/imap_account.h"
#include "imap/response.h"

class ImapSession {
 public:
  typedef std::function<void(const ImapResponse&)> UntaggedHandler;

  explicit ImapSession(const ImapLinks& links = ImapLinks());
  ~ImapSession();

  // Connects and logs in. The credentials go only over a checked TLS
  // connection.
  Status Open(const ImapAccount& account);
  void Close();

  // Whether the server named capability (upper case, as "LITERAL+").
  bool Has(const std::string& capability) const;
  // The value of a capability NAME=VALUE ("APPENDLIMIT=35882577"); "" for
  // none.
  std::string Value(const std::string& name) const;

  // A fresh tag ("K17").
  std::string NextTag();

  // Writes bytes as they are, each 256 KiB of them within the time limit.
  NetStatus Send(const std::string& bytes);
  NetStatus Send(const char* data, size_t size);
  // The next response; one that does not parse comes as an untagged one
  // with an empty word. Capabilities in it are taken note of.
  NetStatus Read(ImapResponse* response);
  bool ReadableNow();

  // Sends "TAG command" and reads until its tagged response (into *done),
  // handing untagged ones to onUntagged. A network failure is its Status
  // (IsNetworkFailure), and so is a BYE (but for LOGOUT's); NO and BAD
  // come back in *done.
  Status Run(const std::string& command, const UntaggedHandler& onUntagged,
             ImapResponse* done);

  // The server's BYE on this connection, as it said it ("BYE [CODE]
  // text"); "" before one.
  const std::string& Bye() const { return bye; }

  // Every byte of the literals read from now on to watcher; null for none.
  void WatchLiterals(ResponseReader::LiteralWatcher watcher);

  // The time each response (and each piece of a write) may take from now
  // on, instead of the account's.
  void SetTimeLimit(int ms);

 private:
  Status Connect(const ImapAccount& account);
  Status Login(const ImapAccount& account);
  Status Authenticate(const std::string& mechanism, const std::string& initial);
  Status OAuth2(const ImapAccount& account, const std::string& token);
  // "TAG verb arguments", each argument a quoted string or, where it
  // cannot be one, a literal sent after the server's go-ahead.
  Status RunWithArguments(const std::string& verb,
                          const std::vector<std::string>& arguments,
                          ImapResponse* done);
  Status RefreshCapabilities();
  void NoteCapabilities(const ImapResponse& response);
  // A stream's failure during a step; a time-out in seconds.
  Status Broken(NetStatus status, const std::string& during) const;
  void StartReading();

  Connector* const connector;
  Clock* const clock;
  int timeoutMs = 0;
  std::unique_ptr<Connection> connection;
  std::unique_ptr<ResponseReader> reader;
  std::set<std::string> capabilities;
  bool preauthenticated = false;  // the greeting was PREAUTH
  std::string bye;
  unsigned tags = 0;
};

// Text for the server's words in an error: its code and text, in one line.
std::string ServerSays(const ImapResponse& response);

// A refusal of the server in words: kLimit where its code says that a
// limit of the server's (connections, a rate) stands in the way, else
// kRefused.
Status Refusal(const std::string& words, const ImapResponse& response);

// Standard base64 (for the SASL mechanisms).
std::string Base64(const std::string& bytes);

// A command argument: a quoted string, or, when bytes holds anything a
// quoted string cannot (CR, LF, NUL, bytes above 127), false.
bool QuoteArgument(const std::string& bytes, std::string* quoted);

#endif  // KORVANE_IMAP_IMAP_SESSION_H_

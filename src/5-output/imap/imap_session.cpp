#include "imap/imap_session.h"

#include <algorithm>

#include "bytes/ascii.h"
#include "tls/network_connector.h"

namespace {

// Bytes written within one time limit: a server that takes less than this
// in the time is as good as gone.
const size_t kSendPiece = 256 * 1024;

}  // namespace

std::string Base64(const std::string& bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                       static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      out += kDigits[v >> shift & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18 & 63];
    out += kDigits[v >> 12 & 63];
    out += i + 1 < bytes.size() ? kDigits[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

bool QuoteArgument(const std::string& bytes, std::string* quoted) {
  *quoted = "\"";
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u == 0 || u == '\r' || u == '\n' || u > 127) return false;
    if (c == '"' || c == '\\') *quoted += '\\';
    *quoted += c;
  }
  *quoted += '"';
  return true;
}

std::string ServerSays(const ImapResponse& response) {
  std::string text = response.word;
  if (!response.code.empty()) text += " [" + response.code + "]";
  if (!response.text.empty()) text += " " + response.text;
  return text;
}

Status Refusal(const std::string& words, const ImapResponse& response) {
  const std::string code = response.CodeName();
  const bool limit =
      code == "LIMIT" || code == "UNAVAILABLE" ||
      FoldedAscii(response.text).find("too many") != std::string::npos;
  return Status::Of(limit ? StatusKind::kLimit : StatusKind::kRefused,
                    words + ServerSays(response));
}

ImapSession::ImapSession(const ImapLinks& links)
    : connector(links.connector ? links.connector : NetworkConnector()),
      clock(links.clock ? links.clock : SystemClock()) {}

ImapSession::~ImapSession() { Close(); }

void ImapSession::Close() {
  reader.reset();
  connection.reset();
  capabilities.clear();
  preauthenticated = false;
  bye.clear();
}

bool ImapSession::Has(const std::string& capability) const {
  return capabilities.count(capability) > 0;
}

std::string ImapSession::Value(const std::string& name) const {
  const auto found = capabilities.lower_bound(name + "=");
  if (found == capabilities.end() ||
      found->compare(0, name.size() + 1, name + "=") != 0)
    return "";
  return found->substr(name.size() + 1);
}

std::string ImapSession::NextTag() { return "K" + std::to_string(++tags); }

NetStatus ImapSession::Send(const std::string& bytes) {
  return Send(bytes.data(), bytes.size());
}

NetStatus ImapSession::Send(const char* data, size_t size) {
  if (!connection) return NetStatus::kClosed;
  while (size > 0) {
    const size_t piece = std::min(size, kSendPiece);
    connection->SetDeadline(clock->NowMs() + timeoutMs);
    const NetStatus status = connection->Write(data, piece);
    if (status != NetStatus::kOk) return status;
    data += piece;
    size -= piece;
  }
  return NetStatus::kOk;
}

void ImapSession::WatchLiterals(ResponseReader::LiteralWatcher watcher) {
  if (reader) reader->WatchLiterals(watcher);
}

void ImapSession::SetTimeLimit(int ms) {
  timeoutMs = ms;
  if (reader) reader->SetTimeLimit(clock, ms);
}

bool ImapSession::ReadableNow() {
  return connection && connection->ReadableNow();
}

NetStatus ImapSession::Read(ImapResponse* response) {
  if (!reader) return NetStatus::kClosed;
  RawResponse raw;
  const NetStatus status = reader->Next(&raw);
  if (status != NetStatus::kOk) return status;
  if (!ParseResponse(raw, response)) {
    *response = ImapResponse();
    return NetStatus::kOk;
  }
  NoteCapabilities(*response);
  if (response->kind == ImapResponse::kUntagged && response->word == "BYE")
    bye = ServerSays(*response);
  return NetStatus::kOk;
}

void ImapSession::NoteCapabilities(const ImapResponse& response) {
  if (response.kind == ImapResponse::kUntagged &&
      response.word == "CAPABILITY") {
    capabilities.clear();
    for (const ImapValue& v : response.data)
      if (v.kind == ImapValue::kAtom) capabilities.insert(UpperAscii(v.text));
  } else if (response.IsStatus() && response.CodeName() == "CAPABILITY") {
    capabilities.clear();
    size_t at = response.code.find(' ');
    while (at != std::string::npos) {
      const size_t next = response.code.find(' ', at + 1);
      const std::string word = response.code.substr(
          at + 1, next == std::string::npos ? next : next - at - 1);
      if (!word.empty()) capabilities.insert(UpperAscii(word));
      at = next;
    }
  }
}

Status ImapSession::Run(const std::string& command,
                        const UntaggedHandler& onUntagged, ImapResponse* done) {
  const std::string tag = NextTag();
  NetStatus status = Send(tag + " " + command + "\r\n");
  while (status == NetStatus::kOk) {
    status = Read(done);
    if (status != NetStatus::kOk) break;
    if (done->kind == ImapResponse::kTagged && done->tag == tag)
      return Status::Ok();
    if (done->kind == ImapResponse::kContinuation)
      return Status::Of(StatusKind::kBadInput,
                        "the server asked for more where no more was due");
    // A server that says BYE closes the connection: no answer follows.
    if (done->word == "BYE" && command != "LOGOUT")
      return Status::Of(StatusKind::kConnectionLost,
                        "the server ended the connection: " + bye);
    if (done->kind == ImapResponse::kUntagged && onUntagged) onUntagged(*done);
  }
  return Broken(status, command.substr(0, command.find(' ')));
}

Status ImapSession::Broken(NetStatus status, const std::string& during) const {
  if (status != NetStatus::kTimedOut) return NetworkStatus(status, during);
  return Status::Of(StatusKind::kTimedOut,
                    during + ": no answer in " +
                        std::to_string((timeoutMs + 999) / 1000) + " s");
}

Status ImapSession::RunWithArguments(const std::string& verb,
                                     const std::vector<std::string>& arguments,
                                     ImapResponse* done) {
  const std::string tag = NextTag();
  std::string line = tag + " " + verb;
  NetStatus status = NetStatus::kOk;
  for (const std::string& argument : arguments) {
    std::string quoted;
    if (QuoteArgument(argument, &quoted)) {
      line += " " + quoted;
      continue;
    }
    // A literal: any byte but NUL, once the server has said go ahead.
    line += " {" + std::to_string(argument.size()) + "}\r\n";
    if ((status = Send(line)) != NetStatus::kOk) break;
    line = argument;
    while ((status = Read(done)) == NetStatus::kOk &&
           done->kind != ImapResponse::kContinuation) {
      if (done->kind == ImapResponse::kTagged && done->tag == tag)
        return Status::Ok();
      if (done->word == "BYE")
        return Status::Of(StatusKind::kConnectionLost,
                          "the server ended the connection: " + bye);
    }
    if (status != NetStatus::kOk) break;
  }
  if (status == NetStatus::kOk) status = Send(line + "\r\n");
  while (status == NetStatus::kOk && (status = Read(done)) == NetStatus::kOk) {
    if (done->kind == ImapResponse::kTagged && done->tag == tag)
      return Status::Ok();
    if (done->word == "BYE")
      return Status::Of(StatusKind::kConnectionLost,
                        "the server ended the connection: " + bye);
  }
  return Broken(status, verb);
}

Status ImapSession::RefreshCapabilities() {
  ImapResponse done;
  Status status = Run("CAPABILITY", nullptr, &done);
  if (status.IsOk() && done.word != "OK")
    status = Status::Of(StatusKind::kRefused,
                        "CAPABILITY refused: " + ServerSays(done));
  return status;
}

void ImapSession::StartReading() {
  // Nothing read before a TLS handshake counts after it.
  reader.reset(new ResponseReader(connection.get()));
  reader->SetTimeLimit(clock, timeoutMs);
}

Status ImapSession::Connect(const ImapAccount& account) {
  Close();
  timeoutMs = account.timeoutMs;
  Status status =
      connector->Open(account.host, account.port, account.implicitTls,
                      account.caFile, account.timeoutMs, &connection);
  if (!status.IsOk()) return status;
  StartReading();
  ImapResponse greeting;
  const NetStatus net = Read(&greeting);
  if (net != NetStatus::kOk) return Broken(net, "greeting");
  if (greeting.kind != ImapResponse::kUntagged ||
      (greeting.word != "OK" && greeting.word != "PREAUTH"))
    return Refusal("the server turned the connection down: ", greeting);
  preauthenticated = greeting.word == "PREAUTH";
  if (preauthenticated && !account.implicitTls)
    return Status::Of(StatusKind::kRefused,
                      account.host +
                          " logged in without TLS (PREAUTH): no mail goes "
                          "in the clear (imaps:// for a TLS port)");
  if (!account.implicitTls) {
    if (capabilities.empty() && !(status = RefreshCapabilities()).IsOk())
      return status;
    if (!Has("STARTTLS"))
      return Status::Of(StatusKind::kRefused,
                        account.host + " offers no STARTTLS on port " +
                            std::to_string(account.port) +
                            ": no login without TLS (imaps:// for a TLS port)");
    ImapResponse done;
    if (!(status = Run("STARTTLS", nullptr, &done)).IsOk()) return status;
    if (done.word != "OK")
      return Status::Of(StatusKind::kRefused,
                        "STARTTLS refused: " + ServerSays(done));
    if (!(status = connection->StartTls(account.host, account.caFile)).IsOk())
      return status;
    StartReading();
    capabilities.clear();  // what was said in the clear counts no more
  }
  if (capabilities.empty()) status = RefreshCapabilities();
  return status;
}

Status ImapSession::Open(const ImapAccount& account) {
  Status status = Connect(account);
  // A server that greets with PREAUTH has logged the connection in.
  if (status.IsOk() && !preauthenticated) status = Login(account);
  if (!status.IsOk()) Close();
  return status;
}

// The login: SASL PLAIN, LOGIN where that is all, or an OAuth2 token
// (OAUTHBEARER, XOAUTH2). Only ever on a TLS stream (Connect has made one);
// no secret goes into a Status.

Status ImapSession::Authenticate(const std::string& mechanism,
                                 const std::string& initial) {
  const std::string tag = NextTag();
  const std::string response = Base64(initial);
  const bool inline_ = Has("SASL-IR");
  NetStatus status = Send(tag + " AUTHENTICATE " + mechanism +
                          (inline_ ? " " + response : "") + "\r\n");
  bool sent = inline_;
  int challenges = 0;
  ImapResponse r;
  while (status == NetStatus::kOk && (status = Read(&r)) == NetStatus::kOk) {
    if (r.kind == ImapResponse::kContinuation) {
      // The first asks for the response; after it, a challenge is the
      // server's reason for failing (OAuth2), answered to end the exchange.
      if (!sent) {
        status = Send(response + "\r\n");
        sent = true;
      } else {
        ++challenges;
        status = Send(challenges > 2               ? "*\r\n"
                      : mechanism == "OAUTHBEARER" ? "AQ==\r\n"
                                                   : "\r\n");
      }
      continue;
    }
    if (r.word == "BYE")
      return Status::Of(StatusKind::kConnectionLost,
                        "the server ended the connection: " + bye);
    if (r.kind != ImapResponse::kTagged || r.tag != tag) continue;
    if (r.word == "OK") return Status::Ok();
    return Refusal("login as this user refused (" + mechanism + "): ", r);
  }
  return Broken(status, "AUTHENTICATE");
}

Status ImapSession::OAuth2(const ImapAccount& account,
                           const std::string& token) {
  if (Has("AUTH=OAUTHBEARER") && !(account.xoauth2 && Has("AUTH=XOAUTH2"))) {
    // The GS2 header's authorization identity: "," and "=" escaped.
    std::string user;
    for (const char c : account.user)
      user += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
    return Authenticate("OAUTHBEARER",
                        "n,a=" + user + ",\x01host=" + account.host +
                            "\x01port=" + std::to_string(account.port) +
                            "\x01"
                            "auth=Bearer " +
                            token + "\x01\x01");
  }
  if (Has("AUTH=XOAUTH2"))
    return Authenticate("XOAUTH2", "user=" + account.user +
                                       "\x01"
                                       "auth=Bearer " +
                                       token + "\x01\x01");
  return Status::Of(StatusKind::kRefused,
                    account.host +
                        " takes no OAuth2 token (neither "
                        "OAUTHBEARER nor XOAUTH2 is offered)");
}

Status ImapSession::Login(const ImapAccount& account) {
  const ImapCredentials& credentials = account.credentials;
  Status status;
  if (credentials.kind == ImapCredentials::kOAuth2Token && credentials.tokens) {
    // A token the server no longer takes (it ran out early, or was
    // revoked) is renewed once; the source renews it for every connection
    // that was refused it at the same time.
    std::string token;
    status = credentials.tokens->Token(&token);
    if (status.IsOk()) status = OAuth2(account, token);
    if (status.Kind() == StatusKind::kRefused) {
      std::string renewed;
      const Status renewal = credentials.tokens->Renew(token, &renewed);
      status = renewal.IsOk() ? OAuth2(account, renewed)
                              : renewal.Within(status.Text());
    }
  } else if (credentials.kind == ImapCredentials::kOAuth2Token) {
    status = OAuth2(account, credentials.secret);
  } else if (Has("AUTH=PLAIN")) {
    status =
        Authenticate("PLAIN", std::string(1, '\0') + account.user +
                                  std::string(1, '\0') + credentials.secret);
  } else if (!Has("LOGINDISABLED")) {
    // Quoted where they can be, else as literals; no NUL goes either way.
    if (account.user.find('\0') != std::string::npos ||
        credentials.secret.find('\0') != std::string::npos)
      return Status::Of(StatusKind::kRefused,
                        account.host +
                            " offers only LOGIN, which cannot carry "
                            "this user name or password (a NUL byte)");
    ImapResponse done;
    status =
        RunWithArguments("LOGIN", {account.user, credentials.secret}, &done);
    if (status.IsOk() && done.word != "OK")
      return Refusal("login as this user refused: ", done);
  } else {
    return Status::Of(
        StatusKind::kRefused,
        account.host + " offers no way to log in with a password");
  }
  if (!status.IsOk()) return status;
  // What a server offers may grow after the login.
  return RefreshCapabilities();
}

#include "imap/imap_session.h"

#include "bytes/ascii.h"

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

ImapSession::ImapSession() {}
ImapSession::~ImapSession() { Close(); }

void ImapSession::Close() {
  reader_.reset();
  stream_ = nullptr;
  tls_.reset();
  tcp_.Close();
  capabilities_.clear();
}

bool ImapSession::Has(const std::string& capability) const {
  return capabilities_.count(capability) > 0;
}

std::string ImapSession::NextTag() { return "K" + std::to_string(++tags_); }

NetStatus ImapSession::Send(const std::string& bytes) {
  return Send(bytes.data(), bytes.size());
}

NetStatus ImapSession::Send(const char* data, size_t size) {
  return stream_ ? stream_->Write(data, size) : NetStatus::kClosed;
}

bool ImapSession::ReadableNow() { return stream_ && stream_->ReadableNow(); }

NetStatus ImapSession::Read(ImapResponse* response) {
  if (!reader_) return NetStatus::kClosed;
  RawResponse raw;
  const NetStatus status = reader_->Next(&raw);
  if (status != NetStatus::kOk) return status;
  if (!ParseResponse(raw, response)) {
    *response = ImapResponse();
    return NetStatus::kOk;
  }
  NoteCapabilities(*response);
  return NetStatus::kOk;
}

void ImapSession::NoteCapabilities(const ImapResponse& response) {
  if (response.kind == ImapResponse::kUntagged &&
      response.word == "CAPABILITY") {
    capabilities_.clear();
    for (const ImapValue& v : response.data)
      if (v.kind == ImapValue::kAtom) capabilities_.insert(UpperAscii(v.text));
  } else if (response.IsStatus() && response.CodeName() == "CAPABILITY") {
    capabilities_.clear();
    size_t at = response.code.find(' ');
    while (at != std::string::npos) {
      const size_t next = response.code.find(' ', at + 1);
      const std::string word = response.code.substr(
          at + 1, next == std::string::npos ? next : next - at - 1);
      if (!word.empty()) capabilities_.insert(UpperAscii(word));
      at = next;
    }
  }
}

ImapError ImapSession::NetworkError(NetStatus status, const char* during) {
  ImapError error;
  error.fault = ImapFault::kNetwork;
  error.text = std::string(during) + ": " + NetStatusText(status);
  error.dropped = true;
  return error;
}

ImapError ImapSession::Run(const std::string& command,
                           const UntaggedHandler& onUntagged,
                           ImapResponse* done) {
  const std::string tag = NextTag();
  NetStatus status = Send(tag + " " + command + "\r\n");
  while (status == NetStatus::kOk) {
    status = Read(done);
    if (status != NetStatus::kOk) break;
    if (done->kind == ImapResponse::kTagged && done->tag == tag)
      return ImapError();
    if (done->kind == ImapResponse::kContinuation) {
      ImapError error;
      error.fault = ImapFault::kServer;
      error.text = "the server asked for more where no more was due";
      return error;
    }
    if (done->kind == ImapResponse::kUntagged && onUntagged) onUntagged(*done);
  }
  const std::string name = command.substr(0, command.find(' '));
  return NetworkError(status, name.c_str());
}

ImapError ImapSession::RefreshCapabilities() {
  ImapResponse done;
  ImapError error = Run("CAPABILITY", nullptr, &done);
  if (error.Ok() && done.word != "OK") {
    error.fault = ImapFault::kServer;
    error.text = "CAPABILITY refused: " + ServerSays(done);
  }
  return error;
}

ImapError ImapSession::Connect(const ImapAccount& account) {
  Close();
  const std::string where =
      "connecting to " + account.host + ":" + std::to_string(account.port);
  NetStatus status =
      tcp_.Connect(account.host, account.port, account.timeoutMs);
  if (status != NetStatus::kOk) {
    ImapError error = NetworkError(status, where.c_str());
    error.dropped = false;
    return error;
  }
  stream_ = &tcp_;
  const auto startTls = [&]() {
    tls_ = TlsStream::Create();
    const TlsResult result = tls_->Start(&tcp_, account.host, account.caFile);
    ImapError error;
    if (result.status == TlsStatus::kNetwork)
      return NetworkError(result.net, "TLS");
    if (result.status != TlsStatus::kOk) {
      error.fault = ImapFault::kTls;
      error.text = account.host + ": " + TlsResultText(result);
      return error;
    }
    stream_ = tls_.get();
    // Nothing read before the handshake counts after it.
    reader_.reset(new ResponseReader(stream_));
    return error;
  };
  ImapError error;
  if (account.implicitTls && !(error = startTls()).Ok()) return error;
  reader_.reset(new ResponseReader(stream_));
  ImapResponse greeting;
  status = Read(&greeting);
  if (status != NetStatus::kOk) return NetworkError(status, "greeting");
  if (greeting.kind != ImapResponse::kUntagged ||
      (greeting.word != "OK" && greeting.word != "PREAUTH")) {
    error.fault = ImapFault::kServer;
    error.text =
        "the server turned the connection down: " + ServerSays(greeting);
    return error;
  }
  if (!account.implicitTls) {
    if (capabilities_.empty() && !(error = RefreshCapabilities()).Ok())
      return error;
    if (!Has("STARTTLS")) {
      error.fault = ImapFault::kNoStartTls;
      error.text = account.host + " offers no STARTTLS on port " +
                   std::to_string(account.port) +
                   ": no login without TLS (imaps:// for a TLS port)";
      return error;
    }
    ImapResponse done;
    if (!(error = Run("STARTTLS", nullptr, &done)).Ok()) return error;
    if (done.word != "OK") {
      error.fault = ImapFault::kNoStartTls;
      error.text = "STARTTLS refused: " + ServerSays(done);
      return error;
    }
    if (!(error = startTls()).Ok()) return error;
    capabilities_.clear();  // what was said in the clear counts no more
  }
  if (capabilities_.empty()) error = RefreshCapabilities();
  return error;
}

ImapError ImapSession::Open(const ImapAccount& account) {
  ImapError error = Connect(account);
  if (error.Ok()) error = Login(account);
  if (!error.Ok()) Close();
  return error;
}

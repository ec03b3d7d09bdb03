#include "imap/memory_imap_server.h"

#include <stdlib.h>

#include <algorithm>
#include <deque>

#include "bytes/ascii.h"
#include "imap/imap_date.h"

namespace {

std::string FromBase64(const std::string& text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const size_t v = kDigits.find(c);
    if (v == std::string::npos) continue;
    bits = bits << 6 | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>(bits >> count & 0xFF);
    }
  }
  return out;
}

// A command's words: atoms, strings (quoted or literal), "(" and ")".
struct Token {
  bool string = false;
  std::string text;
};

// The literal marker at a line's end ("{5}", "{5+}", "~{5}"): its count,
// and whether it waits for the go-ahead.
bool LiteralMarker(const std::string& line, uint64_t* count, bool* sync) {
  if (line.empty() || line.back() != '}') return false;
  const size_t open = line.rfind('{');
  if (open == std::string::npos) return false;
  std::string digits = line.substr(open + 1, line.size() - open - 2);
  *sync = digits.empty() || digits.back() != '+';
  if (!*sync) digits.pop_back();
  if (digits.empty() ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *count = strtoull(digits.c_str(), nullptr, 10);
  return true;
}

std::vector<Token> Tokens(const std::vector<std::string>& lines,
                          const std::vector<std::string>& literals) {
  std::vector<Token> tokens;
  for (size_t piece = 0; piece < lines.size(); ++piece) {
    const std::string& line = lines[piece];
    size_t end = line.size();
    if (piece < literals.size()) end = line.rfind('{');
    if (end > 0 && end != line.size() && line[end - 1] == '~') --end;
    size_t i = 0;
    while (i < end) {
      const char c = line[i];
      if (c == ' ') {
        ++i;
      } else if (c == '(' || c == ')') {
        tokens.push_back({false, std::string(1, c)});
        ++i;
      } else if (c == '"') {
        Token t{true, ""};
        for (++i; i < end && line[i] != '"'; ++i) {
          if (line[i] == '\\' && i + 1 < end) ++i;
          t.text += line[i];
        }
        ++i;
        tokens.push_back(t);
      } else {
        const size_t start = i;
        while (i < end && line[i] != ' ' && line[i] != '(' && line[i] != ')')
          ++i;
        tokens.push_back({false, line.substr(start, i - start)});
      }
    }
    if (piece < literals.size()) tokens.push_back({true, literals[piece]});
  }
  return tokens;
}

// The header lines of message whose names are among names (upper case),
// as a server returns them for HEADER.FIELDS: name and colon exactly.
std::string HeaderFields(const std::string& message,
                         const std::vector<std::string>& names) {
  std::string out;
  bool keep = false;
  size_t at = 0;
  while (at < message.size()) {
    size_t end = message.find('\n', at);
    end = end == std::string::npos ? message.size() : end + 1;
    const std::string line = message.substr(at, end - at);
    at = end;
    if (line == "\r\n" || line == "\n") break;
    if (line[0] != ' ' && line[0] != '\t') {
      const std::string name = UpperAscii(line.substr(0, line.find(':')));
      keep = line.find(':') != std::string::npos &&
             std::find(names.begin(), names.end(), name) != names.end();
    }
    if (keep) out += line;
  }
  return out + "\r\n";
}

bool InSet(const std::string& set, uint32_t n, uint32_t last) {
  size_t at = 0;
  while (at <= set.size()) {
    size_t comma = set.find(',', at);
    if (comma == std::string::npos) comma = set.size();
    const std::string part = set.substr(at, comma - at);
    const size_t colon = part.find(':');
    const auto value = [&](const std::string& t) -> uint32_t {
      return t == "*" ? last : static_cast<uint32_t>(strtoul(t.c_str(), 0, 10));
    };
    uint32_t a = value(part.substr(0, colon)), b = a;
    if (colon != std::string::npos) b = value(part.substr(colon + 1));
    if (a > b) std::swap(a, b);
    if (n >= a && n <= b) return true;
    at = comma + 1;
  }
  return false;
}

}  // namespace

class MemoryImapServer::Pipe : public Connection {
 public:
  Pipe(MemoryImapServer* server, int number, bool tls, int timeoutMs)
      : server(server), number(number), tls(tls), timeoutMs(timeoutMs) {
    for (const Fault& f : server->faults)
      if (f.connection == 0 || f.connection == number) fault = f;
    ++server->openNow;
    if (server->greeting == "BYE" ||
        (server->limitByBye && server->openNow > server->connectionLimit)) {
      Answer("* BYE [LIMIT] too many connections\r\n");
      closing = true;
    } else if (server->greeting == "PREAUTH") {
      LogIn();
      Answer("* PREAUTH [CAPABILITY " + Capabilities() + "] logged in\r\n");
    } else {
      Answer("* OK [CAPABILITY " + Capabilities() + "] memory server\r\n");
    }
  }

  ~Pipe() override {
    --server->openNow;
    if (authenticated) --server->loggedIn;
  }

  void SetDeadline(int64_t ms) override { deadline = ms; }

  Status StartTls(const std::string&, const std::string&) override {
    tls = true;
    return Status::Ok();
  }

  bool ReadableNow() override {
    return cut || (!output.empty() && output.front().at <= Now()) ||
           (output.empty() && closing);
  }

  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    *got = 0;
    const int64_t limit = std::min(deadline, Now() + timeoutMs);
    for (;;) {
      if (cut) return NetStatus::kReset;
      if (!output.empty() && output.front().at <= Now()) {
        while (*got < size && !output.empty() && output.front().at <= Now()) {
          Chunk& c = output.front();
          const size_t n = std::min(size - *got, c.bytes.size());
          c.bytes.copy(buffer + *got, n);
          c.bytes.erase(0, n);
          *got += n;
          if (c.bytes.empty()) output.pop_front();
        }
        return NetStatus::kOk;
      }
      if (!output.empty() && output.front().at <= limit) {
        server->clock->WaitUntil(output.front().at, nullptr);
        continue;
      }
      if (output.empty() && closing) return NetStatus::kClosed;
      server->clock->WaitUntil(limit, nullptr);
      return NetStatus::kTimedOut;
    }
  }

  NetStatus Write(const char* data, size_t size) override {
    if (cut) return NetStatus::kReset;
    if (closing && output.empty()) return NetStatus::kClosed;
    uint64_t take = size;
    if (received + size > fault.cutAfter) take = fault.cutAfter - received;
    for (uint64_t i = 0; i < take; ++i) {
      ++received;
      if (received <= fault.silentAfter) Take(data[i]);
    }
    if (take < size) {
      cut = true;
      output.clear();
      return NetStatus::kReset;
    }
    return NetStatus::kOk;
  }

 private:
  struct Chunk {
    int64_t at;
    std::string bytes;
  };

  int64_t Now() const { return server->clock->NowMs(); }

  std::string Capabilities() const {
    std::string text;
    for (const std::string& c : authenticated ? server->after : server->before)
      if (!(tls && c == "STARTTLS")) text += (text.empty() ? "" : " ") + c;
    return text;
  }

  void Answer(const std::string& text) {
    if (silent) return;
    int64_t at = std::max(last, Now() + server->latencyMs);
    if (fault.trickleMs == 0) {
      output.push_back({at, text});
    } else {
      for (const char c : text)
        output.push_back({at += fault.trickleMs, std::string(1, c)});
    }
    last = at;
  }

  // A byte from the client: a literal's, or one of a line.
  void Take(char c) {
    if (literalLeft > 0) {
      literals.back() += c;
      --literalLeft;
      return;
    }
    if (c != '\n') {
      line += c;
      return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!saslTag.empty()) {
      const std::string tag = saslTag;
      saslTag.clear();
      Sasl(tag, saslMechanism, line);
      line.clear();
      return;
    }
    lines.push_back(line);
    line.clear();
    uint64_t count = 0;
    bool sync = false;
    if (LiteralMarker(lines.back(), &count, &sync)) {
      literals.emplace_back();
      literalLeft = count;
      if (sync && fault.okBeforeGoAhead) {
        Answer(Tag() + " OK taken\r\n");
      } else if (sync) {
        Answer("+ go ahead\r\n");
      }
      return;
    }
    Execute();
    lines.clear();
    literals.clear();
  }

  std::string Tag() const {
    return lines.empty() ? "*" : lines[0].substr(0, lines[0].find(' '));
  }

  void LogIn() {
    authenticated = true;
    ++server->loggedIn;
    server->mostAtOnce = std::max(server->mostAtOnce, server->loggedIn);
  }

  // After a login that the server would take: its answer.
  void Welcome(const std::string& tag, bool right) {
    if (!right) {
      Answer(tag + " NO [AUTHENTICATIONFAILED] wrong\r\n");
    } else if (server->loggedIn >= server->connectionLimit) {
      Answer(tag + " NO [LIMIT] too many connections\r\n");
    } else {
      LogIn();
      Answer(tag + " OK [CAPABILITY " + Capabilities() + "] logged in\r\n");
    }
  }

  void Sasl(const std::string& tag, const std::string& mechanism,
            const std::string& encoded) {
    const std::string bytes = FromBase64(encoded);
    server->log.push_back("SASL " + bytes);
    const bool right =
        mechanism == "PLAIN"
            ? bytes.size() > server->password.size() &&
                  bytes.compare(bytes.size() - server->password.size() - 1,
                                std::string::npos,
                                std::string(1, '\0') + server->password) == 0
            : bytes.find("auth=Bearer " + server->password + "\x01") !=
                  std::string::npos;
    Welcome(tag, right);
  }

  Folder* Find(const std::string& name) {
    const std::string key = UpperAscii(name) == "INBOX" ? "INBOX" : name;
    if (key == "INBOX") server->folders["INBOX"];
    const auto found = server->folders.find(key);
    return found == server->folders.end() ? nullptr : &found->second;
  }

  std::vector<Message*> Visible(Folder* folder) {
    std::vector<Message*> seen;
    for (Message& m : folder->messages)
      if (m.storedAt <= Now()) seen.push_back(&m);
    return seen;
  }

  void Fetch(const std::string& tag, bool byUid, const std::string& set,
             const std::string& items) {
    Folder* folder = selected.empty() ? nullptr : Find(selected);
    if (folder == nullptr) return Answer(tag + " BAD nothing selected\r\n");
    const std::vector<Message*> seen = Visible(folder);
    const std::string upper = UpperAscii(items);
    std::vector<std::string> names;
    const size_t fields = upper.find("HEADER.FIELDS (");
    if (fields != std::string::npos) {
      const size_t start = fields + 15, end = upper.find(')', start);
      std::string list = upper.substr(start, end - start) + " ";
      for (size_t at = 0, sp; (sp = list.find(' ', at)) != std::string::npos;
           at = sp + 1)
        if (sp > at) names.push_back(list.substr(at, sp - at));
    }
    const uint32_t last =
        seen.empty()
            ? 0
            : (byUid ? seen.back()->uid : static_cast<uint32_t>(seen.size()));
    for (size_t i = 0; i < seen.size(); ++i) {
      const Message& m = *seen[i];
      const uint32_t n = byUid ? m.uid : static_cast<uint32_t>(i + 1);
      if (!InSet(set, n, last)) continue;
      std::string text =
          "* " + std::to_string(i + 1) + " FETCH (UID " + std::to_string(m.uid);
      if (upper.find("RFC822.SIZE") != std::string::npos)
        text += " RFC822.SIZE " + std::to_string(m.bytes.size());
      if (upper.find("INTERNALDATE") != std::string::npos)
        text += " INTERNALDATE \"" + FormatImapDate(m.date) + "\"";
      if (!names.empty()) {
        const std::string h = HeaderFields(m.bytes, names);
        text +=
            " BODY[HEADER.FIELDS (" +
            upper.substr(fields + 15, upper.find(')', fields) - fields - 15) +
            ")] {" + std::to_string(h.size()) + "}\r\n" + h;
      }
      if (upper.find("BODY.PEEK[]") != std::string::npos)
        text +=
            " BODY[] {" + std::to_string(m.bytes.size()) + "}\r\n" + m.bytes;
      Answer(text + ")\r\n");
    }
    Answer(tag + " OK fetched\r\n");
  }

  void Append(const std::string& tag, const std::vector<Token>& t) {
    if (t.size() < 3) return Answer(tag + " BAD append what\r\n");
    Folder* folder = Find(t[2].text);
    if (folder == nullptr)
      return Answer(tag + " NO [TRYCREATE] no such folder\r\n");
    std::vector<Message> taken;
    for (size_t i = 3; i < t.size();) {
      Message m;
      if (t[i].text == "(" && !t[i].string) {
        for (++i; i < t.size() && !(t[i].text == ")" && !t[i].string); ++i)
          m.flags += (m.flags.empty() ? "" : " ") + t[i].text;
        ++i;
      }
      if (i + 1 < t.size() && t[i].string && t[i + 1].string) {
        if (server->keepsDates) ParseImapDate(t[i].text, &m.date);
        ++i;
      }
      if (!server->keepsDates || m.date == 0)
        m.date = 1700000000 + Now() / 1000;
      if (i >= t.size() || !t[i].string)
        return Answer(tag + " BAD append without a message\r\n");
      m.bytes = t[i++].text;
      taken.push_back(m);
    }
    const uint32_t first = folder->uidNext;
    for (Message& m : taken) {
      m.uid = folder->uidNext++;
      m.storedAt = Now() + server->storeDelayMs;
      folder->messages.push_back(m);
    }
    Answer(tag + " OK [APPENDUID 1 " + std::to_string(first) + ":" +
           std::to_string(folder->uidNext - 1) + "] appended\r\n");
  }

  void Execute() {
    std::string text = lines[0];
    for (size_t i = 1; i < lines.size(); ++i) text += "\n" + lines[i];
    server->log.push_back(text);
    const std::vector<Token> t = Tokens(lines, literals);
    const std::string tag = t.empty() ? "*" : t[0].text;
    const std::string verb = t.size() > 1 ? UpperAscii(t[1].text) : "";
    ++commands;
    if (fault.byeAfter >= 0 && commands > fault.byeAfter) {
      if (!silent) Answer("* BYE " + fault.byeText + "\r\n");
      silent = true;
      return;
    }
    if (verb == "CAPABILITY") {
      Answer("* CAPABILITY " + Capabilities() + "\r\n" + tag + " OK\r\n");
    } else if (verb == "STARTTLS") {
      Answer(tag + " OK begin TLS\r\n");
    } else if (verb == "LOGOUT") {
      Answer("* BYE bye\r\n" + tag + " OK\r\n");
      closing = true;
    } else if (verb == "NOOP" || verb == "UNSELECT" || verb == "CLOSE") {
      selected.clear();
      Answer(tag + " OK\r\n");
    } else if (verb == "AUTHENTICATE" && t.size() >= 3) {
      if (t.size() >= 4) return Sasl(tag, UpperAscii(t[2].text), t[3].text);
      saslTag = tag;
      saslMechanism = UpperAscii(t[2].text);
      Answer("+ \r\n");
    } else if (verb == "LOGIN" && t.size() >= 4) {
      server->log.push_back("LOGIN " + t[2].text + " " + t[3].text);
      Welcome(tag, t[3].text == server->password);
    } else if (!authenticated) {
      Answer(tag + " BAD log in first\r\n");
    } else if (verb == "LIST" && t.size() >= 4) {
      if (t[3].text.empty()) {
        Answer("* LIST (\\Noselect) \".\" \"\"\r\n");
      } else if (Find(t[3].text) != nullptr) {
        Answer("* LIST () \".\" \"" + t[3].text + "\"\r\n");
      }
      Answer(tag + " OK\r\n");
    } else if (verb == "CREATE" && t.size() >= 3) {
      if (Find(t[2].text) != nullptr)
        return Answer(tag + " NO [ALREADYEXISTS] there\r\n");
      server->folders[t[2].text];
      Answer(tag + " OK\r\n");
    } else if ((verb == "EXAMINE" || verb == "SELECT") && t.size() >= 3) {
      Folder* folder = Find(t[2].text);
      if (folder == nullptr) return Answer(tag + " NO no such folder\r\n");
      selected = t[2].text;
      Answer("* " + std::to_string(Visible(folder).size()) + " EXISTS\r\n" +
             tag + " OK\r\n");
    } else if (verb == "STATUS" && t.size() >= 3) {
      Folder* folder = Find(t[2].text);
      if (folder == nullptr) return Answer(tag + " NO no such folder\r\n");
      Answer("* STATUS \"" + t[2].text + "\" (MESSAGES " +
             std::to_string(Visible(folder).size()) + ")\r\n" + tag +
             " OK\r\n");
    } else if (verb == "FETCH" && t.size() >= 3) {
      Fetch(tag, false, t[2].text, lines[0]);
    } else if (verb == "UID" && t.size() >= 4 &&
               UpperAscii(t[2].text) == "FETCH") {
      Fetch(tag, true, t[3].text, lines[0]);
    } else if (verb == "APPEND") {
      Append(tag, t);
    } else {
      Answer(tag + " BAD what\r\n");
    }
  }

  MemoryImapServer* const server;
  const int number;
  bool tls;
  const int timeoutMs;
  Fault fault;
  int64_t deadline = kNoDeadline;
  std::deque<Chunk> output;
  int64_t last = 0;  // when the last byte queued is due
  uint64_t received = 0;
  bool cut = false, silent = false, closing = false;
  // The command being read: its lines, and the literals between them.
  std::string line;
  std::vector<std::string> lines, literals;
  uint64_t literalLeft = 0;
  std::string saslTag, saslMechanism;  // an AUTHENTICATE awaiting its data
  int commands = 0;
  bool authenticated = false;
  std::string selected;
};

MemoryImapServer::MemoryImapServer(ManualClock* clock) : clock(clock) {}

MemoryImapServer::~MemoryImapServer() {}

Status MemoryImapServer::Open(const std::string& host, uint16_t, bool tls,
                              const std::string&, int timeoutMs,
                              std::unique_ptr<Connection>* connection) {
  if (host == "unreachable")
    return Status::Of(StatusKind::kUnreachable,
                      "connecting to unreachable: connection refused");
  ++opened;
  connection->reset(new Pipe(this, opened, tls, timeoutMs));
  return Status::Ok();
}

std::vector<MemoryImapServer::Message> MemoryImapServer::Seen(
    const std::string& folder) const {
  std::vector<Message> seen;
  const auto found = folders.find(folder);
  if (found == folders.end()) return seen;
  for (const Message& m : found->second.messages)
    if (m.storedAt <= clock->NowMs()) seen.push_back(m);
  return seen;
}

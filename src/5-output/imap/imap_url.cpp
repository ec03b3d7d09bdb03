#include "imap/imap_url.h"

#include "bytes/ascii.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = FoldAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = cp << 6 | (b & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

// Percent-decodes part; false, with *why, for a bad escape, a control
// character or bytes that are not UTF-8.
bool Decode(const std::string& part, const char* what, std::string* out,
            std::string* why) {
  out->clear();
  for (size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '%') {
      *out += part[i];
      continue;
    }
    const int high = i + 2 < part.size() ? HexValue(part[i + 1]) : -1;
    const int low = i + 2 < part.size() ? HexValue(part[i + 2]) : -1;
    if (high < 0 || low < 0) {
      *why = std::string("a \"%\" in the ") + what +
             " that is not followed by two hexadecimal digits";
      return false;
    }
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  for (const char c : *out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      *why = std::string("a control character in the ") + what;
      return false;
    }
  }
  if (!ValidUtf8(*out)) {
    *why = std::string("the ") + what + " is not UTF-8";
    return false;
  }
  return true;
}

}  // namespace

bool LooksLikeImapUrl(const std::string& text) {
  const std::string start = FoldedAscii(text.substr(0, 8));
  return start.compare(0, 7, "imap://") == 0 || start == "imaps://";
}

bool ParseImapUrl(const std::string& text, ImapUrl* url, std::string* why) {
  *url = ImapUrl();
  if (!LooksLikeImapUrl(text)) {
    *why = "it does not start with imaps:// or imap://";
    return false;
  }
  url->implicitTls = FoldAscii(text[4]) == 's';
  url->port = url->implicitTls ? 993 : 143;
  const size_t authorityStart = url->implicitTls ? 8 : 7;
  size_t slash = text.find('/', authorityStart);
  if (slash == std::string::npos) slash = text.size();
  const std::string authority =
      text.substr(authorityStart, slash - authorityStart);
  if (text.find_first_of("?#", authorityStart) != std::string::npos) {
    *why =
        "a \"?\" or \"#\" in it (a folder name with one is written %3F, %23)";
    return false;
  }
  const size_t at = authority.rfind('@');
  if (at == std::string::npos || at == 0) {
    *why = "no user name before the host (imaps://USER@HOST/FOLDER)";
    return false;
  }
  const std::string userInfo = authority.substr(0, at);
  if (userInfo.find(':') != std::string::npos) {
    *why =
        "a password in the URL, where anyone who can list processes or "
        "read the shell's history would see it: give it in "
        "KORVANE_PASSWORD or at the prompt";
    return false;
  }
  if (!Decode(userInfo, "user name", &url->user, why)) return false;
  std::string hostPort = authority.substr(at + 1);
  size_t portAt = std::string::npos;
  if (!hostPort.empty() && hostPort[0] == '[') {
    const size_t close = hostPort.find(']');
    if (close == std::string::npos) {
      *why = "an IPv6 address without its \"]\"";
      return false;
    }
    url->host = hostPort.substr(1, close - 1);
    if (close + 1 < hostPort.size()) {
      if (hostPort[close + 1] != ':') {
        *why = "something after the IPv6 address that is no port";
        return false;
      }
      portAt = close + 1;
    }
  } else {
    portAt = hostPort.find(':');
    url->host = hostPort.substr(0, portAt);
  }
  const size_t bad = url->host.find_first_of(" %@[]/\\");
  if (url->host.empty() || bad != std::string::npos) {
    *why = url->host.empty()
               ? std::string("no host name")
               : "a \"" + url->host.substr(bad, 1) + "\" in the host name";
    return false;
  }
  if (portAt != std::string::npos) {
    const std::string digits = hostPort.substr(portAt + 1);
    unsigned long port = 0;
    bool good = !digits.empty() && digits.size() <= 5;
    for (const char c : digits) {
      good = good && c >= '0' && c <= '9';
      port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (!good || port == 0 || port > 65535) {
      *why = "the port is not a number from 1 to 65535";
      return false;
    }
    url->port = static_cast<uint16_t>(port);
  }
  std::string path = slash < text.size() ? text.substr(slash + 1) : "";
  if (!path.empty() && path.back() == '/') path.pop_back();
  for (size_t begin = 0; !path.empty() && begin <= path.size();) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string name;
    if (!Decode(path.substr(begin, end - begin), "folder name", &name, why))
      return false;
    if (name.empty()) {
      *why = "an empty folder name (\"//\") in the path";
      return false;
    }
    url->folder.push_back(name);
    begin = end + 1;
  }
  return true;
}

bool ReadImapPlace(const std::string& text, AccountPlace* place,
                   std::string* why) {
  ImapUrl url;
  if (!ParseImapUrl(text, &url, why)) return false;
  place->user = url.user;
  place->host = url.host;
  place->folder.clear();
  for (const std::string& name : url.folder)
    place->folder += (place->folder.empty() ? "" : "/") + name;
  return true;
}

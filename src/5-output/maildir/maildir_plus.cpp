#include "maildir/maildir_plus.h"

#include "bytes/ascii.h"
#include "bytes/modified_utf7.h"

std::string MaildirPlusName(const std::string& name) {
  // The modified UTF-7 form holds printable ASCII only, and its shifted
  // runs hold no "." or "\": the escapes apply to the name's own.
  const std::string imap = ModifiedUtf7(name);
  std::string out;
  for (const char c : imap) {
    if (c == '.') {
      out += "\\2e";
    } else if (c == '\\') {
      out += "\\5c";
    } else if (c == '~' && out.empty()) {
      out += "\\7e";
    } else {
      out += c;
    }
  }
  return out;
}

bool IsInboxName(const std::string& name) {
  return FoldedAscii(name) == "inbox";
}

std::string MaildirPlusFolder(const std::vector<std::string>& path) {
  std::string folder;
  for (size_t i = 0; i < path.size(); ++i) {
    folder += '.';
    if (i == 0 && IsInboxName(path[0])) {
      if (path.size() == 1) return "";
      folder += "INBOX";
    } else {
      folder += MaildirPlusName(path[i]);
    }
  }
  return folder;
}

// The destination as the user names it: imaps://USER@HOST[:PORT]/FOLDER
// (TLS from the start, port 993) or imap://... (STARTTLS, port 143). The
// path's names, split at "/", are percent-decoded UTF-8; an empty path is
// INBOX. A password in the URL is refused: it would show in the process
// list and the shell's history.
#ifndef KORVANE_IMAP_IMAP_URL_H_
#define KORVANE_IMAP_IMAP_URL_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "account/account_access.h"

struct ImapUrl {
  bool implicitTls = true;
  std::string user;
  std::string host;  // an IPv6 address without its brackets
  uint16_t port = 993;
  std::vector<std::string> folder;  // names from the top; none for INBOX
};

// Whether text starts with imap:// or imaps:// (in any case).
bool LooksLikeImapUrl(const std::string& text);

// False, with *why, where text is no such URL.
bool ParseImapUrl(const std::string& text, ImapUrl* url, std::string* why);

// The same, telling only who logs in where; the folder with "/" between
// its names, "" for INBOX.
bool ReadImapPlace(const std::string& text, AccountPlace* place,
                   std::string* why);

#endif  // KORVANE_IMAP_IMAP_URL_H_

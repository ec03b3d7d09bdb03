#include "provider/provider.h"

#include <stdlib.h>

#include "bytes/ascii.h"

#ifndef KORVANE_MICROSOFT_CLIENT_ID
#define KORVANE_MICROSOFT_CLIENT_ID ""
#endif
#ifndef KORVANE_GOOGLE_CLIENT_ID
#define KORVANE_GOOGLE_CLIENT_ID ""
#endif
#ifndef KORVANE_GOOGLE_CLIENT_SECRET
#define KORVANE_GOOGLE_CLIENT_SECRET ""
#endif

namespace {

const uint64_t kMB = 1000 * 1000;
const uint64_t kMiB = 1024 * 1024;

const Provider kProviders[] = {
    {"microsoft", "Microsoft (Outlook.com, Microsoft 365)",
     "outlook.office365.com",
     "outlook.office365.com outlook.office.com imap-mail.outlook.com",
     "outlook.com hotmail.com live.com msn.com",
     "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode",
     // Basic authentication ended for Microsoft 365 in 2022 and for
     // Outlook.com in 2024: IMAP takes only this.
     "https://outlook.office.com/IMAP.AccessAsUser.All offline_access", "",
     false, KORVANE_MICROSOFT_CLIENT_ID, "",
     "Into Outlook.com or Microsoft 365",
     "Microsoft takes no password over IMAP; an access token of your own "
     "can go into KORVANE_OAUTH2_TOKEN",
     false,
     // Exchange Online: 20 IMAP connections per mailbox.
     20,
     // What migration tools send at most; an admin can raise the
     // organisation's limit, which the server does not announce.
     45 * kMiB, 0, FolderNameRule::kCaseInsensitive},
    {"google", "Google (Gmail)", "imap.gmail.com",
     "imap.gmail.com imap.googlemail.com", "gmail.com googlemail.com",
     "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token",
     // Google's device flow refuses the mail scope (invalid_scope).
     "", "https://mail.google.com/", "access_type=offline", true,
     KORVANE_GOOGLE_CLIENT_ID, KORVANE_GOOGLE_CLIENT_SECRET, "Into Gmail",
     "or use an app password (Google account, Security, App passwords) in "
     "KORVANE_PASSWORD",
     true,
     // 15 connections at once; about 500 MB of IMAP upload a day; the
     // APPENDLIMIT Gmail announces.
     15, 35882577, 500 * kMB, FolderNameRule::kGmailTree},
};

// Whether word is one of the blank-separated words of list (any case).
bool Among(const std::string& word, const char* list) {
  const std::string folded = FoldedAscii(word), words = list;
  size_t at = 0;
  while (at < words.size()) {
    size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    if (words.compare(at, end - at, folded) == 0) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

const Provider* ProviderForHost(const std::string& host) {
  for (const Provider& p : kProviders)
    if (Among(host, p.hosts)) return &p;
  return nullptr;
}

const Provider* ProviderNamed(const std::string& name) {
  for (const Provider& p : kProviders)
    if (FoldedAscii(name) == p.name) return &p;
  return nullptr;
}

const Provider* ProviderForAddress(const std::string& address) {
  const size_t at = address.rfind('@');
  if (at == std::string::npos) return nullptr;
  for (const Provider& p : kProviders)
    if (Among(address.substr(at + 1), p.domains)) return &p;
  return nullptr;
}

const Provider* ProviderFromEnvironment(const std::string& host,
                                        std::string* unknown) {
  const char* name = getenv("KORVANE_PROVIDER");
  if (!name || !*name) return ProviderForHost(host);
  const Provider* p = ProviderNamed(name);
  if (!p) *unknown = name;
  return p;
}

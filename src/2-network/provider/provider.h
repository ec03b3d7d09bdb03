// The mail providers korvane knows more of than IMAP tells: how an account
// there signs in (OAuth2) and the limits the provider sets on an upload.
// One row per provider, chosen by the IMAP host (KORVANE_PROVIDER picks a
// row for any host); everything that differs between providers is a field
// here, nowhere else.
#ifndef KORVANE_PROVIDER_PROVIDER_H_
#define KORVANE_PROVIDER_PROVIDER_H_

#include <stdint.h>

#include <string>

// Folder names the provider refuses or keeps for itself.
enum class FolderNameRule {
  kNone,
  // Gmail: "[Gmail]" at the top of the account holds its own folders.
  kGmailTree,
  // Exchange: names that differ only in letter case are one folder.
  kCaseInsensitive,
};

struct Provider {
  const char* name;      // KORVANE_PROVIDER's value: "microsoft", "google"
  const char* title;     // for people: "Microsoft (Outlook.com, Microsoft 365)"
  const char* imapHost;  // where its accounts are: "imap.gmail.com"
  const char* hosts;     // every IMAP host that is its, blank between
  const char* domains;   // mail domains of its own, blank between

  // OAuth2 (RFC 6749) with PKCE (RFC 7636).
  const char* authorizeUrl;
  const char* tokenUrl;
  const char* deviceUrl;  // "": its device flow gives no IMAP access
  const char* scope;
  const char* authorizeFields;  // more fields for the authorization URL
  bool sendsSecret;             // the client secret goes with token requests
  // The client registration built in (CMake options KORVANE_*_CLIENT_ID,
  // empty in this tree): whoever publishes a build registered with the
  // provider puts theirs in. Another application's is never borrowed.
  const char* clientId;
  const char* clientSecret;
  const char* guide;  // the README's section on it
  // For a user without a client ID: what else can be done (one line).
  const char* otherWay;
  // IMAP takes a password too (Gmail's app passwords), not only a token.
  bool passwords;

  // Limits.
  int maxConnections;         // at once, per account
  uint64_t maxMessageBytes;   // where the server announces no APPENDLIMIT
  uint64_t dailyUploadBytes;  // 0: no daily limit known
  FolderNameRule folderNames;
};

// The row for an IMAP host (any case), or null for a host of no provider
// korvane knows.
const Provider* ProviderForHost(const std::string& host);

// The row named name ("microsoft", "google"), or null.
const Provider* ProviderNamed(const std::string& name);

// The row for a mail address by its domain (gmail.com, outlook.com, ...);
// null for a domain of its own (Microsoft 365, Google Workspace), whose
// provider only the IMAP host tells.
const Provider* ProviderForAddress(const std::string& address);

// ProviderForHost, or the row KORVANE_PROVIDER names where it is set
// (then *unknown is set to its value when it names no row).
const Provider* ProviderFromEnvironment(const std::string& host,
                                        std::string* unknown);

#endif  // KORVANE_PROVIDER_PROVIDER_H_

// Where and as whom to log in, and how an IMAP step failed.
#ifndef KORVANE_IMAP_IMAP_ACCOUNT_H_
#define KORVANE_IMAP_IMAP_ACCOUNT_H_

#include <stdint.h>

#include <string>
#include <utility>

#include "account/account_access.h"

typedef AccountCredentials ImapCredentials;

struct ImapAccount {
  std::string host;
  uint16_t port = 993;
  bool implicitTls = true;  // imaps://; else STARTTLS on the open connection
  std::string user;
  ImapCredentials credentials;
  std::string caFile;      // KORVANE_CA_FILE: trusted besides the system's
  int timeoutMs = 120000;  // per connect, read and write
  // An OAuth2 token goes by XOAUTH2 even where OAUTHBEARER is offered too.
  bool xoauth2 = false;
};

enum class ImapFault {
  kNone,
  kNetwork,        // connecting, or the connection broke
  kTls,            // the handshake, or the certificate
  kNoStartTls,     // imap:// to a server that offers no STARTTLS
  kNoLoginMethod,  // no way to log in that the credentials allow
  kLogin,          // the server refused the credentials
  kFolder,         // the folder cannot be used or created
  kServer,         // the server refused a step, or sent no sense
  kGaveUp,         // the connection broke too often
};

struct ImapError {
  ImapFault fault = ImapFault::kNone;
  // One line; it may hold the server's own words, which the caller escapes
  // before printing.
  std::string text;
  // For kNetwork: a connection that was open broke (not: none was made).
  bool dropped = false;

  static ImapError Fault(ImapFault fault, std::string text) {
    ImapError error;
    error.fault = fault;
    error.text = std::move(text);
    return error;
  }

  bool Ok() const { return fault == ImapFault::kNone; }
  // Whether a new connection may get further (the network failed).
  bool Retryable() const { return fault == ImapFault::kNetwork; }
};

#endif  // KORVANE_IMAP_IMAP_ACCOUNT_H_

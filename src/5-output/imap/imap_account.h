// Where and as whom to log in, and how the connections are made and timed.
#ifndef KORVANE_IMAP_IMAP_ACCOUNT_H_
#define KORVANE_IMAP_IMAP_ACCOUNT_H_

#include <stdint.h>

#include <atomic>
#include <string>

#include "account/account_access.h"
#include "net/byte_stream.h"
#include "net/clock.h"
#include "provider/provider.h"
#include "status/notice.h"
#include "status/status.h"

typedef AccountCredentials ImapCredentials;

struct ImapAccount {
  std::string host;
  uint16_t port = 993;
  bool implicitTls = true;  // imaps://; else STARTTLS on the open connection
  std::string user;
  ImapCredentials credentials;
  std::string caFile;  // KORVANE_CA_FILE: trusted besides the system's
  // Per connect, per response (and a second more per 64 KiB of it), and
  // per 256 KiB written: KORVANE_IMAP_TIMEOUT.
  int timeoutMs = 60000;
  // An OAuth2 token goes by XOAUTH2 even where OAUTHBEARER is offered too.
  bool xoauth2 = false;
  // The provider the host is (its limits), or null.
  const Provider* provider = nullptr;
  // Where what is no failure is told (waiting as the server asked, fewer
  // connections than asked for, a server that keeps no dates); null for
  // nowhere.
  NoticeSink* notices = nullptr;
};

class ConnectionGate;

// What the IMAP code opens its connections with and times them by (the
// network and the system's clock, or, in the tests, an in-memory server
// and a clock that moves only when waited on), and what stops it.
struct ImapLinks {
  Connector* connector = nullptr;  // null: NetworkConnector()
  Clock* clock = nullptr;          // null: SystemClock()
  // Set, from any thread, to stop (the user pressed Ctrl-C); null: never.
  const std::atomic<bool>* cancel = nullptr;
  // The connections to the account open at once; null: the process's.
  ConnectionGate* gate = nullptr;
};

// Whether a new connection may get further: the network failed (none
// could be made, or the one there was broke or went silent), where the
// server did not refuse.
inline bool IsNetworkFailure(const Status& status) {
  return status.Kind() == StatusKind::kConnectionLost ||
         status.Kind() == StatusKind::kTimedOut ||
         status.Kind() == StatusKind::kUnreachable;
}

#endif  // KORVANE_IMAP_IMAP_ACCOUNT_H_

// An IMAP server in memory, for the client's unit tests: a Connector whose
// connections reach it without a socket, on the tests' ManualClock. It
// keeps folders of messages and answers what the client sends (the
// greeting, CAPABILITY, STARTTLS, AUTHENTICATE, LOGIN, LIST, CREATE,
// EXAMINE, FETCH, UID FETCH, STATUS, APPEND with MULTIAPPEND and every
// kind of literal, UNSELECT, LOGOUT), and it can misbehave as servers do:
// cut a connection, fall silent, trickle its bytes, answer late, refuse a
// login for its connection limit, say BYE, store an append some time after
// it has answered, or keep no internal dates.
//
// Nothing runs on a thread of its own: the server works while the client
// writes, and while the client waits for bytes the clock moves on to the
// moment the next of them is due, or to the client's deadline. A silent
// server therefore costs a test no real time.
#ifndef KORVANE_IMAP_MEMORY_IMAP_SERVER_H_
#define KORVANE_IMAP_MEMORY_IMAP_SERVER_H_

#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/byte_stream.h"
#include "net/clock.h"

class MemoryImapServer : public Connector {
 public:
  struct Message {
    uint32_t uid = 0;
    std::string bytes;
    int64_t date = 0;  // internal date, seconds since 1970
    std::string flags;
    int64_t storedAt = 0;  // on the clock: from then on it is seen
  };
  struct Folder {
    std::vector<Message> messages;
    uint32_t uidNext = 1;
  };

  // How one connection misbehaves; connection counts from 1 (0: each).
  struct Fault {
    int connection = 0;
    // After the client has sent this many bytes on it, the connection is
    // cut both ways (what it sent beyond is lost), or the server falls
    // silent (reads on, answers nothing).
    uint64_t cutAfter = UINT64_MAX;
    uint64_t silentAfter = UINT64_MAX;
    // Every byte of an answer a while after the one before.
    int trickleMs = 0;
    // After this many commands, an untagged BYE with this text, the
    // connection left open.
    int byeAfter = -1;
    std::string byeText = "shutting down";
    // A synchronizing literal is answered with a tagged OK instead of the
    // go-ahead.
    bool okBeforeGoAhead = false;
  };

  explicit MemoryImapServer(ManualClock* clock);
  ~MemoryImapServer() override;

  Status Open(const std::string& host, uint16_t port, bool tls,
              const std::string& caFile, int timeoutMs,
              std::unique_ptr<Connection>* connection) override;

  // What it offers before and after the login.
  std::string greeting = "OK";  // or PREAUTH, or BYE
  std::set<std::string> before = {"IMAP4rev1", "AUTH=PLAIN", "SASL-IR",
                                  "STARTTLS"};
  std::set<std::string> after = {"IMAP4rev1", "MULTIAPPEND", "LITERAL+",
                                 "UIDPLUS",   "UNSELECT",    "BINARY"};
  std::string password = "secret";
  // Connections logged in at once beyond this are refused NO [LIMIT]
  // (or greeted with BYE, with limitByBye).
  int connectionLimit = 1000;
  bool limitByBye = false;
  // A completed APPEND's messages are seen this long after it was taken
  // (the server was still storing them).
  int storeDelayMs = 0;
  // Every answer this long after its command.
  int latencyMs = 0;
  // The internal date of an append: the one given, or the clock's.
  bool keepsDates = true;
  std::vector<Fault> faults;

  std::map<std::string, Folder> folders;

  // Connections opened, open now, and the most open at once.
  int Opened() const { return opened; }
  int OpenNow() const { return openNow; }
  int MostAtOnce() const { return mostAtOnce; }
  // Every command line received, literals as "{n}"; decoded SASL initial
  // responses as "SASL <bytes>"; LOGIN's literals as they came.
  const std::vector<std::string>& Log() const { return log; }
  // The messages of a folder the clock has reached.
  std::vector<Message> Seen(const std::string& folder) const;

 private:
  class Pipe;
  friend class Pipe;

  ManualClock* const clock;
  int opened = 0, openNow = 0, loggedIn = 0, mostAtOnce = 0;
  std::vector<std::string> log;
};

#endif  // KORVANE_IMAP_MEMORY_IMAP_SERVER_H_

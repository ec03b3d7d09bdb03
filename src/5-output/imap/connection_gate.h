// How many connections the uploads of one process keep open to one account
// at once: no more than the server allows. Each uploader enters before it
// logs in and leaves when its connection ends. A login the server refuses
// for its limit (NO [LIMIT], or a BYE saying so) while others of the
// process are open makes their number the limit: the refused one waits
// until one of them leaves and goes on, so that a tree run with more jobs
// than the server takes connections completes with fewer.
#ifndef KORVANE_IMAP_CONNECTION_GATE_H_
#define KORVANE_IMAP_CONNECTION_GATE_H_

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

class ConnectionGate {
 public:
  // The gate of user's account on host:port in this process.
  static ConnectionGate* For(const std::string& host, uint16_t port,
                             const std::string& user);

  // Waits until fewer than the limit are open, then counts one more open.
  // False, without entering, once *cancel turns true (cancel may be null).
  bool Enter(const std::atomic<bool>* cancel);
  // The connection that entered is logged in (and where more are than the
  // limit, the limit is that many).
  void LoggedIn();
  // It ends; loggedIn: after LoggedIn.
  void Leave(bool loggedIn);
  // The login of a connection that had entered was refused for the
  // server's limit: it leaves. True where others are logged in: their
  // number is the limit now, and entering again waits for room (and
  // *lowered tells whether that made the limit lower). False where none is
  // (the server's other clients take its connections).
  bool Refused(bool* lowered = nullptr);

  // The limit a refusal set; 0 while none has.
  int Limit() const;
  // The most logged in at once.
  int MostLoggedIn() const;

 private:
  mutable std::mutex mutex;
  std::condition_variable room;
  int open = 0, loggedIn = 0;
  int limit = 0;
  int mostLoggedIn = 0;
};

#endif  // KORVANE_IMAP_CONNECTION_GATE_H_

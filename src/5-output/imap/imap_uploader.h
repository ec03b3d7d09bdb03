// Messages into one folder of an IMAP account: logs in, finds or creates
// the folder, reads what it holds, then appends each message with \Seen
// and its own internal date, skipping what is already there (FolderIndex).
// Each message goes with its identity in a header field of its own at its
// top (X-Korvane-Id: the SHA-256 of its message file), and nothing else
// added. Where the server allows it, many messages go in one command
// (MULTIAPPEND) and no answer is waited for before the next is sent
// (LITERAL+, LITERAL-). A message the server refuses is reported with its
// words and the run goes on; a connection that breaks or falls silent is
// opened again, within a number of tries and a time, and what it had not
// confirmed is checked against the folder once more and sent again where
// missing. Every pause and wait is one of the links' clock.
//
// A provider's limits are kept: a message over the size the server
// announces (APPENDLIMIT, RFC 7889), or else the provider's, is refused
// without being sent; where the server asks for a pause (Microsoft's
// "Suggested Backoff Time"), nothing more is sent until it is over, and
// what it turned down goes again; where a provider says its daily limit is
// reached (Gmail's OVERQUOTA), the upload ends with a kDailyLimit status,
// what was not taken neither refused nor lost: a later run sends it.
#ifndef KORVANE_IMAP_IMAP_UPLOADER_H_
#define KORVANE_IMAP_IMAP_UPLOADER_H_

#include <stdint.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framing/message_sink.h"
#include "imap/connection_gate.h"
#include "imap/folder_index.h"
#include "imap/imap_session.h"

struct ImapMessage {
  std::string bytes;     // the message file, CR LF line ends
  int64_t internalDate;  // seconds since 1970 UTC
  // The SHA-256 of its message file as the .eml file holds it (the line
  // ends as stored), in hexadecimal; "": that of bytes.
  std::string identity;
  // Its number in a refusal's words ("message 12: ..."); 0: its place in
  // the order given, from 1.
  uint32_t label = 0;
};

enum class UploadOutcome { kUploaded, kAlreadyThere, kRefused };

struct UploadResult {
  uint64_t number = 0;  // the message's place in the order given, from 0
  UploadOutcome outcome = UploadOutcome::kUploaded;
  uint32_t uid = 0;        // the server's UID, where it tells (UIDPLUS)
  std::string serverText;  // why it was refused, in the server's words
};

struct UploadSettings {
  // Per MULTIAPPEND command. A server may do work per command that grows
  // with the folder (Dovecot's Maildir in memory, 20,000 messages: 15,500
  // a second with 100 per command, 26,500 with 250, 36,000 with 1000; on
  // a disk 2,800, 3,300 and 3,300). But a bigger batch takes the server
  // longer to store after the connection broke (or the run was killed),
  // and until it has, it looks missing to the next connection: with 250,
  // the cut-connection tests found copies twice.
  size_t batchMessages = 100;
  size_t batchBytes = 8 << 20;      // and at most about this many bytes
  size_t inFlightBytes = 32 << 20;  // sent but not answered yet
  size_t inFlightCommands = 64;
  bool multiappend = true;  // use MULTIAPPEND where offered
  bool literalPlus = true;  // use LITERAL+ / LITERAL- where offered
  bool binary = true;       // NUL bytes as they are where BINARY is offered
  int tries = 5;            // new connections after a break, in a row
  int firstPauseMs = 1000;  // before the first; doubled for each next
};

class ImapUploader {
 public:
  typedef std::function<void(const UploadResult&)> ResultHandler;

  // links.cancel stops it: no message is sent after it, the answers to
  // what was sent are waited for (a few seconds at most), and every call
  // from then on fails with kCancelled. links.gate null: the process's
  // gate of the account.
  ImapUploader(const ImapAccount& account, const UploadSettings& settings,
               ResultHandler onResult, const ImapLinks& links = ImapLinks());
  ~ImapUploader();

  // Logs in and opens the folder at path (UTF-8 names from the top; none
  // for INBOX), creating it when missing, and reads what it holds, once
  // its count has held still: a run cut off a moment ago may have sent
  // messages the server is still storing.
  Status Open(const std::vector<std::string>& path);

  // One message: reported as already there at once, or queued and sent
  // with the next batch (its bytes taken over, not copied).
  Status Add(ImapMessage message);

  // Sends what is queued and waits for every answer.
  Status Finish();

  // The messages' fates so far; refusals as "message LABEL: words".
  const DeliveryTally& Tally() const { return tally; }
  // New connections made after one broke.
  uint64_t Reconnects() const { return reconnects; }

 private:
  struct Pending {
    uint64_t number = 0;
    uint32_t label = 0;
    std::string identity;
    std::string messageId;
    int64_t date = 0;
    std::string bytes;    // without the identity's line
    bool binary = false;  // NUL bytes kept, sent as literal8
    bool nulsAsBlanks = false;
    // Refused in a batch: goes again in a command of its own.
    bool alone = false;
    // Messages of the folder without an identity that may be this one.
    std::vector<uint32_t> candidates;
    // The literal: the identity's line and the bytes.
    uint64_t Size() const;
  };
  struct Command {
    std::string tag;
    std::vector<Pending> messages;
    size_t bytes = 0;
  };

  bool Cancelled() const;
  void Tell(const Notice& notice);
  // Through the gate: a refusal for the server's limit while others of
  // the process are logged in waits for one of them to end and tries
  // again.
  Status Connect(const ImapAccount& attempt);
  Status ConnectOnce(const ImapAccount& attempt);
  void LeaveGate();
  void Disconnect();
  // New connections after cause broke the last one, with pauses, until
  // one gets through, the tries are spent or the time is up.
  Status Reconnect(const Status& cause, bool unsure);
  Status AwaitQuietFolder();
  Status Pump(bool finish);
  // Waits for the answers of what is in flight (a few seconds at most),
  // sends nothing more, and tells how far it got.
  Status Stop();
  // What is held for its candidates, decided by their bytes.
  Status Confirm();
  // The internal dates the first batch got, against the ones given.
  Status CheckDates();
  // One command with messages; kOk once sent (or refused before its
  // literal was wanted).
  NetStatus SendCommand(Command& command);
  NetStatus ReadOne();
  NetStatus AwaitContinuation(const std::string& tag, ImapResponse* refusal,
                              bool* refused);
  // A tagged answer to one of the commands in flight.
  void Answered(const ImapResponse& response);
  void Untagged(const ImapResponse& response);
  // Back to the front of the queue, to go again.
  void Requeue(std::vector<Pending>* messages);
  // A provider's sign in an answer (its daily limit, a pause): true where
  // it was one and has been dealt with.
  bool ProviderSaid(const ImapResponse& response,
                    std::vector<Pending>* messages);
  // The most a message may have: APPENDLIMIT, else the provider's; 0.
  uint64_t SizeLimit(std::string* whose) const;
  void Complete(Command* command, const ImapResponse& response);
  Status Recover(NetStatus cause, std::vector<Pending>* partial);
  // Why the connection broke, in words.
  Status Cause(NetStatus status) const;
  bool NonSynchronizing(const Pending& message) const;
  void Queue(Pending message, bool front);
  void Settle(const Pending& message, UploadOutcome outcome, uint32_t uid,
              const std::string& text);
  NetStatus Put(const std::string& text);
  NetStatus FlushOut();

  const ImapAccount account;
  const UploadSettings settings;
  const ResultHandler onResult;
  const ImapLinks links;
  Clock* const clock;
  ConnectionGate* const gate;
  bool entered = false, loggedIn = false;  // in the gate
  std::unique_ptr<ImapSession> session;
  std::vector<std::string> path;
  std::string mailbox;
  bool created = false;  // the folder was made by this run
  FolderIndex index;
  size_t indexed = 0;  // messages in the folder when read
  // Identities uploaded or found, and the folder's messages without one
  // that were confirmed: what a folder read afresh holds of this run.
  std::vector<std::string> settled;
  std::vector<uint32_t> settledUids;
  std::vector<Pending> held;  // awaiting Confirm
  size_t heldBytes = 0;
  std::map<uint32_t, std::string> bodies;  // UID: SHA-256 of its bytes
  std::deque<Pending> queue;               // not sent yet
  size_t queuedBytes = 0;
  std::deque<Command> inFlight;  // sent, not answered yet
  size_t inFlightBytes = 0;
  std::string out;  // to be written
  uint64_t added = 0;
  // Of the first batch answered, with UIDs: the dates it was given.
  std::vector<std::pair<uint32_t, int64_t>> datesToCheck;
  bool datesChecked = false;
  // The connection's failures in a row: the first one's cause, and when
  // trying again is over.
  int failedTries = 0;
  Status firstCause;
  int64_t giveUpAt = 0;
  // What broke the protocol, where the server did.
  std::string brokeBecause;
  Status fatal;  // a fault that ends the run
  DeliveryTally tally;
  uint64_t reconnects = 0;
  int64_t resumeAt = 0;  // on the clock: nothing is sent before
  bool toldPause = false;
};

#endif  // KORVANE_IMAP_IMAP_UPLOADER_H_

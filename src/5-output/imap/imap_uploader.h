// Messages into one folder of an IMAP account: logs in, finds or creates
// the folder, reads what it holds, then appends each message with \Seen
// and its own internal date, skipping what is already there (FolderIndex).
// Where the server allows it, many messages go in one command (MULTIAPPEND)
// and no answer is waited for before the next is sent (LITERAL+,
// LITERAL-). A message the server refuses is reported with its words and
// the run goes on; a connection that breaks is opened again, up to a number
// of tries, and what it had not confirmed is checked against the folder
// once more and sent again where missing. Every pause and wait is one of
// the links' clock.
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
#include <memory>
#include <string>
#include <vector>

#include "framing/message_sink.h"
#include "imap/folder_index.h"
#include "imap/imap_session.h"

struct ImapMessage {
  std::string bytes;      // the whole message, CR LF line ends
  int64_t internalDate;   // seconds since 1970 UTC
  std::string messageId;  // its Message-ID field's value; "" for none
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

  ImapUploader(const ImapAccount& account, const UploadSettings& settings,
               ResultHandler onResult, const ImapLinks& links = ImapLinks());
  ~ImapUploader();

  // Logs in and opens the folder at path (UTF-8 names from the top; none
  // for INBOX), creating it when missing, and reads what it holds.
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
    MessageKey key;
    std::string bytes;
    bool binary = false;  // NUL bytes kept, sent as literal8
    bool nulsAsBlanks = false;
    // Refused in a batch: goes again in a command of its own.
    bool alone = false;
  };
  struct Command {
    std::string tag;
    std::vector<Pending> messages;
    size_t bytes = 0;
  };

  Status Connect();
  Status AwaitQuietFolder();
  // Waits ms on the clock.
  void Pause(int ms);
  Status Pump(bool finish);
  // One command with messages; kOk once sent (or answered before its
  // literal was wanted).
  NetStatus SendCommand(Command& command);
  NetStatus ReadOne();
  NetStatus AwaitContinuation(const std::string& tag, ImapResponse* refusal,
                              bool* refused);
  // A tagged answer to one of the commands in flight.
  void Answered(const ImapResponse& response);
  void Untagged(const ImapResponse& response);
  void Complete(Command* command, const ImapResponse& response);
  Status Recover(NetStatus cause, std::vector<Pending>* partial);
  // Back to the front of the queue, to go again.
  void Requeue(std::vector<Pending>* messages);
  // A provider's sign in an answer (its daily limit, a pause): true where
  // it was one and has been dealt with.
  bool ProviderSaid(const ImapResponse& response,
                    std::vector<Pending>* messages);
  // The most a message may have: APPENDLIMIT, else the provider's; 0.
  uint64_t SizeLimit(std::string* whose) const;
  bool NonSynchronizing(const Pending& message) const;
  void Report(const Pending& message, UploadOutcome outcome, uint32_t uid,
              const std::string& text);
  NetStatus Put(const std::string& text);
  NetStatus FlushOut();

  const ImapAccount account;
  const UploadSettings settings;
  const ResultHandler onResult;
  const ImapLinks links;
  Clock* const clock;
  std::unique_ptr<ImapSession> session;
  std::vector<std::string> path;
  std::string mailbox;
  FolderIndex index;
  size_t indexed = 0;               // messages in the folder when read
  std::vector<MessageKey> settled;  // uploaded or already there
  std::deque<Pending> queue;        // not sent yet
  size_t queuedBytes = 0;
  std::deque<Command> inFlight;  // sent, not answered yet
  size_t inFlightBytes = 0;
  std::string out;  // to be written
  uint64_t added = 0;
  int failedTries = 0;
  Status fatal;  // a fault that ends the run
  DeliveryTally tally;
  uint64_t reconnects = 0;
  int64_t resumeAt = 0;  // on the clock: nothing is sent before
  bool toldPause = false;
};

#endif  // KORVANE_IMAP_IMAP_UPLOADER_H_

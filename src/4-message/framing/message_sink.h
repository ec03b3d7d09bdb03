// A destination of messages, and what it learns of each: where the message
// lay in the base, which scan found it, its envelope time and sender. The
// writer frames each message and hands its bytes on; the sink puts them
// where they go (one mbox stream, a Maildir file per message, ...).
#ifndef KORVANE_FRAMING_MESSAGE_SINK_H_
#define KORVANE_FRAMING_MESSAGE_SINK_H_

#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "account/account_access.h"
#include "io/byte_writer.h"
#include "io/file_system.h"
#include "platform/system_error.h"
#include "platform/win32.h"

enum class FoundBy {
  kNormalScan,       // the record chain
  kAlternativeScan,  // the search for message starts (-a)
  kRecovery,         // the search, where the record chain broke off
};

// Output gathers in buffers of this size and reaches the sink in pieces of
// up to this size (larger only for a line longer than a buffer): one call
// per line would cost more than the conversion itself, and one per mbox
// entry much more than the conversion of a short message where each is a
// system call (Windows).
const size_t kSinkBufferSize = size_t(1) << 18;

// What the caller of the writer knows of a message.
struct MessagePlace {
  uint32_t index = 0;   // 1-based, among the records the scan met
  uint64_t offset = 0;  // of the message's first byte in the base
  FoundBy foundBy = FoundBy::kNormalScan;
};

struct MessageFacts {
  MessagePlace place;
  const unsigned char* text = nullptr;  // the stored bytes, in the base
  uint32_t length = 0;
  FILETIME envelopeTime = {0, 0};  // universal time, whole seconds
  SYSTEMTIME envelopeDate = {};    // the same, as the calendar has it
  // Its stored time was unusable (before 1979, in the future, or none):
  // the envelope time is the run's clock, another one on each run.
  bool clockTime = false;
  const char* sender = nullptr;  // the envelope sender, one ASCII word
  int32_t senderLength = 0;
  // Its first line is an envelope line of its own (MessageHead).
  bool ownEnvelope = false;
  // It is a recovered message without headers: the synthetic header block
  // comes first.
  bool headerBlock = false;
};

// How a destination's output is made.
//
// With a folder (tree mode), every sink keeps to one convention, so that
// a finished name always means a finished output:
// - the output's name is one name in that folder ("." for the folder
//   itself, where the output is a folder: the Maildir++ INBOX), which the
//   sink creates new, never through a link, and writes through the handle
//   that created it; the folder stays open while the sink lives;
// - an output that is one file is written under PartialName(name)
//   (io/partial_file.h) and renamed to its name by Finish, never over
//   anything; one destroyed without Finish (a failure) leaves no file of
//   either name, one whose process was killed leaves the partial name;
// - an output of many files (a Maildir) gives each its name only when it
//   is whole, and names it so that a rerun can tell its files from others'
//   (the Maildir's unique names carry the process and the host).
// Without a folder, the name is a path as the user gave it and the output
// is made as the single-base run always made it.
struct OutputOptions {
  // The file system it is made on; null for the real one.
  FileSystem* fs = nullptr;
  // The open folder the output's name is in; null: the name is a path.
  const Folder* folder = nullptr;
  // Without a folder: nothing that exists may be replaced.
  bool mustBeNew = false;
  // The caller made the output's place for this run (tree mode's layout):
  // it is taken as it is.
  bool madeByCaller = false;
  // Where the output is a folder of a mail account: how to log in. Null
  // elsewhere.
  const AccountAccess* account = nullptr;
  // Set, from any thread, to stop an output that works on its own (an
  // upload): it sends no more, and its next call fails. Null: never.
  const std::atomic<bool>* cancel = nullptr;
  // An output of one stream is written by a thread of its own, from the
  // start or from the first piece after *writeBehindFrom turns true (a
  // processor has come free); where the kind's sink takes it.
  bool writeBehind = false;
  const std::atomic<bool>* writeBehindFrom = nullptr;
};

// What a destination that decides each message's fate itself tells of a
// run (a server that may refuse a message, or hold it already): counted
// as the destination answers, which may be well after the message was
// handed on.
struct DeliveryTally {
  uint64_t delivered = 0;
  uint64_t alreadyThere = 0;
  uint64_t refused = 0;
  // Delivered with each NUL byte as a blank (the destination takes none).
  uint64_t nulsAsBlanks = 0;
  uint64_t deliveredBytes = 0;  // the bytes of the messages delivered
  // The destination's provider took no more today: what was neither
  // delivered nor refused goes with the same run another day.
  bool dailyLimit = false;
  // Each refusal: "message INDEX: " and the destination's words, which may
  // hold any byte; escape them before they are shown.
  std::vector<std::string> refusals;
  // What the destination tells once that is no failure (a server that
  // keeps no dates); escape before showing.
  std::vector<std::string> warnings;
  // Where the server refused connections for its limit: how many were
  // open at once; 0 where it refused none.
  int connectionLimit = 0;
};

// The bytes come through WriteBytes (ByteWriter) in pieces of any size.
// Every call returns Ok or what failed: the system's error, or the
// destination's own words (a server's answer); after a failure the writer
// calls nothing but the destructor, which leaves nothing half done in
// place.
class MessageSink : public ByteWriter {
 public:
  // Whether each message's bytes are handed on apart, between Begin and
  // End. An mbox stream's entries run on from one to the next: it gets
  // neither call, and its bytes in large pieces.
  virtual bool MessagesApart() const { return true; }
  virtual Status Begin(const MessageFacts& message) {
    (void)message;
    return Status::Ok();
  }
  virtual Status End(const MessageFacts& message) {
    (void)message;
    return Status::Ok();
  }
  // After the last message: the output is complete and in its place.
  virtual Status Finish() = 0;

  // A buffer of kSinkBufferSize bytes that the writer fills next and
  // hands back through WriteBytes (a write thread's, which then takes it
  // without a copy); null for none: the writer uses its own.
  virtual unsigned char* LendBuffer() { return nullptr; }

  // Bytes that reached the destination.
  virtual uint64_t BytesWritten() const = 0;
  // Where the last message ended went, for a reader of the run's record:
  // a file name below the output, say. Empty where there is nothing to
  // say.
  virtual std::string LastPlace() const { return std::string(); }

  // The fates of the messages, once Finish has returned (or failed); null
  // for a destination where every message handed on is delivered.
  virtual const DeliveryTally* Tally() const { return nullptr; }
};

#endif  // KORVANE_FRAMING_MESSAGE_SINK_H_

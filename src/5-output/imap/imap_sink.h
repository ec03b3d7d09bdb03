// A folder of an IMAP account as a destination of messages: each message,
// as the message file with CR LF line ends, is appended there with \Seen and
// its envelope time as its internal date. An ImapUploader on a thread of the
// sink's own sends while the conversion reads the next messages, through a
// queue of bounded size. What the folder holds already is skipped; a
// message the server refuses is counted with the server's words, and the
// run goes on.
#ifndef KORVANE_IMAP_IMAP_SINK_H_
#define KORVANE_IMAP_IMAP_SINK_H_

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bytes/sha256.h"
#include "framing/message_sink.h"
#include "imap/imap_uploader.h"

class ImapSink : public MessageSink {
 public:
  // name: imaps://USER@HOST[:PORT]/FOLDER, or imap://... (STARTTLS);
  // options.account: how to log in. Logs in, finds or creates the folder
  // and reads what it holds before it returns, so that a refusal (the
  // login, the certificate, the folder) comes here, with *why, before any
  // message is sent.
  static std::unique_ptr<MessageSink> Create(const std::string& name,
                                             const OutputOptions& options,
                                             Status* why);
  // Sends what was handed on, as Finish does, unless the sink failed.
  ~ImapSink() override;

  Status Begin(const MessageFacts& message) override;
  Status WriteBytes(const void* bytes, size_t count) override;
  // Queues the message; waits while the queue is full. Once the upload
  // has failed (the connection broke for good, the folder went, it was
  // stopped by OutputOptions::cancel), the messages are only counted, and
  // Finish fails saying how many of them went in.
  Status End(const MessageFacts& message) override;
  // Sends the rest and waits for every answer.
  Status Finish() override;

  uint64_t BytesWritten() const override { return handed; }
  // The folder, as the URL names it: a message's UID comes with the
  // server's answer, long after the message was handed on. None once the
  // upload has failed.
  std::string LastPlace() const override {
    return gone ? std::string() : folderName;
  }
  const DeliveryTally* Tally() const override;

 private:
  explicit ImapSink(std::string folderName)
      : folderName(std::move(folderName)) {}
  void Work();
  void Fail(const Status& status);
  // Lets the thread end and waits for it; false if the upload failed.
  bool Stop();

  std::unique_ptr<ImapUploader> uploader;
  const std::string folderName;
  ImapMessage current;  // the message between Begin and End
  uint32_t currentIndex = 0;
  uint64_t handed = 0;
  Sha256 sha;  // the messages' identities

  std::mutex mutex;  // guards what follows
  std::condition_variable ready, room;
  std::deque<ImapMessage> queue;
  size_t queuedBytes = 0;
  uint64_t messages = 0;  // handed on
  bool ending = false, failed = false;
  bool stopped = false;  // failed: by the user's stop

  std::atomic<bool> gone{false};  // the upload has failed

  // Written by the thread, read once it has ended: why the upload failed
  // (the server's words, a daily limit, a lost connection).
  Status failure;
  DeliveryTally tally;
  std::thread worker;
};

#endif  // KORVANE_IMAP_IMAP_SINK_H_

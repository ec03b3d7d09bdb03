// A Maildir: each message a file of its own, delivered through tmp/ with
// its write time the envelope time.
#ifndef KORVANE_MAILDIR_MAILDIR_SINK_H_
#define KORVANE_MAILDIR_MAILDIR_SINK_H_

#include <memory>
#include <string>

#include "framing/message_sink.h"
#include "maildir/maildir_folder.h"

class MaildirSink : public MessageSink {
 public:
  explicit MaildirSink(const std::string& folder) : delivery(folder) {}
  MaildirSink(FileSystem* fs, std::unique_ptr<Folder> folder)
      : delivery(fs, std::move(folder)) {}
  MaildirSink(FileSystem* fs, const Folder& folder) : delivery(fs, folder) {}

  // Makes folder a Maildir to write into. By its path, it may be missing,
  // an empty folder or a Maildir without messages; anything else stays as
  // it is. In options.folder it is made new ("." the folder itself). One
  // the caller made (options.madeByCaller) is taken as it is. Null with
  // *why when it cannot.
  static std::unique_ptr<MessageSink> Create(const std::string& folder,
                                             const OutputOptions& options,
                                             Status* why);

  Status Begin(const MessageFacts& message) override;
  Status WriteBytes(const void* bytes, size_t count) override;
  Status End(const MessageFacts& message) override;
  Status Finish() override { return Status::Ok(); }
  uint64_t BytesWritten() const override { return written; }
  std::string LastPlace() const override { return delivery.lastDelivered(); }

 private:
  MaildirDelivery delivery;
  uint64_t written = 0;
};

#endif  // KORVANE_MAILDIR_MAILDIR_SINK_H_

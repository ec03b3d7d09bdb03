// The mbox file: every entry into one stream of bytes.
#ifndef KORVANE_MBOX_MBOX_SINK_H_
#define KORVANE_MBOX_MBOX_SINK_H_

#include <atomic>
#include <memory>
#include <string>

#include "framing/message_sink.h"
#include "io/file_stream.h"
#include "io/partial_file.h"

class MboxSink : public MessageSink {
 public:
  // Writes into an open file, which its owner closes.
  explicit MboxSink(FileStream* stream) : stream(stream) {}

  // Creates the mailbox name: in options.folder under its partial name,
  // renamed into place by Finish; without a folder by its path (an
  // existing file is emptied, unless options.mustBeNew), closed by Finish.
  // Null with *why when it cannot.
  static std::unique_ptr<MessageSink> Create(const std::string& name,
                                             const OutputOptions& options,
                                             Status* why);

  bool MessagesApart() const override { return false; }
  Status WriteBytes(const void* bytes, size_t count) override;
  Status Finish() override;
  uint64_t BytesWritten() const override { return written.load(); }

 private:
  MboxSink() : stream(&own) {}

  FileStream* stream;
  FileStream own;  // the file it created by its path, if it did
  std::unique_ptr<PartialFile> partial;  // the file it created in a folder
  // Counted on the write thread, where there is one.
  std::atomic<uint64_t> written{0};
};

#endif  // KORVANE_MBOX_MBOX_SINK_H_

// A folder of .eml files: each message a file of its own, named after its
// index, date and subject (eml_name.h), holding its bytes as the base
// stores them, with its write time the envelope time.
#ifndef KORVANE_EML_EML_SINK_H_
#define KORVANE_EML_EML_SINK_H_

#include <memory>
#include <string>

#include "framing/message_sink.h"
#include "io/file_system.h"

class EmlSink : public MessageSink {
 public:
  // The folder name: made where it is missing; an existing one must be
  // empty, since nothing is ever overwritten. In tree mode
  // (options.folder) the folder name in the layout's folder, or that
  // folder itself for ".". Null with *why when it cannot.
  static std::unique_ptr<MessageSink> Create(const std::string& name,
                                             const OutputOptions& options,
                                             Status* why);

  // Each file is written under a name of its own (".NNNNNN.partial") and
  // renamed when it is whole, so that a cut-off run leaves no file that
  // looks finished.
  Status Begin(const MessageFacts& message) override;
  Status WriteBytes(const void* bytes, size_t count) override;
  Status End(const MessageFacts& message) override;
  Status Finish() override { return Status::Ok(); }
  uint64_t BytesWritten() const override { return written; }
  std::string LastPlace() const override { return lastName; }

  ~EmlSink() override;  // removes a file begun and not ended

 private:
  EmlSink(FileSystem* fs, std::unique_ptr<Folder> owned, const Folder* folder)
      : fs(fs), owned(std::move(owned)), folder(folder) {}
  // Closes and removes the file begun.
  void Abandon();

  FileSystem* const fs;
  const std::unique_ptr<Folder> owned;  // the folder, where it opened it
  const Folder* const folder;
  std::unique_ptr<WritableFile> file;
  std::string partialName;  // of the file begun; "" for none
  std::string name;         // its name when whole
  std::string lastName;     // of the last file ended
  uint64_t written = 0;
};

#endif  // KORVANE_EML_EML_SINK_H_

#include "eml/eml_sink.h"

#include <vector>

#include "eml/eml_name.h"
#include "headers/header_decoder.h"
#include "headers/header_fields.h"
#include "message/message_range.h"
#include "platform/system_error.h"

namespace {

// The folder name as the single run names it: made new, or an empty one
// that is there, never through a link at its last name.
Status OpenEmptyFolder(FileSystem* fs, const std::string& path,
                       std::unique_ptr<Folder>* folder) {
  std::unique_ptr<Folder> holder;
  std::string last;
  DWORD error = OpenHolder(fs, path, &holder, &last);
  if (error == ERROR_SUCCESS) error = fs->MakeFolder(*holder, last);
  const bool existed = error == ERROR_ALREADY_EXISTS;
  if (error == ERROR_SUCCESS || existed)
    error = fs->OpenSubfolder(*holder, last, folder);
  if (error == ERROR_DIRECTORY)
    return Status::Of(StatusKind::kExists, "it is not a folder", error);
  if (error != ERROR_SUCCESS || !existed) return Status::System(error);
  std::vector<FolderEntry> entries;
  error = fs->List(**folder, &entries);
  if (error == ERROR_SUCCESS && !entries.empty())
    return Status::Of(StatusKind::kExists, "it is not an empty folder",
                      ERROR_DIR_NOT_EMPTY);
  return Status::System(error);
}

// The message's decoded subject; a recovered message without headers gets
// the one of its synthetic header block.
std::string Subject(const MessageFacts& message) {
  if (message.headerBlock) return "recovered message";
  const MessageRange range = MessageFileRange(
      message.text, message.text + message.length, message.ownEnvelope, false);
  HeaderField subject;
  subject.name = "Subject";
  ReadHeaderFields(range.begin, range.end, &subject, 1);
  return subject.found ? DecodeHeaderValue(subject.value) : std::string();
}

}  // namespace

std::unique_ptr<MessageSink> EmlSink::Create(const std::string& name,
                                             const OutputOptions& options,
                                             Status* why) {
  FileSystem* fs = OrRealFileSystem(options.fs);
  if (options.folder != nullptr && name == ".")
    return std::unique_ptr<MessageSink>(
        new EmlSink(fs, nullptr, options.folder));
  std::unique_ptr<Folder> folder;
  *why = options.folder != nullptr
             ? Status::System(fs->OpenSubfolder(*options.folder, name, &folder))
             : OpenEmptyFolder(fs, name, &folder);
  if (!why->IsOk()) return nullptr;
  const Folder* open = folder.get();
  return std::unique_ptr<MessageSink>(new EmlSink(fs, std::move(folder), open));
}

EmlSink::~EmlSink() { Abandon(); }

Status EmlSink::Begin(const MessageFacts& message) {
  Abandon();
  name =
      EmlFileName(message.place.index, message.envelopeDate, Subject(message));
  std::string index = std::to_string(message.place.index);
  if (index.size() < 6) index.insert(0, 6 - index.size(), '0');
  const std::string partial = "." + index + ".partial";
  const DWORD error = fs->CreateNewFile(*folder, partial, &file);
  if (error == ERROR_SUCCESS) partialName = partial;
  return Status::System(error);
}

Status EmlSink::WriteBytes(const void* bytes, size_t count) {
  const DWORD error = file->Write(bytes, count);
  if (error == ERROR_SUCCESS) written += count;
  return Status::System(error);
}

// Each file's write time is the message's envelope time, as for Maildir.
Status EmlSink::End(const MessageFacts& message) {
  DWORD error = file->SetWriteTime(message.envelopeTime);
  const DWORD closed = file->Close();
  file.reset();
  if (error == ERROR_SUCCESS) error = closed;
  if (error == ERROR_SUCCESS)
    error = fs->Rename(*folder, partialName, *folder, name);
  if (error != ERROR_SUCCESS) {
    Abandon();
    return Status::System(error);
  }
  partialName.clear();
  lastName = name;
  return Status::Ok();
}

void EmlSink::Abandon() {
  if (file) {
    file->Close();
    file.reset();
  }
  if (!partialName.empty()) {
    fs->RemoveFile(*folder, partialName);
    partialName.clear();
  }
}

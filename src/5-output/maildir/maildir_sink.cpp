#include "maildir/maildir_sink.h"

#include "platform/system_error.h"

namespace {

// The Maildir name in the open folder where (in it as it is, or made new
// there), delivered into through its handle.
std::unique_ptr<MessageSink> CreateIn(const Folder& where,
                                      const std::string& name,
                                      const OutputOptions& options,
                                      Status* why) {
  FileSystem* fs = OrRealFileSystem(options.fs);
  DWORD error = ERROR_SUCCESS;
  std::unique_ptr<Folder> folder;
  if (name != ".") {
    if (!options.madeByCaller) error = fs->MakeFolder(where, name);
    if (error == ERROR_SUCCESS) error = fs->OpenSubfolder(where, name, &folder);
  }
  const Folder& maildir = folder ? *folder : where;
  if (error == ERROR_SUCCESS && !options.madeByCaller)
    error = CreateMaildir(fs, maildir, false);
  if (error != ERROR_SUCCESS) {
    *why = Status::System(error);
    return nullptr;
  }
  if (folder)
    return std::unique_ptr<MessageSink>(new MaildirSink(fs, std::move(folder)));
  return std::unique_ptr<MessageSink>(new MaildirSink(fs, where));
}

}  // namespace

std::unique_ptr<MessageSink> MaildirSink::Create(const std::string& folder,
                                                 const OutputOptions& options,
                                                 Status* why) {
  if (options.folder != nullptr)
    return CreateIn(*options.folder, folder, options, why);
  DWORD error = ERROR_SUCCESS;
  switch (options.madeByCaller ? MaildirTarget::kEmptyMaildir
                               : InspectMaildirTarget(folder, &error)) {
    case MaildirTarget::kMissing:
    case MaildirTarget::kEmptyFolder:
    case MaildirTarget::kEmptyMaildir:
      error = CreateMaildir(folder, false);
      break;
    case MaildirTarget::kNotEmpty:
      *why = Status::Of(StatusKind::kExists,
                        "it is neither an empty folder nor an empty Maildir");
      return nullptr;
    case MaildirTarget::kNotAFolder:
      *why = Status::Of(StatusKind::kExists, "it is not a folder",
                        ERROR_DIRECTORY);
      return nullptr;
    case MaildirTarget::kUnreadable:
      break;
  }
  if (error != ERROR_SUCCESS) {
    *why = Status::System(error);
    return nullptr;
  }
  return std::unique_ptr<MessageSink>(new MaildirSink(folder));
}

Status MaildirSink::Begin(const MessageFacts&) {
  return Status::System(delivery.Begin());
}

Status MaildirSink::WriteBytes(const void* bytes, size_t count) {
  const DWORD error = delivery.Write(bytes, count);
  if (error == ERROR_SUCCESS) written += count;
  return Status::System(error);
}

// Each file's write time is the message's envelope time, to the second.
Status MaildirSink::End(const MessageFacts& message) {
  return Status::System(delivery.Finish(message.envelopeTime));
}

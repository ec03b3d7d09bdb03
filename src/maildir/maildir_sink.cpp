#include "maildir/maildir_sink.h"

#include "platform/system_error.h"

std::unique_ptr<MessageSink> MaildirSink::Create(const std::string& folder,
                                                 const OutputOptions& options,
                                                 std::string* why) {
  DWORD error = ERROR_SUCCESS;
  switch (options.madeByCaller ? MaildirTarget::kEmptyMaildir
                               : InspectMaildirTarget(folder, &error)) {
    case MaildirTarget::kMissing:
    case MaildirTarget::kEmptyFolder:
    case MaildirTarget::kEmptyMaildir:
      error = CreateMaildir(folder, false);
      break;
    case MaildirTarget::kNotEmpty:
      *why = "it is neither an empty folder nor an empty Maildir";
      return nullptr;
    case MaildirTarget::kNotAFolder:
      *why = "it is not a folder";
      return nullptr;
    case MaildirTarget::kUnreadable:
      break;
  }
  if (error != ERROR_SUCCESS) {
    *why = SystemErrorText(error);
    return nullptr;
  }
  return std::unique_ptr<MessageSink>(new MaildirSink(folder));
}

DWORD MaildirSink::Begin(const MessageFacts&) {
  DWORD error = ERROR_SUCCESS;
  file = delivery.Begin(&error);
  fileSize = 0;
  if (file != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
}

DWORD MaildirSink::WriteBytes(const void* bytes, size_t count) {
  const DWORD error = HandleWriter(file).WriteBytes(bytes, count);
  if (error != ERROR_SUCCESS) return error;
  fileSize += count;
  written += count;
  return ERROR_SUCCESS;
}

// Each file's write time is the message's envelope time, to the second.
DWORD MaildirSink::End(const MessageFacts& message) {
  file = INVALID_HANDLE_VALUE;
  return delivery.Finish(fileSize, message.envelopeTime);
}

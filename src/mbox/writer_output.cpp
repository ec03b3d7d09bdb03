// Where the writer's bytes go: gathered in its buffer, then into the mbox
// stream, or into the Maildir file of the message being written.
#include <string.h>

#include "maildir/maildir_folder.h"
#include "mbox/mailbox_writer.h"

void MailboxWriter::Put(const void* bytes, DWORD count) {
  if (writeFailed) return;
  if (!output) output.reset(new unsigned char[kOutputSize]);
  if (kOutputSize - outputUsed < count) {
    Flush();
    // A piece larger than the buffer goes as it is.
    if (count >= kOutputSize) {
      WriteOut(bytes, count);
      return;
    }
  }
  memcpy(output.get() + outputUsed, bytes, count);
  outputUsed += count;
}

void MailboxWriter::Flush() {
  if (outputUsed == 0) return;
  DWORD count = static_cast<DWORD>(outputUsed);
  outputUsed = 0;
  WriteOut(output.get(), count);
}

// The first write that fails or falls short stops the run.
void MailboxWriter::WriteOut(const void* bytes, DWORD count) {
  if (writeFailed) return;
  DWORD written = 0;
  if (!WriteFile(maildir != nullptr ? file : mailbox->handle, bytes, count,
                 &written, nullptr) ||
      written != count) {
    writeFailed = true;
    writeError = GetLastError();
    if (writeError == ERROR_SUCCESS) writeError = ERROR_HANDLE_DISK_FULL;
  }
  bytesWritten += written;
}

bool MailboxWriter::BeginFile() {
  DWORD error = ERROR_SUCCESS;
  file = maildir->Begin(&error);
  if (file != INVALID_HANDLE_VALUE) {
    fileStart = bytesWritten;
    return true;
  }
  writeFailed = true;
  writeError = error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
  return false;
}

bool MailboxWriter::FinishFile(FILETIME writeTime) {
  const DWORD error = maildir->Finish(bytesWritten - fileStart, writeTime);
  file = INVALID_HANDLE_VALUE;
  if (error == ERROR_SUCCESS) return true;
  writeFailed = true;
  writeError = error;
  return false;
}

// Where the writer's bytes go: gathered in its buffer, then into the mbox
// stream, or into the Maildir file of the message being written.
#include <string.h>

#include "maildir/maildir_folder.h"
#include "mbox/mailbox_writer.h"

unsigned char* MailboxWriter::OutputBuffer() {
  if (output == nullptr) {
    if (writeBehind) {
      output = writeBehind->Buffer();
    } else {
      if (!ownOutput) ownOutput.reset(new unsigned char[kOutputSize]);
      output = ownOutput.get();
    }
  }
  return output;
}

void MailboxWriter::Put(const void* bytes, DWORD count) {
  if (writeFailed) return;
  if (kOutputSize - outputUsed < count) {
    Flush();
    // A piece larger than the buffer goes as it is.
    if (count >= kOutputSize) {
      WriteOut(bytes, count);
      return;
    }
  }
  memcpy(OutputBuffer() + outputUsed, bytes, count);
  outputUsed += count;
}

void MailboxWriter::Flush() {
  if (outputUsed == 0) return;
  DWORD count = static_cast<DWORD>(outputUsed);
  outputUsed = 0;
  if (!writeBehind) {
    WriteOut(output, count);
    if (options.writeBehindFrom != nullptr && mailbox != nullptr &&
        !writeFailed && options.writeBehindFrom->load()) {
      StartWriteBehind();
      ownOutput.reset();
      output = nullptr;
    }
  } else if (!writeFailed) {
    output = nullptr;  // the write thread's now
    if (!writeBehind->Submit(count)) Fail(writeBehind->Error());
  }
}

bool MailboxWriter::Finish() {
  if (!writeBehind) {
    Flush();
  } else if (!writeFailed) {
    // The last piece is written here: there is nothing left to convert
    // while it is.
    const size_t count = outputUsed;
    outputUsed = 0;
    const bool written =
        count > 0 ? writeBehind->WriteNow(output, count) : writeBehind->Wait();
    if (!written) Fail(writeBehind->Error());
  }
  return !writeFailed;
}

// Four buffers: with two the converter waited for the writing.
void MailboxWriter::StartWriteBehind() {
  writeBehind.reset(new WriteBehind(mailbox->handle, kOutputSize, 4));
}

uint64_t MailboxWriter::BytesWritten() const {
  return bytesWritten + (writeBehind ? writeBehind->Written() : 0);
}

// The first write that fails or falls short stops the run.
void MailboxWriter::WriteOut(const void* bytes, DWORD count) {
  if (writeFailed) return;
  if (writeBehind) {
    if (!writeBehind->WriteNow(bytes, count)) Fail(writeBehind->Error());
    return;
  }
  if (maildir != nullptr) {
    const DWORD error = maildir->Write(bytes, count);
    if (error != ERROR_SUCCESS)
      Fail(error);
    else
      bytesWritten += count;
    return;
  }
  DWORD written = 0;
  if (!WriteFile(mailbox->handle, bytes, count, &written, nullptr) ||
      written != count)
    Fail(GetLastError());
  bytesWritten += written;
}

void MailboxWriter::Fail(DWORD error) {
  writeFailed = true;
  writeError = error != ERROR_SUCCESS ? error : ERROR_HANDLE_DISK_FULL;
}

bool MailboxWriter::BeginFile() {
  const DWORD error = maildir->Begin();
  if (error == ERROR_SUCCESS) return true;
  Fail(error);
  return false;
}

bool MailboxWriter::FinishFile(FILETIME writeTime) {
  const DWORD error = maildir->Finish(writeTime);
  if (error == ERROR_SUCCESS) return true;
  Fail(error);
  return false;
}

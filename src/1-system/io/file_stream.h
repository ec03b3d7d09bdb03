// A thin object over one operating-system file handle.
#ifndef KORVANE_IO_FILE_STREAM_H_
#define KORVANE_IO_FILE_STREAM_H_

#include <stdint.h>

#include "platform/win32.h"

// Results are truth values and byte counts; nothing here prints or throws.
// errorCode is sticky: a failed Open sets it to 2 (the exit status the run
// then returns) and nothing sets it back.
class FileStream {
 public:
  FileStream();
  virtual ~FileStream();

  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  virtual bool Open(const char* name, DWORD access, DWORD share,
                    DWORD disposition);
  // False when nothing was open, or when the system reports a failure on
  // closing (for a buffered mailbox: the last data could not be written).
  virtual bool Close();
  // Low 32 bits of the file size; 0xFFFFFFFF on failure.
  virtual uint32_t GetSize();
  // origin: 0 from the start, 1 from the current position, 2 from the end.
  // The new position, or 0xFFFFFFFF on failure.
  virtual uint32_t Seek(int32_t distance, uint32_t origin);
  // Bytes transferred; 0 on failure.
  virtual uint32_t Read(void* buffer, uint32_t count);
  virtual uint32_t Write(const void* buffer, uint32_t count);
  virtual bool Flush();

  HANDLE handle;
  int32_t errorCode;

 protected:
  // The close of this class alone, for destructors and derived classes.
  bool CloseFile();
};

#endif  // KORVANE_IO_FILE_STREAM_H_

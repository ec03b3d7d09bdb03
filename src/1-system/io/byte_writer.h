// Where a stream of output bytes goes: a file, or a destination of the
// program's own. The write thread (WriteBehind) writes through it.
#ifndef KORVANE_IO_BYTE_WRITER_H_
#define KORVANE_IO_BYTE_WRITER_H_

#include <stddef.h>

#include "platform/win32.h"
#include "status/status.h"

class ByteWriter {
 public:
  virtual ~ByteWriter() {}
  // Writes all count bytes, or says why not (a short write counts as a
  // full disk).
  virtual Status WriteBytes(const void* bytes, size_t count) = 0;
};

// A file handle's bytes, with WriteFile.
class HandleWriter : public ByteWriter {
 public:
  explicit HandleWriter(HANDLE handle) : handle(handle) {}
  Status WriteBytes(const void* bytes, size_t count) override;

 private:
  HANDLE handle;
};

#endif  // KORVANE_IO_BYTE_WRITER_H_

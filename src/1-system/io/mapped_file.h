// A file mapped whole into memory as one view, for reading in place.
#ifndef KORVANE_IO_MAPPED_FILE_H_
#define KORVANE_IO_MAPPED_FILE_H_

#include <stdint.h>

#include <string>

#include "io/file_stream.h"
#include "io/file_system.h"

class MappedFile : public FileStream {
 public:
  MappedFile();
  ~MappedFile() override;

  // Opens the file, then maps all of it (writable exactly when access holds
  // GENERIC_WRITE). Fails for an empty file, for anything that cannot be
  // mapped, and for a file of 4 GiB or more, whose size would not fit the
  // 32-bit size (tooLarge tells that case apart).
  bool Open(const char* name, DWORD access, DWORD share,
            DWORD disposition) override;
  // Opens the regular file name in folder for reading, never through a
  // link (FileSystem::OpenForReading), and maps it as Open does. On failure
  // GetLastError() tells why.
  bool OpenIn(FileSystem* fs, const Folder& folder, const std::string& name);
  bool Close() override;
  uint32_t GetSize() override;
  // Moves current within the view's address range; never before the view,
  // but possibly past its end.
  uint32_t Seek(int32_t distance, uint32_t origin) override;
  // Copies from current without moving it.
  uint32_t Read(void* buffer, uint32_t count) override;
  // A mapped file is never written through the stream.
  uint32_t Write(const void* buffer, uint32_t count) override;

  // Null while every read of the view succeeded. Otherwise why one did
  // not, "the file shrank while it was being read" or "the file could not
  // be read"; the failed pages read as zeros. Kept after Close, until the
  // next Open. Always null on Windows, which lets nobody shrink a mapped
  // file.
  const char* ReadFailure() const;

  HANDLE mappingHandle;
  const unsigned char* viewBase;
  const unsigned char* current;
  uint32_t size;
  bool tooLarge;
  bool empty;  // the last Open failed because the file holds no byte

 private:
  bool Fail();
  // Maps all of the file open in handle.
  bool Map(bool writable);

  const char* closedReadFailure;  // ReadFailure of the view Close unmapped
};

#endif  // KORVANE_IO_MAPPED_FILE_H_

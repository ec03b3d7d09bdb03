#include "io/file_stream.h"

#include "io/byte_writer.h"

FileStream::FileStream() : handle(INVALID_HANDLE_VALUE), errorCode(0) {}

FileStream::~FileStream() { CloseFile(); }

bool FileStream::Open(const char* name, DWORD access, DWORD share,
                      DWORD disposition) {
  Close();  // virtual: a MappedFile also drops its view and mapping
  handle = CreateFileA(name, access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (errorCode == 0) errorCode = 2;
    return false;
  }
  return true;
}

bool FileStream::Close() { return CloseFile(); }

bool FileStream::CloseFile() {
  if (handle == INVALID_HANDLE_VALUE) return false;
  BOOL closed = CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  return closed != FALSE;
}

uint32_t FileStream::GetSize() { return GetFileSize(handle, nullptr); }

uint32_t FileStream::Seek(int32_t distance, uint32_t origin) {
  return SetFilePointer(handle, distance, nullptr, origin);
}

uint32_t FileStream::Read(void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!ReadFile(handle, buffer, count, &done, nullptr)) return 0;
  return done;
}

uint32_t FileStream::Write(const void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!WriteFile(handle, buffer, count, &done, nullptr)) return 0;
  return done;
}

bool FileStream::Flush() { return FlushFileBuffers(handle) != FALSE; }

Status HandleWriter::WriteBytes(const void* bytes, size_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  // WriteFile takes 32-bit counts.
  while (count > 0) {
    const DWORD piece = count > 0x40000000u ? 0x40000000u : DWORD(count);
    DWORD done = 0;
    if (!WriteFile(handle, p, piece, &done, nullptr)) {
      const DWORD error = GetLastError();
      return Status::System(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    }
    if (done != piece) return Status::System(ERROR_HANDLE_DISK_FULL);
    p += piece;
    count -= piece;
  }
  return Status::Ok();
}

#include "io/mapped_file.h"

#include <string.h>

#ifndef _WIN32
#include "platform/mapped_view_guard-posix.h"
#endif

MappedFile::MappedFile()
    : mappingHandle(nullptr),
      viewBase(nullptr),
      current(nullptr),
      size(0),
      tooLarge(false),
      empty(false),
      closedReadFailure(nullptr) {}

MappedFile::~MappedFile() { MappedFile::Close(); }

bool MappedFile::Fail() {
  // The error of the call that failed, not of the close.
  const DWORD error = GetLastError();
  CloseFile();
  if (errorCode == 0) errorCode = 2;
  SetLastError(error);
  return false;
}

bool MappedFile::Open(const char* name, DWORD access, DWORD share,
                      DWORD disposition) {
  bool opened = FileStream::Open(name, access, share, disposition);
  closedReadFailure = nullptr;  // of the view that Open closed
  tooLarge = empty = false;
  if (!opened) return false;
  return Map((access & GENERIC_WRITE) != 0);
}

bool MappedFile::OpenIn(FileSystem* fs, const Folder& folder,
                        const std::string& name) {
  Close();
  closedReadFailure = nullptr;
  tooLarge = empty = false;
  const DWORD error = fs->OpenForReading(folder, name, &handle);
  if (error != ERROR_SUCCESS) {
    handle = INVALID_HANDLE_VALUE;
    if (errorCode == 0) errorCode = 2;
    SetLastError(error);
    return false;
  }
  return Map(false);
}

bool MappedFile::Map(bool writable) {
  // Taken before mapping: a base of 4 GiB or more would otherwise be cut
  // silently to the low 32 bits of its size.
  DWORD sizeHigh = 0;
  DWORD sizeLow = GetFileSize(handle, &sizeHigh);
  if (sizeHigh != 0) {
    tooLarge = true;
    return Fail();
  }
  empty = sizeLow == 0;

  mappingHandle = CreateFileMappingA(handle, nullptr,
                                     writable ? PAGE_READWRITE : PAGE_READONLY,
                                     0, 0, nullptr);
  if (mappingHandle == nullptr) return Fail();

  viewBase = static_cast<const unsigned char*>(MapViewOfFile(
      mappingHandle, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0));
  if (viewBase == nullptr) {
    CloseHandle(mappingHandle);
    mappingHandle = nullptr;
    return Fail();
  }
  current = viewBase;
  size = sizeLow;
  return true;
}

bool MappedFile::Close() {
  if (viewBase != nullptr) {
    closedReadFailure = ReadFailure();
    UnmapViewOfFile(viewBase);
    viewBase = nullptr;
  }
  if (mappingHandle != nullptr) {
    CloseHandle(mappingHandle);
    mappingHandle = nullptr;
  }
  return CloseFile();
}

// current and size are stale once the view is gone; refuse then.
uint32_t MappedFile::GetSize() { return viewBase != nullptr ? size : 0; }

uint32_t MappedFile::Seek(int32_t distance, uint32_t origin) {
  if (viewBase == nullptr) return 0;
  int64_t reference;
  switch (origin) {
    case 0:
      reference = 0;
      break;
    case 1:
      reference = current - viewBase;
      break;
    case 2:
      reference = size;
      break;
    default:
      return 0xFFFFFFFFu;
  }
  int64_t offset = reference + distance;
  if (offset < 0) offset = 0;
  current = viewBase + offset;
  return static_cast<uint32_t>(offset);
}

uint32_t MappedFile::Read(void* buffer, uint32_t count) {
  if (viewBase == nullptr) return 0;
  Seek(0, 1);
  // The offset from the pointer, not from Seek's 32-bit result, which could
  // wrap for a position far past the end of a large view.
  uint64_t offset = static_cast<uint64_t>(current - viewBase);
  uint64_t copy;
  if (offset + count < size)
    copy = count;
  else
    copy = offset >= size ? 0 : size - offset;
  if (copy != 0) memcpy(buffer, current, copy);
  return static_cast<uint32_t>(copy);
}

uint32_t MappedFile::Write(const void*, uint32_t) { return 0; }

const char* MappedFile::ReadFailure() const {
  if (viewBase == nullptr) return closedReadFailure;
#ifdef _WIN32
  return nullptr;
#else
  switch (win32_posix::MappedViewFailure(viewBase)) {
    case win32_posix::ViewFailure::kNone:
      return nullptr;
    case win32_posix::ViewFailure::kShrank:
      return "the file shrank while it was being read";
    case win32_posix::ViewFailure::kUnreadable:
      break;
  }
  return "the file could not be read";
#endif
}

// The file calls of win32.h over POSIX: each finds its object in the handle
// table, holds it locked for the call and hands it to the operation of its
// concept (file_ops-posix.h). No C++ exception leaves a function here.
#include <errno.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>

#include "platform/file_at-posix.h"
#include "platform/file_ops-posix.h"
#include "platform/file_time.h"
#include "platform/handle_table-posix.h"
#include "platform/posix_errors.h"
#include "platform/win32.h"

using win32_posix::Fail;
using win32_posix::File;
using win32_posix::Held;
using win32_posix::HoldFile;
using win32_posix::HoldMapping;
using win32_posix::Mapping;
using win32_posix::Object;

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD, HANDLE) {
  try {
    return win32_posix::OpenFile(fileName, desiredAccess, shareMode,
                                 creationDisposition);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

HANDLE win32_posix::CreateFileAt(int folderFd, const char* name, DWORD access,
                                 DWORD share, DWORD disposition, bool noLink,
                                 bool regularOnly) {
  try {
    return OpenFileAt(folderFd, name, access, share, disposition, noLink,
                      regularOnly);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

BOOL WINAPI CloseHandle(HANDLE object) {
  // Out of the table first, so that no call finds it any more; then wait
  // for the calls that did.
  std::shared_ptr<Object> o = win32_posix::RemoveHandle(object);
  if (o == nullptr) return FALSE;
  std::lock_guard<std::mutex> lock(o->mutex);
  if (o->kind == Object::kFile)
    return win32_posix::CloseFile(static_cast<File*>(o.get()));
  return win32_posix::CloseMapping(static_cast<Mapping*>(o.get()));
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
  Held<File> f = HoldFile(file);
  if (!f) return INVALID_FILE_SIZE;
  return win32_posix::SizeOfFile(f.get(), fileSizeHigh);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove,
                            PLONG distanceToMoveHigh, DWORD moveMethod) {
  Held<File> f = HoldFile(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  return win32_posix::SeekFile(f.get(), distanceToMove, distanceToMoveHigh,
                               moveMethod);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead,
                     LPDWORD numberOfBytesRead, LPOVERLAPPED overlapped) {
  if (numberOfBytesRead != nullptr) *numberOfBytesRead = 0;
  Held<File> f = HoldFile(file);
  if (!f) return FALSE;
  if (overlapped != nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return win32_posix::ReadFromFile(f.get(), static_cast<char*>(buffer),
                                   numberOfBytesToRead, numberOfBytesRead);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
                      LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped) {
  try {
    if (numberOfBytesWritten != nullptr) *numberOfBytesWritten = 0;
    Held<File> f = HoldFile(file);
    if (!f) return FALSE;
    if (overlapped != nullptr) {
      Fail(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return win32_posix::WriteToFile(f.get(), static_cast<const char*>(buffer),
                                    numberOfBytesToWrite, numberOfBytesWritten);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL win32_posix::WriteOutFile(HANDLE file) {
  Held<File> f = HoldFile(file);
  if (!f) return FALSE;
  if (WriteOut(f.get())) return TRUE;
  Fail(f->failCode);
  return FALSE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  Held<File> f = HoldFile(file);
  if (!f) return FALSE;
  return win32_posix::FlushFile(f.get());
}

HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES,
                                 DWORD protect, DWORD maximumSizeHigh,
                                 DWORD maximumSizeLow, LPCSTR name) {
  try {
    Held<File> f = HoldFile(file);
    if (!f) return nullptr;
    if (name != nullptr) {  // named sections are not needed
      Fail(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    return win32_posix::MapFile(f.get(), protect, maximumSizeHigh,
                                maximumSizeLow);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

LPVOID WINAPI MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess,
                            DWORD fileOffsetHigh, DWORD fileOffsetLow,
                            SIZE_T numberOfBytesToMap) {
  try {
    Held<Mapping> m = HoldMapping(fileMappingObject);
    if (!m) return nullptr;
    return win32_posix::ViewMapping(m.get(), desiredAccess, fileOffsetHigh,
                                    fileOffsetLow, numberOfBytesToMap);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress) {
  return win32_posix::UnmapView(baseAddress);
}

// Only the last write time can be set; what the handle still holds back is
// written out first, or that write would move the time again.
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                        const FILETIME* lastAccessTime,
                        const FILETIME* lastWriteTime) {
  if (creationTime != nullptr || lastAccessTime != nullptr) {
    Fail(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  Held<File> f = HoldFile(file);
  if (!f) return FALSE;
  if (lastWriteTime == nullptr) return TRUE;
  if ((f->access & GENERIC_WRITE) && !win32_posix::WriteOut(f.get())) {
    Fail(f->failCode);
    return FALSE;
  }
  const int64_t perSecond = int64_t{kTicksPerSecond};
  const int64_t ticks =
      static_cast<int64_t>(TicksOf(*lastWriteTime)) - int64_t{kUnixEpochTicks};
  int64_t seconds = ticks / perSecond, rest = ticks % perSecond;
  if (rest < 0) {  // before 1970: the seconds round down
    --seconds;
    rest += perSecond;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(rest * 100);
  if (futimens(f->fd, times) != 0) {
    Fail(win32_posix::ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

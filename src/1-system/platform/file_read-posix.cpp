// Reading, moving the file position, and the size of a file.

#include <errno.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_ops-posix.h"
#include "platform/posix_errors.h"

namespace win32_posix {

BOOL ReadFromFile(File* f, char* data, DWORD size, LPDWORD read) {
  if (!(f->access & GENERIC_READ)) {
    Fail(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (size > 0 && data == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A write failure stays recorded on the handle and is reported by
  // WriteFile and CloseHandle.
  WriteOut(f);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(f->fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      if (read != nullptr) *read = static_cast<DWORD>(done);
      Fail(e == EIO ? ERROR_READ_FAULT : ErrorFromErrno(e));
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (read != nullptr) *read = static_cast<DWORD>(done);
  return TRUE;
}

DWORD SeekFile(File* f, LONG distance, PLONG distanceHigh, DWORD method) {
  int64_t move = distance;
  if (distanceHigh != nullptr) {
    move = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
        static_cast<uint32_t>(distance));
  }
  WriteOut(f);
  int64_t base = 0;
  if (method == FILE_CURRENT) {
    const off_t pos = lseek(f->fd, 0, SEEK_CUR);
    if (pos < 0) {
      Fail(ErrorFromErrno(errno));
      return INVALID_SET_FILE_POINTER;
    }
    base = pos;
  } else if (method == FILE_END) {
    struct stat st;
    if (fstat(f->fd, &st) != 0) {
      Fail(ErrorFromErrno(errno));
      return INVALID_SET_FILE_POINTER;
    }
    base = st.st_size;
  } else if (method != FILE_BEGIN) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (move > 0 && base > INT64_MAX - move) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const int64_t target = base + move;
  if (target < 0) {
    Fail(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the caller cannot learn a position past 4 GiB.
  if (distanceHigh == nullptr && target > static_cast<int64_t>(UINT32_MAX)) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(f->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
    Fail(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  const uint64_t pos = static_cast<uint64_t>(target);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(pos >> 32);
  const DWORD low = static_cast<DWORD>(pos);
  // The caller tells this legal position from a failure by the last error.
  if (low == INVALID_SET_FILE_POINTER) Fail(ERROR_SUCCESS);
  return low;
}

DWORD SizeOfFile(File* f, LPDWORD sizeHigh) {
  // The size includes what the handle still holds.
  WriteOut(f);
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) Fail(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

}  // namespace win32_posix

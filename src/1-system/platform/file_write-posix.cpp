// Buffered writes, flushing, and what a failed write means to the caller.
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "platform/file_ops-posix.h"

namespace win32_posix {

namespace {

constexpr size_t kWriteBufferSize = size_t{1} << 20;
// Pieces at least this large with nothing gathered before them go to the
// file as they are: copying them into the buffer first would be a second
// pass over every byte of a converter that gathers its own output.
constexpr size_t kDirectWriteSize = size_t{1} << 16;

bool WriteAll(int fd, const char* data, size_t size, int* error) {
  while (size > 0) {
    const size_t chunk = std::min(size, size_t{1} << 30);
    const ssize_t n = write(fd, data, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? errno : EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void MarkFailed(File* f, int error) {
  f->failed = true;
  f->failCode = WriteErrorFromErrno(error);
  f->used = 0;
}

}  // namespace

DWORD WriteErrorFromErrno(int e) {
  if (e == ENOSPC) return ERROR_HANDLE_DISK_FULL;
#ifdef EDQUOT
  if (e == EDQUOT) return ERROR_HANDLE_DISK_FULL;
#endif
  if (e == EPIPE) return ERROR_NO_DATA;
  if (e == EFBIG) return ERROR_FILE_TOO_LARGE;
  return ERROR_WRITE_FAULT;
}

// Windows reports a reader that went away or a file-size limit as a failed
// write. A POSIX process is killed by SIGPIPE or SIGXFSZ instead, without a
// word; ignored, they become EPIPE and EFBIG, and the write error follows.
// Left alone when someone set up a handler. Once per process.
void ReportWriteLimitsAsErrors() {
  static const bool done = [] {
    for (int sig : {SIGPIPE, SIGXFSZ}) {
      struct sigaction current;
      if (sigaction(sig, nullptr, &current) == 0 &&
          !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL)
        signal(sig, SIG_IGN);
    }
    return true;
  }();
  (void)done;
}

bool WriteOut(File* f) {
  if (f->used == 0) return !f->failed;
  int error = 0;
  const size_t used = f->used;
  f->used = 0;
  if (!WriteAll(f->fd, f->buffer.get(), used, &error)) {
    MarkFailed(f, error);
    return false;
  }
  return true;
}

BOOL WriteToFile(File* f, const char* data, DWORD size, LPDWORD written) {
  if (!(f->access & GENERIC_WRITE)) {
    Fail(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (f->failed) {
    Fail(f->failCode);
    return FALSE;
  }
  if (size == 0) return TRUE;
  if (data == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (f->used == 0 && size >= kDirectWriteSize) {
    int error = 0;
    if (!WriteAll(f->fd, data, size, &error)) {
      MarkFailed(f, error);
      Fail(f->failCode);
      return FALSE;
    }
    if (written != nullptr) *written = size;
    return TRUE;
  }
  if (!f->buffer) f->buffer.reset(new char[kWriteBufferSize]);

  size_t left = size;
  const size_t room = kWriteBufferSize - f->used;
  if (left > room) {
    memcpy(f->buffer.get() + f->used, data, room);
    f->used = kWriteBufferSize;
    data += room;
    left -= room;
    if (!WriteOut(f)) {
      Fail(f->failCode);
      return FALSE;
    }
    if (left >= kWriteBufferSize) {
      int error = 0;
      if (!WriteAll(f->fd, data, left, &error)) {
        MarkFailed(f, error);
        Fail(f->failCode);
        return FALSE;
      }
      left = 0;
    }
  }
  memcpy(f->buffer.get() + f->used, data, left);
  f->used += left;
  if (written != nullptr) *written = size;
  return TRUE;
}

BOOL FlushFile(File* f) {
  if (!(f->access & GENERIC_WRITE)) {
    Fail(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!WriteOut(f)) {
    Fail(f->failCode);
    return FALSE;
  }
  int rc;
  do {
    rc = fsync(f->fd);
  } while (rc != 0 && errno == EINTR);
  // Devices and pipes have nothing to sync.
  if (rc != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) {
    MarkFailed(f, errno);
    Fail(f->failCode);
    return FALSE;
  }
  return TRUE;
}

}  // namespace win32_posix

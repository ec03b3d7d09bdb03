// What writing a message file into a Maildir needs of win32.h beyond files
// and folders, over POSIX: moving a file without ever replacing another,
// setting a file's write time through its handle, and the process id.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // renameat2
#endif

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_ops-posix.h"
#include "platform/handle_table-posix.h"
#include "platform/posix_errors.h"
#include "platform/win32.h"

using win32_posix::ErrorFromErrno;
using win32_posix::Fail;

namespace {

const int64_t kTicksPerSecond = 10000000;
const int64_t kUnixEpochTicks = 116444736000000000;  // 1970 in FILETIME

BOOL FailWith(DWORD code) {
  Fail(code);
  return FALSE;
}

struct timespec TimespecFromFileTime(const FILETIME& f) {
  const int64_t ticks =
      static_cast<int64_t>(uint64_t(f.dwHighDateTime) << 32 | f.dwLowDateTime) -
      kUnixEpochTicks;
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {  // before 1970: the seconds round down
    --seconds;
    rest += kTicksPerSecond;
  }
  struct timespec t;
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>(rest * 100);
  return t;
}

}  // namespace

BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
  if (existingFileName == nullptr || newFileName == nullptr)
    return FailWith(ERROR_INVALID_PARAMETER);
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, existingFileName, AT_FDCWD, newFileName,
                RENAME_NOREPLACE) == 0)
    return TRUE;
  if (errno == EEXIST) return FailWith(ERROR_ALREADY_EXISTS);
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
    return FailWith(ErrorFromErrno(errno));
#endif
  // A file system that cannot refuse to replace in the rename itself: a
  // second link refuses, and the old name goes after it.
  struct stat entry;
  if (lstat(existingFileName, &entry) != 0)
    return FailWith(ErrorFromErrno(errno));
  if (!S_ISDIR(entry.st_mode)) {
    if (link(existingFileName, newFileName) == 0) {
      unlink(existingFileName);
      return TRUE;
    }
    if (errno == EEXIST) return FailWith(ERROR_ALREADY_EXISTS);
    if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
      return FailWith(ErrorFromErrno(errno));
  }
  // No links either: look, then rename.
  if (lstat(newFileName, &entry) == 0) return FailWith(ERROR_ALREADY_EXISTS);
  if (rename(existingFileName, newFileName) == 0) return TRUE;
  return FailWith(ErrorFromErrno(errno));
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                        const FILETIME* lastAccessTime,
                        const FILETIME* lastWriteTime) {
  if (creationTime != nullptr || lastAccessTime != nullptr)
    return FailWith(ERROR_NOT_SUPPORTED);
  win32_posix::Held<win32_posix::File> f = win32_posix::HoldFile(file);
  if (!f) return FALSE;
  if (!(f->access & GENERIC_WRITE)) return FailWith(ERROR_ACCESS_DENIED);
  if (lastWriteTime == nullptr) return TRUE;
  // What the handle holds back goes out first: a later write would set
  // the time anew.
  if (!win32_posix::WriteOut(f.get())) return FailWith(f->failCode);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1] = TimespecFromFileTime(*lastWriteTime);
  if (futimens(f->fd, times) != 0) return FailWith(ErrorFromErrno(errno));
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

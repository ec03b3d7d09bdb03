// Opening files by disposition, and closing files and mappings.

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/file_ops-posix.h"
#include "platform/posix_errors.h"
#include "platform/share_locks-posix.h"

namespace win32_posix {

namespace {

bool ParentMissing(int folderFd, const char* name) {
  const char* slash = strrchr(name, '/');
  if (slash == nullptr || slash == name) return false;
  const std::string parent(name, static_cast<size_t>(slash - name));
  struct stat st;
  return fstatat(folderFd, parent.c_str(), &st, 0) != 0;
}

int OpenRaw(int folderFd, const char* name, int flags, DWORD disposition,
            bool* existed) {
  // O_NONBLOCK: opening a FIFO must not wait for a peer.
  flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const mode_t mode = 0666;
  *existed = true;
  switch (disposition) {
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      return openat(folderFd, name, flags);
    case CREATE_NEW:
      *existed = false;
      return openat(folderFd, name, flags | O_CREAT | O_EXCL, mode);
    default: {
      // CREATE_ALWAYS, OPEN_ALWAYS: Windows reports whether the file was
      // there, so find out. A dangling symbolic link fails both of the first
      // two tries; the last creates its target.
      int fd = openat(folderFd, name, flags | O_CREAT | O_EXCL, mode);
      if (fd >= 0 || errno != EEXIST) {
        *existed = false;
        return fd;
      }
      fd = openat(folderFd, name, flags);
      if (fd >= 0 || errno != ENOENT) return fd;
      *existed = false;
      return openat(folderFd, name, flags | O_CREAT, mode);
    }
  }
}

// Closes the descriptor of a file that failed to open after it joined the
// share table, then leaves the table.
void Abandon(File* f, FdGuard* guard) {
  close(guard->release());
  ReleaseShare(f);
}

}  // namespace

HANDLE OpenFile(const char* name, DWORD access, DWORD share,
                DWORD disposition) {
  return OpenFileAt(AT_FDCWD, name, access, share, disposition, false, false);
}

HANDLE OpenFileAt(int folderFd, const char* name, DWORD access, DWORD share,
                  DWORD disposition, bool noLink, bool regularOnly) {
  if (name == nullptr || !(access & (GENERIC_READ | GENERIC_WRITE)) ||
      disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool truncating =
      disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (truncating && !(access & GENERIC_WRITE)) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (access & GENERIC_WRITE) ReportWriteLimitsAsErrors();
  int flags = O_RDONLY;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
    flags = O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags = O_WRONLY;
  }

  if (noLink) flags |= O_NOFOLLOW;

  bool existed = true;
  const int openFd = OpenRaw(folderFd, name, flags, disposition, &existed);
  if (openFd < 0) {
    const int e = errno;
    Fail(e == ENOENT && ParentMissing(folderFd, name) ? ERROR_PATH_NOT_FOUND
         : e == ELOOP && noLink                       ? ERROR_STOPPED_ON_SYMLINK
                                                      : ErrorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  FdGuard guard(openFd);

  struct stat st;
  if (fstat(openFd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode)) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (regularOnly && !S_ISREG(st.st_mode)) {
    Fail(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }

  std::shared_ptr<File> f = std::make_shared<File>();
  f->fd = openFd;
  f->dev = st.st_dev;
  f->ino = st.st_ino;
  f->regular = S_ISREG(st.st_mode);
  f->access = access & (GENERIC_READ | GENERIC_WRITE);
  f->share = share;

  // Devices and pipes are not shared files: two runs may both write to
  // /dev/null.
  if (f->regular) {
    const DWORD error = AcquireShare(f.get());
    if (error != ERROR_SUCCESS) {
      Fail(error);
      return INVALID_HANDLE_VALUE;
    }
  }

  // Only now that nobody objects may an existing file lose its contents.
  if (f->regular && truncating && existed && st.st_size != 0 &&
      ftruncate(openFd, 0) != 0) {
    const int e = errno;
    Abandon(f.get(), &guard);
    Fail(ErrorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  const int fl = fcntl(openFd, F_GETFL);
  if (fl >= 0) fcntl(openFd, F_SETFL, fl & ~O_NONBLOCK);

  HANDLE handle;
  try {
    handle = AddHandle(f);
  } catch (...) {
    Abandon(f.get(), &guard);
    throw;
  }
  guard.release();
  Fail(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
           ? ERROR_ALREADY_EXISTS
           : ERROR_SUCCESS);
  return handle;
}

BOOL CloseFile(File* f) {
  bool ok = true;
  DWORD error = ERROR_SUCCESS;
  if (!WriteOut(f)) {
    ok = false;
    error = f->failCode;
  }
  f->closed = true;
  f->buffer.reset();
  // The descriptor goes before the share: until then another open of the
  // file must still find this handle, not only its lock.
  if (close(f->fd) != 0 && errno != EINTR) {
    if (ok) {
      error = (f->access & GENERIC_WRITE) ? WriteErrorFromErrno(errno)
                                          : ErrorFromErrno(errno);
    }
    ok = false;
  }
  f->fd = -1;
  ReleaseShare(f);
  if (!ok) Fail(error);
  return ok ? TRUE : FALSE;
}

BOOL CloseMapping(Mapping* m) {
  m->closed = true;
  close(m->fd);
  m->fd = -1;
  return TRUE;
}

}  // namespace win32_posix

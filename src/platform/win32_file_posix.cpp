// The file calls of win32.h over POSIX: files, buffered writes, mappings
// and the last-error code.
//
// Handles point at objects of this file, validated against a registry of
// live objects, so a stale or foreign handle fails with ERROR_INVALID_HANDLE
// instead of touching freed memory. No C++ exception leaves a function here.

// 64-bit off_t on 32-bit systems too; a base may exceed 2 GiB.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/file_descriptor_posix.h"
#include "platform/mapped_view_guard_posix.h"
#include "platform/posix_errors.h"
#include "platform/win32.h"

using win32_posix::ErrorFromErrno;

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

void Fail(DWORD code) { t_lastError = code; }


// What a failed or short write of output means to the caller.
DWORD WriteErrorFromErrno(int e) {
  if (e == ENOSPC) return ERROR_HANDLE_DISK_FULL;
#ifdef EDQUOT
  if (e == EDQUOT) return ERROR_HANDLE_DISK_FULL;
#endif
  return ERROR_WRITE_FAULT;
}

// Windows reports a reader that went away or a file-size limit as a failed
// write. A POSIX process is killed by SIGPIPE or SIGXFSZ instead, without a
// word; ignored, they become EPIPE and EFBIG, and the write error follows.
// Left alone when someone set up a handler.
void ReportWriteLimitsAsErrors() {
  static bool done = false;
  if (done) return;
  done = true;
  for (int sig : {SIGPIPE, SIGXFSZ}) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 &&
        !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL)
      signal(sig, SIG_IGN);
  }
}

// The converter makes several WriteFile calls per output line; one system
// call each would dominate the run time on a large base.
constexpr size_t kWriteBufferSize = size_t{1} << 20;

struct Object {
  enum Kind { kFile, kMapping };
  explicit Object(Kind k) : kind(k) {}
  Kind kind;
};

struct File : Object {
  File() : Object(kFile) {}
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  bool regular = false;
  std::string name;  // as opened, for messages about the file
  DWORD access = 0;
  DWORD share = 0;
  int lockType = 0;  // LOCK_SH or LOCK_EX while it holds a share of one
  std::unique_ptr<char[]> buffer;
  size_t used = 0;
  bool failed = false;  // a write of this handle failed: sticky
  DWORD failCode = ERROR_SUCCESS;
};

struct Mapping : Object {
  Mapping() : Object(kMapping) {}
  int fd = -1;
  uint64_t size = 0;
  bool writable = false;
  std::string name;
};

typedef std::pair<dev_t, ino_t> Identity;

// flock() conflicts between two open descriptions even within one process,
// so handles of this process that the share check lets coexist share one
// lock, held on a descriptor of its own until the last of them closes.
struct SharedLock {
  int fd;
  int type;
  unsigned refs;
};

struct Registry {
  std::mutex mutex;
  std::unordered_set<Object*> live;
  std::map<Identity, SharedLock> locks;
  std::map<const void*, size_t> views;
};

// Never destroyed: handles may still be closed from exit handlers.
Registry& Reg() {
  static Registry* registry = new Registry;
  return *registry;
}

File* AsFile(HANDLE h) {
  Object* o = static_cast<Object*>(h);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !Reg().live.count(o) ||
      o->kind != Object::kFile) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<File*>(o);
}

Mapping* AsMapping(HANDLE h) {
  Object* o = static_cast<Object*>(h);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !Reg().live.count(o) ||
      o->kind != Object::kMapping) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<Mapping*>(o);
}

bool SharesWith(DWORD oldAccess, DWORD oldShare, DWORD newAccess,
                DWORD newShare) {
  if ((newAccess & GENERIC_READ) && !(oldShare & FILE_SHARE_READ)) return false;
  if ((newAccess & GENERIC_WRITE) && !(oldShare & FILE_SHARE_WRITE))
    return false;
  if ((oldAccess & GENERIC_READ) && !(newShare & FILE_SHARE_READ)) return false;
  if ((oldAccess & GENERIC_WRITE) && !(newShare & FILE_SHARE_WRITE))
    return false;
  return true;
}

// Other processes see a writer as exclusive and a reader that refuses
// writers as shared; a reader that tolerates writers needs no lock.
int LockTypeFor(DWORD access, DWORD share) {
  if (access & GENERIC_WRITE) return LOCK_EX;
  if (!(share & FILE_SHARE_WRITE)) return LOCK_SH;
  return 0;
}

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

// Gives up this handle's share of the process lock. The lock itself lives
// on an open description that a mapping may still share (it holds a dup of
// the handle's descriptor); the file then stays locked until that goes too,
// so nobody truncates a file under a live view.
void ReleaseLock(File* f) {
  if (f->lockType == 0) return;
  Registry& reg = Reg();
  auto it = reg.locks.find(Identity(f->dev, f->ino));
  if (it != reg.locks.end() && --it->second.refs == 0) {
    close(it->second.fd);
    reg.locks.erase(it);
  }
  f->lockType = 0;
}

// Returns ERROR_SUCCESS or the error to fail the open with.
DWORD AcquireLock(File* f, int type) {
  Registry& reg = Reg();
  const Identity id(f->dev, f->ino);
  auto it = reg.locks.find(id);
  if (it != reg.locks.end()) {
    // The share check already refused every pairing of a writer with a
    // reader that refuses writers, so the types agree here.
    if (it->second.type != type) return ERROR_SHARING_VIOLATION;
    ++it->second.refs;
    f->lockType = type;
    return ERROR_SUCCESS;
  }
  int rc;
  do {
    rc = flock(f->fd, type | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (errno == EWOULDBLOCK) return ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;  // no locking on this file system: advisory anyway
  }
  const int keeper = fcntl(f->fd, F_DUPFD_CLOEXEC, 0);
  if (keeper < 0) return ErrorFromErrno(errno);
  try {
    reg.locks.emplace(id, SharedLock{keeper, type, 1});
  } catch (...) {
    close(keeper);
    throw;
  }
  f->lockType = type;
  return ERROR_SUCCESS;
}

// Closes fd on every path out unless released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool ParentMissing(const char* name) {
  const char* slash = strrchr(name, '/');
  if (slash == nullptr || slash == name) return false;
  const std::string parent(name, static_cast<size_t>(slash - name));
  struct stat st;
  return stat(parent.c_str(), &st) != 0;
}

int OpenRaw(const char* name, int flags, DWORD disposition, bool* existed) {
  // O_NONBLOCK: opening a FIFO must not wait for a peer.
  flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const mode_t mode = 0666;
  *existed = true;
  switch (disposition) {
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      return open(name, flags);
    case CREATE_NEW:
      *existed = false;
      return open(name, flags | O_CREAT | O_EXCL, mode);
    default: {
      // CREATE_ALWAYS, OPEN_ALWAYS: Windows reports whether the file was
      // there, so find out. A dangling symbolic link fails both of the first
      // two tries; the last creates its target.
      int fd = open(name, flags | O_CREAT | O_EXCL, mode);
      if (fd >= 0 || errno != EEXIST) {
        *existed = false;
        return fd;
      }
      fd = open(name, flags);
      if (fd >= 0 || errno != ENOENT) return fd;
      *existed = false;
      return open(name, flags | O_CREAT, mode);
    }
  }
}

HANDLE OpenFile(const char* name, DWORD access, DWORD share,
                DWORD disposition) {
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

  bool existed = true;
  const int openFd = OpenRaw(name, flags, disposition, &existed);
  if (openFd < 0) {
    const int e = errno;
    Fail(e == ENOENT && ParentMissing(name) ? ERROR_PATH_NOT_FOUND
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

  std::unique_ptr<File> f(new File);
  f->fd = openFd;
  f->dev = st.st_dev;
  f->ino = st.st_ino;
  f->regular = S_ISREG(st.st_mode);
  f->name = name;
  f->access = access & (GENERIC_READ | GENERIC_WRITE);
  f->share = share;

  Registry& reg = Reg();
  // Devices and pipes are not shared files: two runs may both write to
  // /dev/null.
  if (f->regular) {
    for (Object* o : reg.live) {
      if (o->kind != Object::kFile) continue;
      const File* other = static_cast<const File*>(o);
      if (other->dev == f->dev && other->ino == f->ino &&
          !SharesWith(other->access, other->share, f->access, f->share)) {
        Fail(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
    }
    const int type = LockTypeFor(f->access, f->share);
    if (type != 0) {
      const DWORD error = AcquireLock(f.get(), type);
      if (error != ERROR_SUCCESS) {
        Fail(error);
        return INVALID_HANDLE_VALUE;
      }
    }
  }

  // Only now that nobody objects may an existing file lose its contents.
  if (f->regular && truncating && existed && st.st_size != 0 &&
      ftruncate(openFd, 0) != 0) {
    const int e = errno;
    ReleaseLock(f.get());
    Fail(ErrorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  const int fl = fcntl(openFd, F_GETFL);
  if (fl >= 0) fcntl(openFd, F_SETFL, fl & ~O_NONBLOCK);

  try {
    reg.live.insert(f.get());
  } catch (...) {
    ReleaseLock(f.get());
    throw;
  }
  guard.release();
  Fail(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
           ? ERROR_ALREADY_EXISTS
           : ERROR_SUCCESS);
  return f.release();
}

BOOL CloseFile(File* f) {
  bool ok = true;
  DWORD error = ERROR_SUCCESS;
  if (!WriteOut(f)) {
    ok = false;
    error = f->failCode;
  }
  ReleaseLock(f);
  Reg().live.erase(f);
  if (close(f->fd) != 0 && errno != EINTR) {
    if (ok) {
      error = (f->access & GENERIC_WRITE) ? WriteErrorFromErrno(errno)
                                          : ErrorFromErrno(errno);
    }
    ok = false;
  }
  delete f;
  if (!ok) Fail(error);
  return ok ? TRUE : FALSE;
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

HANDLE MapFile(File* f, DWORD protect, DWORD maxHigh, DWORD maxLow) {
  bool writable;
  if (protect == PAGE_READONLY) {
    writable = false;
  } else if (protect == PAGE_READWRITE) {
    writable = true;
  } else {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(f->access & GENERIC_READ) ||
      (writable && !(f->access & GENERIC_WRITE))) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  // Whole-file mappings only.
  if (maxHigh != 0 || maxLow != 0) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The view must show what was written through the handle.
  WriteOut(f);
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (st.st_size == 0) {
    Fail(ERROR_FILE_INVALID);
    return nullptr;
  }
  std::unique_ptr<Mapping> m(new Mapping);
  // Its own descriptor keeps the mapping usable after the file is closed.
  m->fd = fcntl(f->fd, F_DUPFD_CLOEXEC, 0);
  if (m->fd < 0) {
    Fail(ErrorFromErrno(errno));
    return nullptr;
  }
  FdGuard guard(m->fd);
  m->size = static_cast<uint64_t>(st.st_size);
  m->writable = writable;
  m->name = f->name;
  Reg().live.insert(m.get());
  guard.release();
  Fail(ERROR_SUCCESS);
  return m.release();
}

LPVOID ViewMapping(Mapping* m, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                   SIZE_T bytes) {
  int prot;
  if (access & FILE_MAP_WRITE) {
    if (!m->writable) {
      Fail(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    prot = PROT_READ | PROT_WRITE;
  } else if (access & FILE_MAP_READ) {
    prot = PROT_READ;
  } else {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (offsetHigh != 0 || offsetLow != 0 || bytes > m->size) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const uint64_t length = bytes != 0 ? bytes : m->size;
  if (length > SIZE_MAX) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Pages past a shrunken end fault with SIGBUS on access.
  struct stat st;
  if (fstat(m->fd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return nullptr;
  }
  if (static_cast<uint64_t>(st.st_size) < length) {
    Fail(ERROR_FILE_INVALID);
    return nullptr;
  }
  void* view =
      mmap(nullptr, static_cast<size_t>(length), prot, MAP_SHARED, m->fd, 0);
  if (view == MAP_FAILED) {
    Fail(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ErrorFromErrno(errno));
    return nullptr;
  }
  try {
    Reg().views.emplace(view, static_cast<size_t>(length));
    // Unguarded, a file shrunk by another program kills the process by
    // SIGBUS; guarded, the run ends with an error message.
    win32_posix::GuardMappedView(view, static_cast<size_t>(length), m->fd,
                                 m->name.c_str());
  } catch (...) {
    munmap(view, static_cast<size_t>(length));
    throw;
  }
  Fail(ERROR_SUCCESS);
  return view;
}

}  // namespace

DWORD WINAPI GetLastError(void) { return t_lastError; }

void WINAPI SetLastError(DWORD errorCode) { t_lastError = errorCode; }

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD, HANDLE) {
  try {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    return OpenFile(fileName, desiredAccess, shareMode, creationDisposition);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

BOOL WINAPI CloseHandle(HANDLE object) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  Object* o = static_cast<Object*>(object);
  if (object == nullptr || object == INVALID_HANDLE_VALUE ||
      !Reg().live.count(o)) {
    Fail(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->kind == Object::kFile) return CloseFile(static_cast<File*>(o));
  Mapping* m = static_cast<Mapping*>(o);
  Reg().live.erase(m);
  close(m->fd);
  delete m;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  File* f = AsFile(file);
  if (f == nullptr) return INVALID_FILE_SIZE;
  WriteOut(f);
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (fileSizeHigh != nullptr) *fileSizeHigh = static_cast<DWORD>(size >> 32);
  if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) Fail(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove,
                            PLONG distanceToMoveHigh, DWORD moveMethod) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  File* f = AsFile(file);
  if (f == nullptr) return INVALID_SET_FILE_POINTER;
  return SeekFile(f, distanceToMove, distanceToMoveHigh, moveMethod);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead,
                     LPDWORD numberOfBytesRead, LPOVERLAPPED overlapped) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  if (numberOfBytesRead != nullptr) *numberOfBytesRead = 0;
  File* f = AsFile(file);
  if (f == nullptr) return FALSE;
  if (overlapped != nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ReadFromFile(f, static_cast<char*>(buffer), numberOfBytesToRead,
                      numberOfBytesRead);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
                      LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped) {
  try {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    if (numberOfBytesWritten != nullptr) *numberOfBytesWritten = 0;
    File* f = AsFile(file);
    if (f == nullptr) return FALSE;
    if (overlapped != nullptr) {
      Fail(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return WriteToFile(f, static_cast<const char*>(buffer),
                       numberOfBytesToWrite, numberOfBytesWritten);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  File* f = AsFile(file);
  if (f == nullptr) return FALSE;
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

HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES,
                                 DWORD protect, DWORD maximumSizeHigh,
                                 DWORD maximumSizeLow, LPCSTR name) {
  try {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    File* f = AsFile(file);
    if (f == nullptr) return nullptr;
    if (name != nullptr) {  // named sections are not needed
      Fail(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    return MapFile(f, protect, maximumSizeHigh, maximumSizeLow);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

LPVOID WINAPI MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess,
                            DWORD fileOffsetHigh, DWORD fileOffsetLow,
                            SIZE_T numberOfBytesToMap) {
  try {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    Mapping* m = AsMapping(fileMappingObject);
    if (m == nullptr) return nullptr;
    return ViewMapping(m, desiredAccess, fileOffsetHigh, fileOffsetLow,
                       numberOfBytesToMap);
  } catch (...) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  auto& views = Reg().views;
  auto it = views.find(baseAddress);
  if (it == views.end()) {
    Fail(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  win32_posix::UnguardMappedView(it->first);
  munmap(const_cast<void*>(it->first), it->second);
  views.erase(it);
  return TRUE;
}

BOOL win32_posix::WithWrittenOutDescriptor(HANDLE file,
                                           int (*action)(int fd, void* context),
                                           void* context) {
  std::lock_guard<std::mutex> lock(Reg().mutex);
  File* f = AsFile(file);
  if (f == nullptr) return FALSE;
  if ((f->access & GENERIC_WRITE) && !WriteOut(f)) {
    Fail(f->failCode);
    return FALSE;
  }
  const int error = action(f->fd, context);
  if (error != 0) {
    Fail(ErrorFromErrno(error));
    return FALSE;
  }
  return TRUE;
}

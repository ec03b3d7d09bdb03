// Share modes: the table of this process's handles per file, and the
// advisory lock each file holds towards other processes.
#include "platform/share_locks-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "platform/posix_errors.h"

namespace win32_posix {

namespace {

typedef std::pair<dev_t, ino_t> Identity;

// flock() conflicts between two open descriptions even within one process,
// so handles of this process that the share check lets coexist share one
// lock, held on a descriptor of its own until the last of them closes.
struct SharedFile {
  std::vector<const File*> handles;
  int lockFd = -1;
  int lockType = 0;
  unsigned lockRefs = 0;
};

struct ShareTable {
  std::mutex mutex;
  std::map<Identity, SharedFile> files;
};

// Never destroyed: handles may still be closed from exit handlers.
ShareTable& Shares() {
  static ShareTable* table = new ShareTable;
  return *table;
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

// Returns ERROR_SUCCESS or the error to fail the open with.
DWORD AcquireLock(SharedFile* shared, File* f, int type) {
  if (shared->lockRefs != 0) {
    // The share check already refused every pairing of a writer with a
    // reader that refuses writers, so the types agree here.
    if (shared->lockType != type) return ERROR_SHARING_VIOLATION;
    ++shared->lockRefs;
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
  shared->lockFd = keeper;
  shared->lockType = type;
  shared->lockRefs = 1;
  f->lockType = type;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD AcquireShare(File* f) {
  ShareTable& table = Shares();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.files.emplace(Identity(f->dev, f->ino), SharedFile()).first;
  SharedFile& shared = it->second;
  DWORD error = ERROR_SUCCESS;
  for (const File* other : shared.handles) {
    if (!SharesWith(other->access, other->share, f->access, f->share)) {
      error = ERROR_SHARING_VIOLATION;
      break;
    }
  }
  const int type = LockTypeFor(f->access, f->share);
  if (error == ERROR_SUCCESS && type != 0)
    error = AcquireLock(&shared, f, type);
  if (error == ERROR_SUCCESS) {
    try {
      shared.handles.push_back(f);
    } catch (...) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  if (error != ERROR_SUCCESS) {
    if (f->lockType != 0 && --shared.lockRefs == 0) {
      close(shared.lockFd);
      shared.lockFd = -1;
    }
    f->lockType = 0;
    if (shared.handles.empty()) table.files.erase(it);
  }
  return error;
}

// Gives up this handle's share of the process lock. The lock itself lives
// on an open description that a mapping may still share (it holds a dup of
// the handle's descriptor); the file then stays locked until that goes too,
// so nobody truncates a file under a live view.
void ReleaseShare(File* f) {
  ShareTable& table = Shares();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.files.find(Identity(f->dev, f->ino));
  if (it == table.files.end()) return;
  SharedFile& shared = it->second;
  auto self = std::find(shared.handles.begin(), shared.handles.end(), f);
  if (self == shared.handles.end()) return;
  shared.handles.erase(self);
  if (f->lockType != 0 && --shared.lockRefs == 0) {
    close(shared.lockFd);
    shared.lockFd = -1;
  }
  f->lockType = 0;
  if (shared.handles.empty()) table.files.erase(it);
}

}  // namespace win32_posix

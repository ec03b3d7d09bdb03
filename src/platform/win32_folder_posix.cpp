// The folder and name calls of win32.h over POSIX: creating folders,
// listing them, moving and deleting files, a file's write time, and the
// process id.

#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // renameat2
#endif

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

#include "platform/file_descriptor_posix.h"
#include "platform/posix_errors.h"
#include "platform/win32.h"

using win32_posix::ErrorFromErrno;

namespace {

const int64_t kTicksPerSecond = 10000000;
const int64_t kUnixEpochTicks = 116444736000000000;  // 1970 in FILETIME

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

FILETIME FileTimeFromTimespec(const struct timespec& t) {
  const uint64_t ticks = static_cast<uint64_t>(
      kUnixEpochTicks + int64_t(t.tv_sec) * kTicksPerSecond + t.tv_nsec / 100);
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(ticks);
  f.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return f;
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

// What Windows reports for an entry: a symbolic link is a reparse point,
// and a directory too when it leads to one.
DWORD AttributesOf(const struct stat& entry, const struct stat* target) {
  if (S_ISLNK(entry.st_mode)) {
    DWORD a = FILE_ATTRIBUTE_REPARSE_POINT;
    if (target != nullptr && S_ISDIR(target->st_mode))
      a |= FILE_ATTRIBUTE_DIRECTORY;
    return a;
  }
  return S_ISDIR(entry.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                : FILE_ATTRIBUTE_NORMAL;
}

// A listing in progress; handles are validated against the live ones.
struct Search {
  DIR* dir = nullptr;
};

std::mutex g_searchMutex;
std::unordered_set<Search*>& LiveSearches() {
  static auto* live = new std::unordered_set<Search*>;  // never destroyed
  return *live;
}

// Fills data from the next entry; false at the end or on an error, with
// the last error set.
bool NextEntry(Search* s, WIN32_FIND_DATAA* data) {
  for (;;) {
    errno = 0;
    const struct dirent* e = readdir(s->dir);
    if (e == nullptr) {
      SetLastError(errno == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno));
      return false;
    }
    const size_t length = strlen(e->d_name);
    if (length >= MAX_PATH) continue;  // cannot be named through this call
    memset(data, 0, sizeof *data);
    memcpy(data->cFileName, e->d_name, length + 1);
    struct stat entry;
    if (fstatat(dirfd(s->dir), e->d_name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
      data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;  // gone meanwhile
      return true;
    }
    struct stat target;
    const bool resolved = S_ISLNK(entry.st_mode) &&
                          fstatat(dirfd(s->dir), e->d_name, &target, 0) == 0;
    data->dwFileAttributes = AttributesOf(entry, resolved ? &target : nullptr);
    data->ftLastWriteTime = FileTimeFromTimespec(entry.st_mtim);
    data->ftLastAccessTime = FileTimeFromTimespec(entry.st_atim);
    data->ftCreationTime = data->ftLastWriteTime;
    const uint64_t size =
        S_ISREG(entry.st_mode) ? static_cast<uint64_t>(entry.st_size) : 0;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return true;
  }
}

int SetWriteTime(int fd, void* context) {
  const FILETIME* lastWriteTime = static_cast<const FILETIME*>(context);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time unchanged
  times[1] = TimespecFromFileTime(*lastWriteTime);
  return futimens(fd, times) == 0 ? 0 : errno;
}

}  // namespace

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  if (pathName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (mkdir(pathName, 0777) == 0) return TRUE;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
  return Fail(ErrorFromErrno(errno));
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  struct stat entry;
  if (fileName == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (lstat(fileName, &entry) != 0) {
    Fail(ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat target;
  const bool resolved = S_ISLNK(entry.st_mode) && stat(fileName, &target) == 0;
  return AttributesOf(entry, resolved ? &target : nullptr);
}

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData) {
  const size_t length = fileName == nullptr ? 0 : strlen(fileName);
  if (length < 2 || fileName[length - 1] != '*' ||
      (fileName[length - 2] != '/' && fileName[length - 2] != '\\') ||
      findFileData == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string folder(fileName, length - 2);
  if (folder.empty()) folder = "/";
  Search* s = new (std::nothrow) Search;
  if (s == nullptr) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  s->dir = opendir(folder.c_str());
  if (s->dir == nullptr) {
    const int e = errno;
    delete s;
    Fail(e == ENOENT || e == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                     : ErrorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  if (!NextEntry(s, findFileData)) {
    const DWORD error = GetLastError();
    closedir(s->dir);
    delete s;
    Fail(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  try {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    LiveSearches().insert(s);
  } catch (...) {
    closedir(s->dir);
    delete s;
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return s;
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findFileData) {
  std::lock_guard<std::mutex> lock(g_searchMutex);
  Search* s = static_cast<Search*>(findFile);
  if (!LiveSearches().count(s)) return Fail(ERROR_INVALID_HANDLE);
  if (findFileData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return NextEntry(s, findFileData) ? TRUE : FALSE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
  Search* s = static_cast<Search*>(findFile);
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    if (LiveSearches().erase(s) == 0) return Fail(ERROR_INVALID_HANDLE);
  }
  closedir(s->dir);
  delete s;
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
  if (existingFileName == nullptr || newFileName == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, existingFileName, AT_FDCWD, newFileName,
                RENAME_NOREPLACE) == 0)
    return TRUE;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    return Fail(ErrorFromErrno(errno));
  }
#endif
  // A file system that cannot refuse to replace in the rename itself: a
  // second link refuses, and the old name goes after it.
  struct stat entry;
  if (lstat(existingFileName, &entry) != 0) return Fail(ErrorFromErrno(errno));
  if (!S_ISDIR(entry.st_mode)) {
    if (link(existingFileName, newFileName) == 0) {
      unlink(existingFileName);
      return TRUE;
    }
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
      return Fail(ErrorFromErrno(errno));
  }
  // No links either: look, then rename.
  if (lstat(newFileName, &entry) == 0) return Fail(ERROR_ALREADY_EXISTS);
  if (rename(existingFileName, newFileName) == 0) return TRUE;
  return Fail(ErrorFromErrno(errno));
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  if (fileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (unlink(fileName) == 0) return TRUE;
  return Fail(ErrorFromErrno(errno));
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                        const FILETIME* lastAccessTime,
                        const FILETIME* lastWriteTime) {
  if (creationTime != nullptr || lastAccessTime != nullptr)
    return Fail(ERROR_NOT_SUPPORTED);
  if (lastWriteTime == nullptr) return TRUE;
  return win32_posix::WithWrittenOutDescriptor(
      file, SetWriteTime,
      const_cast<void*>(static_cast<const void*>(lastWriteTime)));
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

// The folder and name calls of win32.h over POSIX: listings, attributes,
// creating and removing folders, deleting files, full path names.
//
// What a call reports follows Windows: a symbolic link is a reparse point,
// listed without following it; a failure sets the last-error code. A find
// handle is an object of this file, checked against the live ones, so a
// stale handle fails with ERROR_INVALID_HANDLE.

#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/file_time.h"
#include "platform/posix_errors.h"
#include "platform/win32.h"

using win32_posix::ErrorFromErrno;

namespace {

struct FindState {
  DIR* dir = nullptr;
  std::string folder;  // with a trailing "/"
};

std::mutex g_findMutex;
std::unordered_set<FindState*>& LiveFinds() {
  static std::unordered_set<FindState*> live;
  return live;
}

FILETIME FileTimeFrom(const struct timespec& t) {
  return FileTimeOfTicks(
      (static_cast<uint64_t>(t.tv_sec) + kSecondsFrom1601To1970) *
          kTicksPerSecond +
      static_cast<uint64_t>(t.tv_nsec) / 100);
}

// The attributes Windows shows for what lstat() found at path.
DWORD AttributesOf(const char* path, const struct stat& st, DWORD* reparseTag) {
  *reparseTag = 0;
  if (S_ISLNK(st.st_mode)) {
    *reparseTag = IO_REPARSE_TAG_SYMLINK;
    struct stat target;
    const bool toFolder = stat(path, &target) == 0 && S_ISDIR(target.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT |
           (toFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
  }
  DWORD attributes =
      S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

// Fills data for the next entry of state's folder; false at the end (last
// error ERROR_NO_MORE_FILES) or on a failure. An entry that is gone by the
// time it is looked at is passed over.
bool ReadEntry(FindState* state, WIN32_FIND_DATAA* data) {
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(state->dir);
    if (entry == nullptr) {
      SetLastError(errno == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno));
      return false;
    }
    const size_t length = strlen(entry->d_name);
    if (length >= sizeof data->cFileName) continue;  // not on Windows either
    const std::string path = state->folder + entry->d_name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = AttributesOf(path.c_str(), st, &data->dwReserved0);
    data->ftCreationTime = FileTimeFrom(st.st_ctim);
    data->ftLastAccessTime = FileTimeFrom(st.st_atim);
    data->ftLastWriteTime = FileTimeFrom(st.st_mtim);
    if (S_ISREG(st.st_mode)) {
      const uint64_t size = static_cast<uint64_t>(st.st_size);
      data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
      data->nFileSizeLow = static_cast<DWORD>(size);
    }
    memcpy(data->cFileName, entry->d_name, length + 1);
    return true;
  }
}

BOOL FailWith(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  const size_t length = fileName == nullptr ? 0 : strlen(fileName);
  if (length < 2 || strcmp(fileName + length - 2, "/*") != 0 ||
      findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  FindState* state = new (std::nothrow) FindState;
  if (state == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  try {
    state->folder.assign(fileName, length - 1);
  } catch (...) {
    delete state;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  state->dir = opendir(state->folder.c_str());
  if (state->dir == nullptr) {
    const int e = errno;
    delete state;
    SetLastError(e == ENOENT    ? ERROR_PATH_NOT_FOUND
                 : e == ENOTDIR ? ERROR_DIRECTORY
                                : ErrorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  if (!ReadEntry(state, findData)) {
    // A folder lists at least "." and "..": this is a failure.
    const DWORD code = GetLastError();
    closedir(state->dir);
    delete state;
    SetLastError(code == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : code);
    return INVALID_HANDLE_VALUE;
  }
  try {
    std::lock_guard<std::mutex> lock(g_findMutex);
    LiveFinds().insert(state);
  } catch (...) {
    closedir(state->dir);
    delete state;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return state;
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  FindState* state = static_cast<FindState*>(findFile);
  {
    std::lock_guard<std::mutex> lock(g_findMutex);
    if (!LiveFinds().count(state)) return FailWith(ERROR_INVALID_HANDLE);
  }
  if (findData == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return ReadEntry(state, findData) ? TRUE : FALSE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
  FindState* state = static_cast<FindState*>(findFile);
  {
    std::lock_guard<std::mutex> lock(g_findMutex);
    if (LiveFinds().erase(state) == 0) return FailWith(ERROR_INVALID_HANDLE);
  }
  closedir(state->dir);
  delete state;
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  struct stat st;
  if (fileName == nullptr || lstat(fileName, &st) != 0) {
    SetLastError(fileName == nullptr ? ERROR_INVALID_PARAMETER
                                     : ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD tag;
  return AttributesOf(fileName, st, &tag);
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  if (pathName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (mkdir(pathName, 0777) == 0) return TRUE;
  const int e = errno;
  return FailWith(e == EEXIST   ? ERROR_ALREADY_EXISTS
                  : e == ENOENT ? ERROR_PATH_NOT_FOUND
                                : ErrorFromErrno(e));
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
  if (pathName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (rmdir(pathName) == 0) return TRUE;
  const int e = errno;
  return FailWith(e == ENOTEMPTY || e == EEXIST ? ERROR_DIR_NOT_EMPTY
                  : e == ENOTDIR                ? ERROR_DIRECTORY
                                                : ErrorFromErrno(e));
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  if (fileName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  struct stat st;
  // unlink() would take a folder's link away only with privileges; Windows
  // refuses a folder here.
  if (lstat(fileName, &st) == 0 && S_ISDIR(st.st_mode))
    return FailWith(ERROR_ACCESS_DENIED);
  if (unlink(fileName) == 0) return TRUE;
  return FailWith(ErrorFromErrno(errno));
}

DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer,
                              LPSTR* filePart) {
  if (fileName == nullptr || fileName[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  try {
    std::string path;
    if (fileName[0] != '/') {
      std::vector<char> cwd(PATH_MAX);
      if (getcwd(cwd.data(), cwd.size()) == nullptr) {
        SetLastError(ErrorFromErrno(errno));
        return 0;
      }
      path = cwd.data();
      path += '/';
    }
    path += fileName;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string part = path.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = end + 1;
    }
    std::string full;
    for (const std::string& part : parts) full += "/" + part;
    const bool folderOnly = path.back() == '/' || parts.empty();
    if (folderOnly) full += '/';
    if (full.size() >= bufferLength || buffer == nullptr)
      return static_cast<DWORD>(full.size() + 1);
    memcpy(buffer, full.c_str(), full.size() + 1);
    if (filePart != nullptr)
      *filePart = folderOnly ? nullptr : strrchr(buffer, '/') + 1;
    return static_cast<DWORD>(full.size());
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

// Never replaces: Windows refuses when the new name exists.
BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
  if (existingFileName == nullptr || newFileName == nullptr)
    return FailWith(ERROR_INVALID_PARAMETER);
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, existingFileName, AT_FDCWD, newFileName,
                RENAME_NOREPLACE) == 0)
    return TRUE;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    if (errno == EEXIST) return FailWith(ERROR_ALREADY_EXISTS);
    return FailWith(ErrorFromErrno(errno));
  }
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

// The file-system seam over POSIX: every call works relative to an open
// folder's descriptor (openat, fstatat, mkdirat, renameat2, unlinkat), so
// that no path grows past PATH_MAX and no name is looked up twice.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/file_system.h"
#include "platform/file_at-posix.h"
#include "platform/posix_errors.h"

using win32_posix::ErrorFromErrno;

namespace {

// A folder held for being worked in, not for reading: on Linux O_PATH,
// which needs no read permission, so that a folder that can be searched
// but not listed can still be gone through and told apart.
#ifdef O_PATH
const int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

class PosixFolder : public Folder {
 public:
  PosixFolder(int fd, std::string name) : Folder(std::move(name)), fd(fd) {}
  ~PosixFolder() override { close(fd); }
  const int fd;
};

int Fd(const Folder& folder) {
  return static_cast<const PosixFolder&>(folder).fd;
}

DWORD Keep(int fd, const std::string& name, std::unique_ptr<Folder>* folder) {
  folder->reset(new PosixFolder(fd, name));
  return ERROR_SUCCESS;
}

// The last name of a path, for the folder's name.
std::string LastOf(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  const size_t slash = path.rfind('/', end - 1);
  return slash == std::string::npos || end == 1
             ? path.substr(0, end)
             : path.substr(slash + 1, end - slash - 1);
}

// Why name in folderFd could not be opened as a folder (errno e): it is
// missing, a link (where links are not followed), or something else.
DWORD FolderError(int e, int folderFd, const char* name, bool follow) {
  if (e == ENOENT) return ERROR_PATH_NOT_FOUND;
  if (e == ENOTDIR || e == ELOOP) {
    struct stat st;
    if (fstatat(folderFd, name, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(st.st_mode)) return ERROR_STOPPED_ON_SYMLINK;
      if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
    }
    if (e == ENOTDIR) return ERROR_PATH_NOT_FOUND;  // a part of the path
  }
  return ErrorFromErrno(e);
}

// Opens path one name at a time, links followed as the system follows
// them: for a path longer than the system takes whole.
DWORD OpenByParts(const std::string& path, std::unique_ptr<Folder>* folder) {
  int at = open(path[0] == '/' ? "/" : ".", kFolderFlags);
  if (at < 0) return ErrorFromErrno(errno);
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      const std::string name = path.substr(start, end - start);
      const int next = openat(at, name.c_str(), kFolderFlags);
      if (next < 0) {
        const DWORD error = FolderError(errno, at, name.c_str(), true);
        close(at);
        return error;
      }
      close(at);
      at = next;
    }
    start = end + 1;
  }
  return Keep(at, LastOf(path), folder);
}

class PosixFileSystem : public FileSystem {
 public:
  DWORD OpenFolder(const std::string& path,
                   std::unique_ptr<Folder>* folder) override {
    if (path.empty() || path.find('\0') != std::string::npos)
      return ERROR_INVALID_NAME;
    const int fd = open(path.c_str(), kFolderFlags);
    if (fd >= 0) return Keep(fd, LastOf(path), folder);
    if (errno == ENAMETOOLONG) return OpenByParts(path, folder);
    return FolderError(errno, AT_FDCWD, path.c_str(), true);
  }

  DWORD OpenSubfolder(const Folder& parent, const std::string& name,
                      std::unique_ptr<Folder>* folder) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    const int fd = openat(Fd(parent), name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd >= 0) return Keep(fd, name, folder);
    return FolderError(errno, Fd(parent), name.c_str(), false);
  }

  DWORD OpenParent(const Folder& folder,
                   std::unique_ptr<Folder>* parent) override {
    const int fd = openat(Fd(folder), "..", kFolderFlags);
    if (fd < 0) return ErrorFromErrno(errno);
    return Keep(fd, "..", parent);
  }

  DWORD List(const Folder& folder, std::vector<FolderEntry>* entries) override {
    entries->clear();
    // A descriptor of its own for reading: the held one may not read, and
    // a listing moves the position of the descriptor it reads.
    const int fd = openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrorFromErrno(errno);
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
      const int e = errno;
      close(fd);
      return ErrorFromErrno(e);
    }
    DWORD error = ERROR_SUCCESS;
    for (;;) {
      errno = 0;
      const struct dirent* entry = readdir(dir);
      if (entry == nullptr) {
        error = ErrorFromErrno(errno);
        break;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && !name[2])))
        continue;
      struct stat st;
      if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;  // gone meanwhile
        error = ErrorFromErrno(errno);
        break;
      }
      FolderEntry e;
      e.name = name;
      if (S_ISDIR(st.st_mode)) {
        e.kind = EntryKind::kFolder;
      } else if (S_ISREG(st.st_mode)) {
        e.kind = EntryKind::kFile;
        e.size = static_cast<uint64_t>(st.st_size);
      } else if (S_ISLNK(st.st_mode)) {
        e.kind = EntryKind::kLink;
      }
      entries->push_back(std::move(e));
    }
    closedir(dir);
    if (error != ERROR_SUCCESS) entries->clear();
    return error;
  }

  DWORD Identify(const Folder& folder, FileIdentity* identity) override {
    struct stat st;
    if (fstat(Fd(folder), &st) != 0) return ErrorFromErrno(errno);
    identity->device = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
    return ERROR_SUCCESS;
  }

  DWORD MakeFolder(const Folder& parent, const std::string& name) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    if (mkdirat(Fd(parent), name.c_str(), 0777) == 0) return ERROR_SUCCESS;
    return errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno);
  }

  DWORD CreateNewFile(const Folder& parent, const std::string& name,
                      std::unique_ptr<WritableFile>* file) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    // O_CREAT|O_EXCL|O_NOFOLLOW: neither a file nor a link there is used.
    const HANDLE handle =
        win32_posix::CreateFileAt(Fd(parent), name.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ, CREATE_NEW, true, false);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    *file = WritableFileOver(handle);
    return ERROR_SUCCESS;
  }

  DWORD CheckNewName(const std::string& name) override {
    return IsPlainName(name) ? ERROR_SUCCESS : ERROR_INVALID_NAME;
  }

  DWORD OpenForAppending(const Folder& parent, const std::string& name,
                         std::unique_ptr<WritableFile>* file) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    const HANDLE handle =
        win32_posix::CreateFileAt(Fd(parent), name.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ, OPEN_EXISTING, true, true);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    LONG high = 0;
    SetLastError(ERROR_SUCCESS);
    if (SetFilePointer(handle, 0, &high, FILE_END) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != ERROR_SUCCESS) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      return error;
    }
    *file = WritableFileOver(handle);
    return ERROR_SUCCESS;
  }

  DWORD OpenForReading(const Folder& parent, const std::string& name,
                       HANDLE* file) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    *file =
        win32_posix::CreateFileAt(Fd(parent), name.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, OPEN_EXISTING, true, true);
    return *file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }

  DWORD Rename(const Folder& from, const std::string& fromName,
               const Folder& to, const std::string& toName) override {
    if (!IsPlainName(fromName) || !IsPlainName(toName))
      return ERROR_INVALID_NAME;
    const char* a = fromName.c_str();
    const char* b = toName.c_str();
#ifdef RENAME_NOREPLACE
    if (renameat2(Fd(from), a, Fd(to), b, RENAME_NOREPLACE) == 0)
      return ERROR_SUCCESS;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
      return errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno);
#endif
    // A file system that cannot refuse to replace in the rename itself: a
    // second link refuses, and the old name goes after it.
    struct stat st;
    if (fstatat(Fd(from), a, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return ErrorFromErrno(errno);
    if (!S_ISDIR(st.st_mode)) {
      if (linkat(Fd(from), a, Fd(to), b, 0) == 0) {
        unlinkat(Fd(from), a, 0);
        return ERROR_SUCCESS;
      }
      if (errno == EEXIST) return ERROR_ALREADY_EXISTS;
      if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
        return ErrorFromErrno(errno);
    }
    // No links either: look, then rename.
    if (fstatat(Fd(to), b, &st, AT_SYMLINK_NOFOLLOW) == 0)
      return ERROR_ALREADY_EXISTS;
    if (renameat(Fd(from), a, Fd(to), b) == 0) return ERROR_SUCCESS;
    return ErrorFromErrno(errno);
  }

  DWORD RemoveFile(const Folder& parent, const std::string& name) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    if (unlinkat(Fd(parent), name.c_str(), 0) == 0) return ERROR_SUCCESS;
    return ErrorFromErrno(errno);
  }

  DWORD RemoveFolder(const Folder& parent, const std::string& name) override {
    if (!IsPlainName(name)) return ERROR_INVALID_NAME;
    if (unlinkat(Fd(parent), name.c_str(), AT_REMOVEDIR) == 0)
      return ERROR_SUCCESS;
    return errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY
           : errno == ENOTDIR                    ? ERROR_DIRECTORY
                                                 : ErrorFromErrno(errno);
  }
};

}  // namespace

FileSystem* RealFileSystem() {
  static PosixFileSystem real;
  return &real;
}

DWORD HandOnWrites(HANDLE handle) {
  return win32_posix::WriteOutFile(handle) ? ERROR_SUCCESS : GetLastError();
}

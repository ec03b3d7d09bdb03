// What every file system shares: the wrapper, the helpers built on the
// seam's calls, and the written file over a system handle.
#include "io/file_system.h"

#include "io/paths.h"

namespace {

class HandleFile : public WritableFile {
 public:
  explicit HandleFile(HANDLE handle) : handle_(handle) {}
  ~HandleFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  DWORD Write(const void* bytes, size_t count) override {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
      const DWORD piece =
          count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
      DWORD written = 0;
      if (!WriteFile(handle_, next, piece, &written, nullptr))
        return GetLastError();
      // A write that falls short without an error: the disk is full.
      if (written == 0) return ERROR_HANDLE_DISK_FULL;
      next += written;
      count -= written;
    }
    return ERROR_SUCCESS;
  }

  DWORD SetWriteTime(FILETIME time) override {
    return SetFileTime(handle_, nullptr, nullptr, &time) ? ERROR_SUCCESS
                                                         : GetLastError();
  }

  DWORD Flush() override { return HandOnWrites(handle_); }

  DWORD Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed ? ERROR_SUCCESS : GetLastError();
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<WritableFile> WritableFileOver(HANDLE handle) {
  return std::unique_ptr<WritableFile>(new HandleFile(handle));
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (IsPathSeparator(c) || c == '\0') return false;
#ifdef _WIN32
    if (c == ':') return false;
#endif
  }
  return true;
}

DWORD FileSystemWrapper::OpenFolder(const std::string& path,
                                    std::unique_ptr<Folder>* folder) {
  return target_->OpenFolder(path, folder);
}
DWORD FileSystemWrapper::OpenSubfolder(const Folder& parent,
                                       const std::string& name,
                                       std::unique_ptr<Folder>* folder) {
  return target_->OpenSubfolder(parent, name, folder);
}
DWORD FileSystemWrapper::OpenParent(const Folder& folder,
                                    std::unique_ptr<Folder>* parent) {
  return target_->OpenParent(folder, parent);
}
DWORD FileSystemWrapper::List(const Folder& folder,
                              std::vector<FolderEntry>* entries) {
  return target_->List(folder, entries);
}
DWORD FileSystemWrapper::Identify(const Folder& folder,
                                  FileIdentity* identity) {
  return target_->Identify(folder, identity);
}
DWORD FileSystemWrapper::CheckNewName(const std::string& name) {
  return target_->CheckNewName(name);
}
DWORD FileSystemWrapper::MakeFolder(const Folder& parent,
                                    const std::string& name) {
  return target_->MakeFolder(parent, name);
}
DWORD FileSystemWrapper::CreateNewFile(const Folder& parent,
                                       const std::string& name,
                                       std::unique_ptr<WritableFile>* file) {
  return target_->CreateNewFile(parent, name, file);
}
DWORD FileSystemWrapper::OpenForAppending(const Folder& parent,
                                          const std::string& name,
                                          std::unique_ptr<WritableFile>* file) {
  return target_->OpenForAppending(parent, name, file);
}
DWORD FileSystemWrapper::OpenForReading(const Folder& parent,
                                        const std::string& name, HANDLE* file) {
  return target_->OpenForReading(parent, name, file);
}
DWORD FileSystemWrapper::Rename(const Folder& from, const std::string& fromName,
                                const Folder& to, const std::string& toName) {
  return target_->Rename(from, fromName, to, toName);
}
DWORD FileSystemWrapper::RemoveFile(const Folder& parent,
                                    const std::string& name) {
  return target_->RemoveFile(parent, name);
}
DWORD FileSystemWrapper::RemoveFolder(const Folder& parent,
                                      const std::string& name) {
  return target_->RemoveFolder(parent, name);
}

DWORD FolderBelow::Open(FileSystem* fs, const Folder& from,
                        const std::string& relative) {
  at_ = &from;
  owned_.reset();
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = start;
    while (end < relative.size() && !IsPathSeparator(relative[end])) ++end;
    if (end > start) {
      std::unique_ptr<Folder> next;
      const DWORD error =
          fs->OpenSubfolder(*at_, relative.substr(start, end - start), &next);
      if (error != ERROR_SUCCESS) {
        at_ = nullptr;
        owned_.reset();
        return error;
      }
      owned_ = std::move(next);
      at_ = owned_.get();
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

DWORD OpenHolder(FileSystem* fs, const std::string& path,
                 std::unique_ptr<Folder>* holder, std::string* name) {
  std::string full;
  DWORD error = ERROR_SUCCESS;
  if (!FullPath(path, &full, &error)) return error;
  *name = LastName(full);
  if (name->empty()) return ERROR_INVALID_NAME;
  return fs->OpenFolder(ParentPath(full), holder);
}

DWORD IsSameOrBelow(FileSystem* fs, const Folder& folder,
                    const FileIdentity& outer, bool* below) {
  *below = false;
  FileIdentity identity;
  DWORD error = fs->Identify(folder, &identity);
  const Folder* at = &folder;
  std::unique_ptr<Folder> held;
  // Bounded all the same: a file system that shows a loop must not hang
  // the run.
  for (int step = 0; error == ERROR_SUCCESS; ++step) {
    if (identity == outer) {
      *below = true;
      return ERROR_SUCCESS;
    }
    if (step == 1 << 16) return ERROR_CANT_RESOLVE_FILENAME;
    std::unique_ptr<Folder> parent;
    FileIdentity parentIdentity;
    error = fs->OpenParent(*at, &parent);
    if (error == ERROR_SUCCESS) error = fs->Identify(*parent, &parentIdentity);
    if (error != ERROR_SUCCESS) break;
    if (parentIdentity == identity) return ERROR_SUCCESS;  // the root
    held = std::move(parent);
    at = held.get();
    identity = parentIdentity;
  }
  return error;
}

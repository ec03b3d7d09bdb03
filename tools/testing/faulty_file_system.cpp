#include "faulty_file_system.h"

namespace testing_support {

namespace {

// A file whose writes fail once the disk is full by the rules.
class FillingFile : public WritableFile {
 public:
  FillingFile(std::unique_ptr<WritableFile> inner, FaultyFileSystem* fs,
              std::string name)
      : inner_(std::move(inner)), fs_(fs), name_(std::move(name)) {}
  DWORD Write(const void* bytes, size_t count) override {
    if (fs_->Hits(Fault::kDiskFull, name_)) return ERROR_HANDLE_DISK_FULL;
    return inner_->Write(bytes, count);
  }
  DWORD SetWriteTime(FILETIME time) override {
    return inner_->SetWriteTime(time);
  }
  DWORD Flush() override {
    if (fs_->Hits(Fault::kDiskFull, name_)) return ERROR_HANDLE_DISK_FULL;
    return inner_->Flush();
  }
  DWORD Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<WritableFile> inner_;
  FaultyFileSystem* fs_;
  std::string name_;
};

bool Matches(const std::string& pattern, const std::string& name) {
  if (pattern.empty()) return true;
  if (pattern[0] == '*')
    return name.size() >= pattern.size() - 1 &&
           name.compare(name.size() - (pattern.size() - 1), std::string::npos,
                        pattern, 1, std::string::npos) == 0;
  if (pattern.back() == '*')
    return name.compare(0, pattern.size() - 1, pattern, 0,
                        pattern.size() - 1) == 0;
  return pattern == name;
}

}  // namespace

void FaultyFileSystem::Add(const FaultRule& rule) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back({rule, 0});
}

int FaultyFileSystem::Failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

bool FaultyFileSystem::Hits(Fault fault, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Counted& c : rules_) {
    if (c.rule.fault != fault || !Matches(c.rule.name, name)) continue;
    if (++c.calls >= c.rule.from) {
      ++failed_;
      return true;
    }
  }
  return false;
}

DWORD FaultyFileSystem::Gone(const Folder& folder) {
  return Hits(Fault::kFolderGone, folder.name()) ? ERROR_PATH_NOT_FOUND
                                                 : ERROR_SUCCESS;
}

DWORD FaultyFileSystem::OpenSubfolder(const Folder& parent,
                                      const std::string& name,
                                      std::unique_ptr<Folder>* folder) {
  if (Gone(parent) != ERROR_SUCCESS || Hits(Fault::kFolderGone, name))
    return ERROR_PATH_NOT_FOUND;
  return FileSystemWrapper::OpenSubfolder(parent, name, folder);
}

DWORD FaultyFileSystem::List(const Folder& folder,
                             std::vector<FolderEntry>* entries) {
  const DWORD error = Gone(folder);
  if (error != ERROR_SUCCESS) return error;
  return FileSystemWrapper::List(folder, entries);
}

DWORD FaultyFileSystem::CheckNewName(const std::string& name) {
  if (Hits(Fault::kNameRefused, name)) return ERROR_INVALID_NAME;
  return FileSystemWrapper::CheckNewName(name);
}

DWORD FaultyFileSystem::MakeFolder(const Folder& parent,
                                   const std::string& name) {
  const DWORD error = Gone(parent);
  if (error != ERROR_SUCCESS) return error;
  if (Hits(Fault::kNameRefused, name)) return ERROR_INVALID_NAME;
  if (Hits(Fault::kCreateFails, name)) return ERROR_ACCESS_DENIED;
  return FileSystemWrapper::MakeFolder(parent, name);
}

DWORD FaultyFileSystem::CreateNewFile(const Folder& parent,
                                      const std::string& name,
                                      std::unique_ptr<WritableFile>* file) {
  DWORD error = Gone(parent);
  if (error != ERROR_SUCCESS) return error;
  if (Hits(Fault::kNameRefused, name)) return ERROR_INVALID_NAME;
  if (Hits(Fault::kCreateFails, name)) return ERROR_ACCESS_DENIED;
  std::unique_ptr<WritableFile> inner;
  error = FileSystemWrapper::CreateNewFile(parent, name, &inner);
  if (error == ERROR_SUCCESS)
    file->reset(new FillingFile(std::move(inner), this, name));
  return error;
}

DWORD FaultyFileSystem::OpenForAppending(const Folder& parent,
                                         const std::string& name,
                                         std::unique_ptr<WritableFile>* file) {
  DWORD error = Gone(parent);
  if (error != ERROR_SUCCESS) return error;
  std::unique_ptr<WritableFile> inner;
  error = FileSystemWrapper::OpenForAppending(parent, name, &inner);
  if (error == ERROR_SUCCESS)
    file->reset(new FillingFile(std::move(inner), this, name));
  return error;
}

DWORD FaultyFileSystem::OpenForReading(const Folder& parent,
                                       const std::string& name, HANDLE* file) {
  const DWORD error = Gone(parent);
  if (error != ERROR_SUCCESS) return error;
  return FileSystemWrapper::OpenForReading(parent, name, file);
}

DWORD FaultyFileSystem::Rename(const Folder& from, const std::string& fromName,
                               const Folder& to, const std::string& toName) {
  DWORD error = Gone(from);
  if (error == ERROR_SUCCESS) error = Gone(to);
  if (error != ERROR_SUCCESS) return error;
  if (Hits(Fault::kNameRefused, toName)) return ERROR_INVALID_NAME;
  if (Hits(Fault::kRenameFails, fromName)) return ERROR_ACCESS_DENIED;
  return FileSystemWrapper::Rename(from, fromName, to, toName);
}

DWORD FaultyFileSystem::RemoveFile(const Folder& parent,
                                   const std::string& name) {
  const DWORD error = Gone(parent);
  if (error != ERROR_SUCCESS) return error;
  return FileSystemWrapper::RemoveFile(parent, name);
}

DWORD FaultyFileSystem::RemoveFolder(const Folder& parent,
                                     const std::string& name) {
  const DWORD error = Gone(parent);
  if (error != ERROR_SUCCESS) return error;
  return FileSystemWrapper::RemoveFolder(parent, name);
}

}  // namespace testing_support

#include "maildir/maildir_folder.h"

#include <atomic>
#include <vector>

#include "maildir/maildir_name.h"

namespace {

const char* const kSubfolders[] = {"cur", "new", "tmp"};

// Deliveries of all threads count on, so that two never share a name.
std::atomic<uint64_t> g_sequence{0};

bool IsSubfolderName(const std::string& name) {
  for (const char* sub : kSubfolders)
    if (name == sub) return true;
  return false;
}

// Whether the folder name in folder holds nothing; *error when it cannot
// be told.
bool IsEmptySubfolder(FileSystem* fs, const Folder& folder, const char* name,
                      DWORD* error) {
  std::unique_ptr<Folder> sub;
  std::vector<FolderEntry> entries;
  *error = fs->OpenSubfolder(folder, name, &sub);
  if (*error == ERROR_SUCCESS) *error = fs->List(*sub, &entries);
  return entries.empty();
}

}  // namespace

MaildirTarget InspectMaildirTarget(const std::string& folder, DWORD* error,
                                   FileSystem* fs) {
  *error = ERROR_SUCCESS;
  std::unique_ptr<Folder> open;
  const DWORD opened = fs->OpenFolder(folder, &open);
  if (opened == ERROR_PATH_NOT_FOUND || opened == ERROR_FILE_NOT_FOUND)
    return MaildirTarget::kMissing;
  if (opened == ERROR_DIRECTORY) return MaildirTarget::kNotAFolder;
  std::vector<FolderEntry> entries;
  *error = opened != ERROR_SUCCESS ? opened : fs->List(*open, &entries);
  if (*error != ERROR_SUCCESS) return MaildirTarget::kUnreadable;
  if (entries.empty()) return MaildirTarget::kEmptyFolder;

  int subfolders = 0;   // cur, new and tmp, found as folders
  bool others = false;  // anything else but files
  for (const FolderEntry& e : entries) {
    if (e.kind == EntryKind::kFolder && IsSubfolderName(e.name))
      ++subfolders;
    else if (e.kind == EntryKind::kFolder || e.kind == EntryKind::kLink)
      others = true;
  }
  if (others || subfolders != 3) return MaildirTarget::kNotEmpty;

  // Messages live in cur and new; tmp holds deliveries in progress or
  // left behind, which readers never show.
  for (const char* sub : {"cur", "new"}) {
    const bool empty = IsEmptySubfolder(fs, *open, sub, error);
    if (*error != ERROR_SUCCESS) return MaildirTarget::kUnreadable;
    if (!empty) return MaildirTarget::kNotEmpty;
  }
  return MaildirTarget::kEmptyMaildir;
}

DWORD CreateMaildir(FileSystem* fs, const Folder& folder, bool subfolder) {
  for (const char* sub : kSubfolders) {
    DWORD error = fs->MakeFolder(folder, sub);
    if (error == ERROR_ALREADY_EXISTS) {
      // Kept when it is a folder, not a file or a link.
      std::unique_ptr<Folder> existing;
      error = fs->OpenSubfolder(folder, sub, &existing);
    }
    if (error != ERROR_SUCCESS) return error;
  }
  if (!subfolder) return ERROR_SUCCESS;
  std::unique_ptr<WritableFile> marker;
  const DWORD error = fs->CreateNewFile(folder, "maildirfolder", &marker);
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
    return ERROR_SUCCESS;
  return error != ERROR_SUCCESS ? error : marker->Close();
}

DWORD CreateMaildir(const std::string& folder, bool subfolder, FileSystem* fs) {
  std::unique_ptr<Folder> holder, open;
  std::string name;
  DWORD error = OpenHolder(fs, folder, &holder, &name);
  if (error == ERROR_SUCCESS) {
    error = fs->MakeFolder(*holder, name);
    if (error == ERROR_ALREADY_EXISTS) error = ERROR_SUCCESS;
  }
  if (error == ERROR_SUCCESS) error = fs->OpenSubfolder(*holder, name, &open);
  if (error == ERROR_SUCCESS) error = CreateMaildir(fs, *open, subfolder);
  return error;
}

MaildirDelivery::MaildirDelivery(const std::string& folder, FileSystem* fs)
    : fs_(fs),
      path_(folder),
      host_(LocalHostNamePart()),
      pid_(GetCurrentProcessId()) {}

MaildirDelivery::MaildirDelivery(FileSystem* fs, std::unique_ptr<Folder> folder)
    : fs_(fs),
      owned_(std::move(folder)),
      folder_(owned_.get()),
      host_(LocalHostNamePart()),
      pid_(GetCurrentProcessId()) {}

MaildirDelivery::MaildirDelivery(FileSystem* fs, const Folder& folder)
    : fs_(fs),
      folder_(&folder),
      host_(LocalHostNamePart()),
      pid_(GetCurrentProcessId()) {}

MaildirDelivery::~MaildirDelivery() { Abandon(); }

DWORD MaildirDelivery::OpenFolders() {
  DWORD error = ERROR_SUCCESS;
  if (!folder_) {
    std::unique_ptr<Folder> holder;
    std::string name;
    error = OpenHolder(fs_, path_, &holder, &name);
    if (error == ERROR_SUCCESS)
      error = fs_->OpenSubfolder(*holder, name, &owned_);
    folder_ = owned_.get();
  }
  if (error == ERROR_SUCCESS)
    error = fs_->OpenSubfolder(*folder_, "tmp", &tmp_);
  if (error == ERROR_SUCCESS)
    error =
        fs_->OpenSubfolder(*folder_, DeliveredFolder(kColonInNames), &place_);
  if (error != ERROR_SUCCESS) tmp_.reset();
  return error;
}

DWORD MaildirDelivery::Begin() {
  Abandon();
  DWORD error = place_ ? ERROR_SUCCESS : OpenFolders();
  // A name another delivery took meanwhile gives way to the next one.
  for (int attempt = 0; error == ERROR_SUCCESS && attempt < 100; ++attempt) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    tmpName_ = UniqueMessageName(now, pid_, g_sequence.fetch_add(1), host_);
    error = fs_->CreateNewFile(*tmp_, tmpName_, &file_);
    if (error == ERROR_SUCCESS) {
      size_ = 0;
      writeError_ = ERROR_SUCCESS;
      return ERROR_SUCCESS;
    }
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
      error = ERROR_SUCCESS;
  }
  tmpName_.clear();
  return error != ERROR_SUCCESS ? error : ERROR_FILE_EXISTS;
}

DWORD MaildirDelivery::Write(const void* bytes, size_t count) {
  if (!file_) return ERROR_INVALID_HANDLE;
  if (writeError_ != ERROR_SUCCESS) return writeError_;
  writeError_ = file_->Write(bytes, count);
  size_ += count;
  return writeError_;
}

DWORD MaildirDelivery::Finish(FILETIME writeTime) {
  if (!file_) return ERROR_INVALID_HANDLE;
  DWORD error = writeError_;
  if (error == ERROR_SUCCESS) error = file_->SetWriteTime(writeTime);
  // Closing writes out what the handle held back; a full disk shows here.
  const DWORD closed = file_->Close();
  file_.reset();
  if (error == ERROR_SUCCESS) error = closed;
  std::string unique = tmpName_;
  for (int attempt = 0; error == ERROR_SUCCESS; ++attempt) {
    const std::string name = DeliveredMessageName(unique, size_, kColonInNames);
    error = fs_->Rename(*tmp_, tmpName_, *place_, name);
    if (error == ERROR_SUCCESS) {
      lastDelivered_ = JoinPath(DeliveredFolder(kColonInNames), name);
      tmpName_.clear();
      return ERROR_SUCCESS;
    }
    if (error != ERROR_ALREADY_EXISTS || attempt == 100) break;
    // Taken by another writer: the next sequence number makes a new name.
    error = ERROR_SUCCESS;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unique = UniqueMessageName(now, pid_, g_sequence.fetch_add(1), host_);
  }
  Abandon();
  return error;
}

void MaildirDelivery::Abandon() {
  file_.reset();
  if (!tmpName_.empty()) {
    fs_->RemoveFile(*tmp_, tmpName_);
    tmpName_.clear();
  }
}

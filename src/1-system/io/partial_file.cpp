#include "io/partial_file.h"

std::string PartialName(const std::string& name) {
  return "." + name + ".partial";
}

PartialFile::PartialFile(FileSystem* fs, const Folder& folder, std::string name)
    : fs_(fs), folder_(folder), name_(std::move(name)) {}

PartialFile::~PartialFile() { Remove(); }

DWORD PartialFile::Create() {
  Remove();
  const DWORD error = fs_->CreateNewFile(folder_, PartialName(name_), &file_);
  made_ = error == ERROR_SUCCESS;
  return error;
}

DWORD PartialFile::Write(const void* bytes, size_t count) {
  return file_ ? file_->Write(bytes, count) : ERROR_INVALID_HANDLE;
}

DWORD PartialFile::Commit() {
  if (!file_) return ERROR_INVALID_HANDLE;
  // Closing writes out what the handle held back: a full disk may show
  // only here.
  DWORD error = file_->Close();
  file_.reset();
  if (error == ERROR_SUCCESS)
    error = fs_->Rename(folder_, PartialName(name_), folder_, name_);
  if (error == ERROR_SUCCESS)
    made_ = false;
  else
    Remove();
  return error;
}

void PartialFile::Remove() {
  file_.reset();
  if (made_) fs_->RemoveFile(folder_, PartialName(name_));
  made_ = false;
}

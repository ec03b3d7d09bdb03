#include "maildir/maildir_folder.h"

#include <string.h>

#include <atomic>

#include "maildir/maildir_name.h"

namespace {

const char* const kSubfolders[] = {"cur", "new", "tmp"};

// Deliveries of all threads count on, so that two never share a name.
std::atomic<uint64_t> g_sequence{0};

// Calls visit with each entry of folder but "." and ".."; stops when visit
// returns false. ERROR_SUCCESS or the error of the listing.
template <typename Visit>
DWORD ForEachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0 &&
        !visit(data))
      break;
    if (!FindNextFileA(search, &data)) {
      error = GetLastError();
      if (error == ERROR_NO_MORE_FILES) error = ERROR_SUCCESS;
      break;
    }
  }
  FindClose(search);
  return error;
}

bool IsPlainFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

DWORD CreateFolder(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS &&
      IsPlainFolder(GetFileAttributesA(path.c_str())))
    return ERROR_SUCCESS;
  return error;
}

}  // namespace

MaildirTarget InspectMaildirTarget(const std::string& folder, DWORD* error) {
  *error = ERROR_SUCCESS;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = GetLastError();
    if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) {
      *error = ERROR_SUCCESS;
      return MaildirTarget::kMissing;
    }
    return MaildirTarget::kUnreadable;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return MaildirTarget::kNotAFolder;

  int subfolders = 0;   // cur, new and tmp, found as plain folders
  bool others = false;  // anything else but files
  bool any = false;
  *error = ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
    any = true;
    for (const char* sub : kSubfolders) {
      if (strcmp(entry.cFileName, sub) == 0 &&
          IsPlainFolder(entry.dwFileAttributes)) {
        ++subfolders;
        return true;
      }
    }
    if (entry.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      others = true;
    return !others;
  });
  if (*error != ERROR_SUCCESS) return MaildirTarget::kUnreadable;
  if (!any) return MaildirTarget::kEmptyFolder;
  if (others || subfolders != 3) return MaildirTarget::kNotEmpty;

  // Messages live in cur and new; tmp holds deliveries in progress or
  // left behind, which readers never show.
  for (const char* sub : {"cur", "new"}) {
    bool empty = true;
    *error = ForEachEntry(JoinPath(folder, sub), [&](const WIN32_FIND_DATAA&) {
      empty = false;
      return false;
    });
    if (*error != ERROR_SUCCESS) return MaildirTarget::kUnreadable;
    if (!empty) return MaildirTarget::kNotEmpty;
  }
  return MaildirTarget::kEmptyMaildir;
}

DWORD CreateMaildir(const std::string& folder, bool subfolder) {
  DWORD error = CreateFolder(folder);
  for (const char* sub : kSubfolders) {
    if (error == ERROR_SUCCESS) error = CreateFolder(JoinPath(folder, sub));
  }
  if (error != ERROR_SUCCESS || !subfolder) return error;
  HANDLE marker =
      CreateFileA(JoinPath(folder, "maildirfolder").c_str(), GENERIC_WRITE, 0,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return GetLastError();
  if (!CloseHandle(marker)) return GetLastError();
  return ERROR_SUCCESS;
}

MaildirDelivery::MaildirDelivery(const std::string& folder)
    : folder_(folder),
      host_(LocalHostNamePart()),
      pid_(GetCurrentProcessId()) {}

MaildirDelivery::~MaildirDelivery() { Abandon(); }

HANDLE MaildirDelivery::Begin(DWORD* error) {
  Abandon();
  // A name another delivery took meanwhile gives way to the next one.
  for (int attempt = 0; attempt < 100; ++attempt) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unique_ = UniqueMessageName(now, pid_, g_sequence.fetch_add(1), host_);
    tmpPath_ = JoinPath(JoinPath(folder_, "tmp"), unique_.c_str());
    file_ = CreateFileA(tmpPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) return file_;
    *error = GetLastError();
    if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

DWORD MaildirDelivery::Finish(uint64_t size, FILETIME writeTime) {
  if (file_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  DWORD error = ERROR_SUCCESS;
  if (!SetFileTime(file_, nullptr, nullptr, &writeTime)) error = GetLastError();
  // Closing writes out what the handle held back; a full disk shows here.
  if (!CloseHandle(file_) && error == ERROR_SUCCESS) error = GetLastError();
  file_ = INVALID_HANDLE_VALUE;
  const char* place = DeliveredFolder(kColonInNames);
  for (int attempt = 0; error == ERROR_SUCCESS; ++attempt) {
    const std::string name = DeliveredMessageName(unique_, size, kColonInNames);
    const std::string target = JoinPath(JoinPath(folder_, place), name.c_str());
    if (MoveFileA(tmpPath_.c_str(), target.c_str())) {
      lastDelivered_ = JoinPath(place, name.c_str());
      tmpPath_.clear();
      return ERROR_SUCCESS;
    }
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || attempt == 100) break;
    // Taken by another writer: the next sequence number makes a new name.
    error = ERROR_SUCCESS;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unique_ = UniqueMessageName(now, pid_, g_sequence.fetch_add(1), host_);
  }
  Abandon();
  return error;
}

void MaildirDelivery::Abandon() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  if (!tmpPath_.empty()) {
    DeleteFileA(tmpPath_.c_str());
    tmpPath_.clear();
  }
}

// The file-system seam over Win32: the wide calls on "\\?\" paths, which
// have no length limit and take names as they are, built from the final
// path of a folder handle that is held open without delete sharing, so
// that neither the folder nor any folder above it can be renamed or
// swapped while the program works in it. Names are UTF-8 in the program.
#include <string.h>

#include <string>

#include "io/file_system.h"

namespace {

// Held for passing through (a data access, or the share mode would not
// bind others) and for its identity; never shared for deletion.
const DWORD kFolderAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

class WinFolder : public Folder {
 public:
  WinFolder(HANDLE handle, std::wstring path, std::string name)
      : Folder(std::move(name)), handle(handle), path(std::move(path)) {}
  ~WinFolder() override { CloseHandle(handle); }
  const HANDLE handle;
  // "\\?\C:\a\b" or "\\?\UNC\server\share\a"; a separator at the end only
  // for a drive's root.
  const std::wstring path;
};

const WinFolder& Win(const Folder& folder) {
  return static_cast<const WinFolder&>(folder);
}

bool Wide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                      static_cast<int>(text.size()), &(*wide)[0], n);
  return true;
}

std::string Narrow(const wchar_t* wide) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, nullptr, nullptr);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}

bool IsRoot(const std::wstring& path) {
  const std::wstring unc = L"\\\\?\\UNC\\";
  if (path.compare(0, unc.size(), unc) == 0) {
    const size_t server = path.find(L'\\', unc.size());
    return server == std::wstring::npos ||
           path.find(L'\\', server + 1) == std::wstring::npos ||
           path.find(L'\\', server + 1) == path.size() - 1;
  }
  return path.size() <= 7;  // "\\?\C:\"
}

// The entry name in folder, or false for a name the seam refuses.
bool Child(const Folder& folder, const std::string& name, std::wstring* path) {
  std::wstring wide;
  if (!IsPlainName(name) || !Wide(name, &wide)) return false;
  const std::wstring& base = Win(folder).path;
  *path = base.back() == L'\\' ? base + wide : base + L"\\" + wide;
  return true;
}

// Where the open handle's entry is not of the kind wanted: a link (or
// another reparse point), a file where a folder was wanted, a folder
// where a file was.
DWORD CheckKind(HANDLE handle, bool folder) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return GetLastError();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return ERROR_STOPPED_ON_SYMLINK;
  const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isFolder != folder) return folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// Names Windows would take for a device or change on the way (a trailing
// dot or blank): refused where a name is made, not where one is read.
bool IsNameToMake(const std::string& name) {
  if (name.back() == '.' || name.back() == ' ') return false;
  for (unsigned char c : name)
    if (c < 0x20 || strchr("<>\"|?*", c) != nullptr) return false;
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
    return false;
  return !(stem.size() == 4 &&
           (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9');
}

DWORD OpenFolderAt(const std::wstring& path, bool follow,
                   const std::string& name, std::unique_ptr<Folder>* folder) {
  const HANDLE handle = CreateFileW(
      path.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
  }
  const DWORD error = CheckKind(handle, true);
  if (error != ERROR_SUCCESS) {
    CloseHandle(handle);
    return error;
  }
  std::wstring final = path;
  if (follow) {
    // Where the links led: the names below are taken from there.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetFinalPathNameByHandleW(
          handle, &buffer[0], static_cast<DWORD>(buffer.size()),
          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (n == 0) break;
      if (n < buffer.size()) {
        final.assign(buffer.data(), n);
        break;
      }
      buffer.resize(n);
    }
  }
  if (final.size() > 7 && final.back() == L'\\' && !IsRoot(final))
    final.pop_back();
  folder->reset(new WinFolder(handle, final, name));
  return ERROR_SUCCESS;
}

// The regular file name in folder, never through a link, with access.
DWORD OpenRegular(const Folder& folder, const std::string& name, DWORD access,
                  HANDLE* file) {
  std::wstring path;
  if (!Child(folder, name, &path)) return ERROR_INVALID_NAME;
  const HANDLE handle =
      CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = CheckKind(handle, false);
  if (error == ERROR_SUCCESS && GetFileType(handle) != FILE_TYPE_DISK)
    error = ERROR_BAD_FILE_TYPE;
  if (error != ERROR_SUCCESS) {
    CloseHandle(handle);
    return error;
  }
  *file = handle;
  return ERROR_SUCCESS;
}

class WinFileSystem : public FileSystem {
 public:
  DWORD OpenFolder(const std::string& path,
                   std::unique_ptr<Folder>* folder) override {
    std::wstring wide;
    if (path.empty() || !Wide(path, &wide)) return ERROR_INVALID_NAME;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetFullPathNameW(
          wide.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
      if (n == 0) return GetLastError();
      if (n < full.size()) {
        full.resize(n);
        break;
      }
      full.resize(n);
    }
    if (full.compare(0, 4, L"\\\\?\\") != 0)
      full = full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + full.substr(2)
                                              : L"\\\\?\\" + full;
    const size_t last = full.find_last_of(L'\\', full.size() - 2);
    return OpenFolderAt(full, true, Narrow(full.c_str() + last + 1), folder);
  }

  DWORD OpenSubfolder(const Folder& parent, const std::string& name,
                      std::unique_ptr<Folder>* folder) override {
    std::wstring path;
    if (!Child(parent, name, &path)) return ERROR_INVALID_NAME;
    return OpenFolderAt(path, false, name, folder);
  }

  DWORD OpenParent(const Folder& folder,
                   std::unique_ptr<Folder>* parent) override {
    std::wstring path = Win(folder).path;
    if (!IsRoot(path)) {
      path.erase(path.rfind(L'\\'));
      if (path.size() == 6) path += L'\\';  // "\\?\C:" is "\\?\C:\"
    }
    return OpenFolderAt(path, true, "..", parent);
  }

  DWORD List(const Folder& folder, std::vector<FolderEntry>* entries) override {
    entries->clear();
    const std::wstring& base = Win(folder).path;
    const std::wstring pattern =
        base.back() == L'\\' ? base + L"*" : base + L"\\*";
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic,
                                         &data, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    DWORD error = ERROR_SUCCESS;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      FolderEntry e;
      e.name = Narrow(data.cFileName);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        e.kind = EntryKind::kLink;
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        e.kind = EntryKind::kFolder;
      } else {
        e.kind = EntryKind::kFile;
        e.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
      }
      entries->push_back(std::move(e));
    } while (FindNextFileW(find, &data));
    error = GetLastError();
    FindClose(find);
    if (error == ERROR_NO_MORE_FILES) return ERROR_SUCCESS;
    entries->clear();
    return error;
  }

  DWORD Identify(const Folder& folder, FileIdentity* identity) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(Win(folder).handle, &info))
      return GetLastError();
    identity->device = info.dwVolumeSerialNumber;
    identity->index =
        (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return ERROR_SUCCESS;
  }

  DWORD CheckNewName(const std::string& name) override {
    return IsPlainName(name) && IsNameToMake(name) ? ERROR_SUCCESS
                                                   : ERROR_INVALID_NAME;
  }

  DWORD MakeFolder(const Folder& parent, const std::string& name) override {
    std::wstring path;
    if (!Child(parent, name, &path) || !IsNameToMake(name))
      return ERROR_INVALID_NAME;
    return CreateDirectoryW(path.c_str(), nullptr) ? ERROR_SUCCESS
                                                   : GetLastError();
  }

  DWORD CreateNewFile(const Folder& parent, const std::string& name,
                      std::unique_ptr<WritableFile>* file) override {
    std::wstring path;
    if (!Child(parent, name, &path) || !IsNameToMake(name))
      return ERROR_INVALID_NAME;
    const HANDLE handle = CreateFileW(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    *file = WritableFileOver(handle);
    return ERROR_SUCCESS;
  }

  DWORD OpenForAppending(const Folder& parent, const std::string& name,
                         std::unique_ptr<WritableFile>* file) override {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = OpenRegular(parent, name, GENERIC_WRITE, &handle);
    if (error != ERROR_SUCCESS) return error;
    LONG high = 0;
    SetLastError(ERROR_SUCCESS);
    if (SetFilePointer(handle, 0, &high, FILE_END) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != ERROR_SUCCESS) {
      error = GetLastError();
      CloseHandle(handle);
      return error;
    }
    *file = WritableFileOver(handle);
    return ERROR_SUCCESS;
  }

  DWORD OpenForReading(const Folder& parent, const std::string& name,
                       HANDLE* file) override {
    *file = INVALID_HANDLE_VALUE;
    return OpenRegular(parent, name, GENERIC_READ, file);
  }

  DWORD Rename(const Folder& from, const std::string& fromName,
               const Folder& to, const std::string& toName) override {
    std::wstring a, b;
    if (!Child(from, fromName, &a) || !Child(to, toName, &b) ||
        !IsNameToMake(toName))
      return ERROR_INVALID_NAME;
    // Without MOVEFILE_REPLACE_EXISTING: an existing name is refused.
    if (MoveFileExW(a.c_str(), b.c_str(), 0)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : error;
  }

  DWORD RemoveFile(const Folder& parent, const std::string& name) override {
    std::wstring path;
    if (!Child(parent, name, &path)) return ERROR_INVALID_NAME;
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
  }

  DWORD RemoveFolder(const Folder& parent, const std::string& name) override {
    std::wstring path;
    if (!Child(parent, name, &path)) return ERROR_INVALID_NAME;
    return RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
  }
};

}  // namespace

FileSystem* RealFileSystem() {
  static WinFileSystem real;
  return &real;
}

// WriteFile hands every byte to the system at once.
DWORD HandOnWrites(HANDLE) { return ERROR_SUCCESS; }

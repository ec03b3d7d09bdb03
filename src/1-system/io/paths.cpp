#include "io/paths.h"

#include <stdlib.h>

#include <vector>

#include "bytes/ascii.h"

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsPathSeparator(folder.back())) return folder + name;
  return folder + kPathSeparator + name;
}

namespace {

bool IsRoot(const std::string& path) {
#ifdef _WIN32
  // "C:\", or the "\\server\share\" of a network name.
  if (path.size() == 3 && path[1] == ':') return true;
  if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
    size_t server = path.find('\\', 2);
    return server != std::string::npos &&
           path.find('\\', server + 1) == path.size() - 1;
  }
  return false;
#else
  return path == "/";
#endif
}

// The name the system itself gives an existing file or folder, all links
// followed. False when there is none.
bool FinalPath(const std::string& path, std::string* finalPath) {
#ifdef _WIN32
  HANDLE handle = CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::vector<char> buffer(MAX_PATH);
  DWORD length;
  for (;;) {
    length = GetFinalPathNameByHandleA(handle, buffer.data(),
                                       static_cast<DWORD>(buffer.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length < buffer.size()) break;  // 0 when it failed
    buffer.resize(length);
  }
  CloseHandle(handle);
  if (length == 0) return false;
  finalPath->assign(buffer.data(), length);
  // "\\?\C:\x" is "C:\x", "\\?\UNC\server\share" "\\server\share".
  if (finalPath->compare(0, 8, "\\\\?\\UNC\\") == 0)
    finalPath->replace(0, 8, "\\\\");
  else if (finalPath->compare(0, 4, "\\\\?\\") == 0)
    finalPath->erase(0, 4);
  return true;
#else
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return false;
  finalPath->assign(resolved);
  free(resolved);
  return true;
#endif
}

}  // namespace

bool FullPath(const std::string& name, std::string* full, DWORD* error) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        GetFullPathNameA(name.c_str(), static_cast<DWORD>(buffer.size()),
                         buffer.data(), nullptr);
    if (length == 0) {
      *error = GetLastError();
      return false;
    }
    if (length < buffer.size()) {
      full->assign(buffer.data(), length);
      break;
    }
    buffer.resize(length);
  }
  while (full->size() > 1 && IsPathSeparator(full->back()) && !IsRoot(*full))
    full->pop_back();
  return true;
}

std::string WithLinksResolved(const std::string& fullPath) {
  std::string existing = fullPath;
  std::string rest;  // the names below existing that are not there (yet)
  for (;;) {
    std::string resolved;
    if (FinalPath(existing, &resolved))
      return rest.empty() ? resolved : JoinPath(resolved, rest);
    const std::string name = LastName(existing);
    if (name.empty()) return fullPath;
    rest = rest.empty() ? name : JoinPath(name, rest);
    existing = ParentPath(existing);
  }
}

std::string LastName(const std::string& fullPath) {
  if (IsRoot(fullPath)) return std::string();
  size_t i = fullPath.size();
  while (i > 0 && !IsPathSeparator(fullPath[i - 1])) --i;
  return fullPath.substr(i);
}

std::string ParentPath(const std::string& fullPath) {
  size_t i = fullPath.size() - LastName(fullPath).size();
  std::string parent = fullPath.substr(0, i);
  if (parent.size() > 1 && IsPathSeparator(parent.back()) && !IsRoot(parent))
    parent.pop_back();
  return parent;
}

int CompareNames(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(FoldAscii(a[i]));
    unsigned char y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

// The identity calls of win32.h over POSIX: user, computer, lower case.
#include <errno.h>
#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/posix_errors.h"
#include "platform/win32.h"

using win32_posix::ErrorFromErrno;

BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(hint > 0 ? static_cast<size_t>(hint) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(),
                            &found)) == ERANGE &&
           scratch.size() < (size_t{1} << 24)) {
      scratch.resize(scratch.size() * 2);
    }
    if (rc != 0 || found == nullptr) {
      SetLastError(rc != 0 ? ErrorFromErrno(rc) : ERROR_NONE_MAPPED);
      return FALSE;
    }
    const size_t needed = strlen(entry.pw_name) + 1;
    if (needed > UINT32_MAX) {
      SetLastError(ERROR_NONE_MAPPED);
      return FALSE;
    }
    if (buffer == nullptr || *size < needed) {
      *size = static_cast<DWORD>(needed);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    memcpy(buffer, entry.pw_name, needed);
    *size = static_cast<DWORD>(needed);
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char host[257];
  if (gethostname(host, sizeof host - 1) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  host[sizeof host - 1] = '\0';
  // Windows gives the NetBIOS name, the host name cut to 15 characters; so
  // a recovered message's "To: " line reads the same from both builds.
  const size_t length =
      std::min<size_t>(strcspn(host, "."), MAX_COMPUTERNAME_LENGTH);
  if (buffer == nullptr || *size < length + 1) {
    *size = static_cast<DWORD>(length + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  memcpy(buffer, host, length);
  buffer[length] = '\0';
  *size = static_cast<DWORD>(length);
  return TRUE;
}

DWORD WINAPI CharLowerBuffA(LPSTR text, DWORD length) {
  if (text == nullptr) return 0;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z')
      text[i] = static_cast<char>(text[i] + ('a' - 'A'));
  }
  return length;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

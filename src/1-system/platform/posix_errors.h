// How errno values read as Win32 error codes, for the POSIX layer.
#ifndef KORVANE_PLATFORM_POSIX_ERRORS_H_
#define KORVANE_PLATFORM_POSIX_ERRORS_H_

#include "platform/win32.h"

namespace win32_posix {

DWORD ErrorFromErrno(int e);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_POSIX_ERRORS_H_

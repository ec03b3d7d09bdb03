// What a failed system call means, in words a user reads, from the system's
// error code (GetLastError; the POSIX layer gives the same codes).
#ifndef KORVANE_PLATFORM_SYSTEM_ERROR_H_
#define KORVANE_PLATFORM_SYSTEM_ERROR_H_

#include <string>

#include "platform/win32.h"

// "no such file", "access denied", "the disk is full", ...; "system error
// N" for a code without words of its own.
std::string SystemErrorText(DWORD code);

#endif  // KORVANE_PLATFORM_SYSTEM_ERROR_H_

// Opening a file by its name in an open folder, for the file-system seam
// (io/file_system-posix.cpp): a handle of this layer, like CreateFileA's,
// that the program's other calls (WriteFile, mappings, SetFileTime) take.
#ifndef KORVANE_PLATFORM_FILE_AT_POSIX_H_
#define KORVANE_PLATFORM_FILE_AT_POSIX_H_

#include "platform/win32.h"

namespace win32_posix {

// CreateFileA with name taken in the folder of the descriptor folderFd.
// noLink: a symbolic link in name's place is refused
// (ERROR_STOPPED_ON_SYMLINK), never followed; regularOnly: anything but a
// regular file is refused (ERROR_BAD_FILE_TYPE; a folder ERROR_ACCESS_DENIED).
HANDLE CreateFileAt(int folderFd, const char* name, DWORD access, DWORD share,
                    DWORD disposition, bool noLink, bool regularOnly);

// Writes out what the handle holds back of its writes, so that it outlives
// the process; unlike FlushFileBuffers it does not wait for the disk.
BOOL WriteOutFile(HANDLE file);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_FILE_AT_POSIX_H_

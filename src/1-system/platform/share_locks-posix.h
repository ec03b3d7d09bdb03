// The share modes of the POSIX layer's files, among the handles of this
// process and, through advisory locks, towards other processes.
#ifndef KORVANE_PLATFORM_SHARE_LOCKS_POSIX_H_
#define KORVANE_PLATFORM_SHARE_LOCKS_POSIX_H_

#include "platform/handle_table-posix.h"
#include "platform/win32.h"

namespace win32_posix {

// Lets the newly opened regular file f join the handles of its file, unless
// its access or share mode conflicts with one of them or with another
// process's lock: ERROR_SUCCESS, or the error to fail the open with. The
// check and the joining are one step for all threads.
DWORD AcquireShare(File* f);

// Takes f out of the handles of its file, after its descriptor is closed.
void ReleaseShare(File* f);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_SHARE_LOCKS_POSIX_H_

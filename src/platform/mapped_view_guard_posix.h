// Part of the POSIX layer: turns a bus error inside a mapped view into a
// clean end of the run.
//
// Windows refuses to shrink a file while a view of it exists. POSIX does
// not, and advisory locks do not stop another program from truncating the
// base while it is mapped; reading the lost pages then raises SIGBUS. For
// a guarded view the process prints "error: can't read NAME: ..." and ends
// with status 2 instead of dying by the signal.
#ifndef KORVANE_PLATFORM_MAPPED_VIEW_GUARD_POSIX_H_
#define KORVANE_PLATFORM_MAPPED_VIEW_GUARD_POSIX_H_

#include <stddef.h>

namespace win32_posix {

// Guards the view [base, base + length) of the file open on fd, which the
// user knows as name. False when it cannot be guarded (no free slot, or the
// handler cannot be installed); the view then works as before, unguarded.
bool GuardMappedView(const void* base, size_t length, int fd,
                     const char* name);

// Ends the guard of the view that starts at base, before it is unmapped.
void UnguardMappedView(const void* base);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_MAPPED_VIEW_GUARD_POSIX_H_

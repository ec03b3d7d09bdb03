// Keeps a bus error inside a mapped view from ending the process.
//
// Windows refuses to shrink a file while a view of it exists. POSIX does
// not, and advisory locks do not stop another program from truncating the
// base while it is mapped; reading the lost pages then raises SIGBUS, as
// does a page that the device fails to deliver. Inside a guarded view the
// faulting pages are replaced by zero pages, the view records what
// happened, and the reading goes on over zeros; its owner asks
// MappedViewFailure when it wants to know. A fault in one view touches no
// other view, so threads reading views of their own fail alone.
#ifndef KORVANE_PLATFORM_MAPPED_VIEW_GUARD_POSIX_H_
#define KORVANE_PLATFORM_MAPPED_VIEW_GUARD_POSIX_H_

#include <stddef.h>

namespace win32_posix {

// Views guarded at once: a tree run maps one base per job, and tests and
// the caller's own views take a few more.
constexpr int kGuardedViews = 256;

enum class ViewFailure {
  kNone,
  kShrank,      // a page at or past the file's current end was read
  kUnreadable,  // a page inside the file could not be read
};

// Guards the view [base, base + length) of the file open on fd; writable
// tells how the view was mapped. False when it cannot be guarded (no free
// slot, or the handler cannot be installed); the view then works as
// before, unguarded.
bool GuardMappedView(const void* base, size_t length, int fd, bool writable);

// Ends the guard of the view that starts at base, before it is unmapped.
void UnguardMappedView(const void* base);

// The first failure of a read of the guarded view that starts at base;
// kNone also for a view that is not guarded.
ViewFailure MappedViewFailure(const void* base);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_MAPPED_VIEW_GUARD_POSIX_H_

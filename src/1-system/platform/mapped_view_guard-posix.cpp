#include "platform/mapped_view_guard-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace win32_posix {

namespace {

// One slot per live view; a tree of bases converts many at once.
constexpr int kSlots = kGuardedViews;

// The signal handler reads the slots without a lock: a slot is filled
// before begin is published and begin is withdrawn before it is emptied.
struct Slot {
  std::atomic<uintptr_t> begin{0};  // 0: free
  size_t length = 0;                // rounded up to whole pages
  int fd = -1;  // a descriptor of its own, to ask for the size afterwards
  int protection = PROT_READ;
  std::atomic<int> failure{0};  // a ViewFailure
};

Slot g_slots[kSlots];
std::mutex g_mutex;  // serialises guarding and unguarding, never the handler
bool g_installed = false;
struct sigaction g_previous;
uintptr_t g_pageSize = 4096;
// How many views ever failed: MappedViewFailure's answer is quick while
// none did.
std::atomic<unsigned> g_failedViews{0};

// Maps zero pages over the faulting page of the view, or over every page
// from it to the end of the view when the file shrank (each of those would
// fault alike), and records the failure. Only async-signal-safe calls.
bool ReadOnOverZeros(Slot& slot, uintptr_t begin, uintptr_t at) {
  struct stat st;
  const bool shrank = fstat(slot.fd, &st) == 0 &&
                      static_cast<uint64_t>(st.st_size) <= at - begin;
  const uintptr_t first = at & ~(g_pageSize - 1);
  const uintptr_t end = shrank ? begin + slot.length : first + g_pageSize;
  void* zeros =
      mmap(reinterpret_cast<void*>(first), end - first, slot.protection,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (zeros == MAP_FAILED) return false;
  int none = static_cast<int>(ViewFailure::kNone);
  const ViewFailure failure =
      shrank ? ViewFailure::kShrank : ViewFailure::kUnreadable;
  if (slot.failure.compare_exchange_strong(none, static_cast<int>(failure)))
    g_failedViews.fetch_add(1);
  return true;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  // Only a fault raised by the system names an address; a SIGBUS sent by
  // kill does not.
  if (info != nullptr && info->si_code > 0) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
      const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
      if (begin == 0 || at < begin || at - begin >= slot.length) continue;
      if (ReadOnOverZeros(slot, begin, at)) {
        errno = savedErrno;
        return;  // the reading instruction runs again, now over zeros
      }
      break;  // no memory for the zero pages: nothing to go on with
    }
  }
  // Not a view of ours: whatever was there before decides.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction != nullptr) {
      g_previous.sa_sigaction(signal, info, context);
      return;
    }
  } else if (g_previous.sa_handler != SIG_DFL &&
             g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);
  raise(SIGBUS);  // delivered on return, for a signal sent by kill too
}

bool Install() {
  if (g_installed) return true;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) g_pageSize = static_cast<uintptr_t>(page);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGBUS, &action, &g_previous) != 0) return false;
  g_installed = true;
  return true;
}

}  // namespace

bool GuardMappedView(const void* base, size_t length, int fd, bool writable) {
  if (base == nullptr || length == 0) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Install()) return false;
  for (Slot& slot : g_slots) {
    if (slot.begin.load(std::memory_order_relaxed) != 0) continue;
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return false;
    slot.length = (length + g_pageSize - 1) & ~(g_pageSize - 1);
    slot.fd = own;
    slot.protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    slot.failure.store(static_cast<int>(ViewFailure::kNone),
                       std::memory_order_relaxed);
    slot.begin.store(reinterpret_cast<uintptr_t>(base),
                     std::memory_order_release);
    return true;
  }
  return false;
}

void UnguardMappedView(const void* base) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (Slot& slot : g_slots) {
    if (slot.begin.load(std::memory_order_relaxed) !=
        reinterpret_cast<uintptr_t>(base))
      continue;
    slot.begin.store(0, std::memory_order_release);
    close(slot.fd);
    slot.fd = -1;
    slot.length = 0;
    return;
  }
}

ViewFailure MappedViewFailure(const void* base) {
  if (base == nullptr || g_failedViews.load(std::memory_order_acquire) == 0)
    return ViewFailure::kNone;
  for (const Slot& slot : g_slots) {
    if (slot.begin.load(std::memory_order_acquire) ==
        reinterpret_cast<uintptr_t>(base))
      return static_cast<ViewFailure>(
          slot.failure.load(std::memory_order_acquire));
  }
  return ViewFailure::kNone;
}

}  // namespace win32_posix

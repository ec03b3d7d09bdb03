#include "platform/mapped_view_guard_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace win32_posix {

namespace {

// The converter maps one view; a few spare slots cost nothing.
constexpr int kSlots = 16;

// The signal handler reads the slots without a lock: a slot is filled
// before begin is published and begin is withdrawn before it is emptied.
struct Slot {
  std::atomic<uintptr_t> begin{0};  // 0: free
  size_t length = 0;
  int fd = -1;  // a descriptor of its own, to ask for the size afterwards
  char* name = nullptr;
};

Slot g_slots[kSlots];
std::mutex g_mutex;  // serialises guarding and unguarding, never the handler
bool g_installed = false;
struct sigaction g_previous;

void WriteText(const char* text) {
  size_t left = strlen(text);
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

[[noreturn]] void ReportAndExit(const Slot& slot, uintptr_t offset) {
  // A page past the end of the file faults; otherwise the device failed.
  struct stat st;
  const bool shrank = fstat(slot.fd, &st) == 0 &&
                      static_cast<uint64_t>(st.st_size) <= offset;
  // What the run printed before must come first. fflush is not
  // async-signal-safe in general, but the converter never reads a view
  // inside a stdio call, so standard output is not half-way through an
  // update when a fault in a view arrives.
  fflush(stdout);
  WriteText("error: can't read ");
  WriteText(slot.name);
  WriteText(shrank ? ": the file shrank while it was being read"
                   : ": the file could not be read");
  WriteText("\n");
  _exit(2);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (const Slot& slot : g_slots) {
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin != 0 && at >= begin && at - begin < slot.length)
      ReportAndExit(slot, at - begin);
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

bool GuardMappedView(const void* base, size_t length, int fd,
                     const char* name) {
  if (base == nullptr || length == 0) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Install()) return false;
  for (Slot& slot : g_slots) {
    if (slot.begin.load(std::memory_order_relaxed) != 0) continue;
    char* copy = strdup(name != nullptr ? name : "");
    if (copy == nullptr) return false;
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
      free(copy);
      return false;
    }
    slot.length = length;
    slot.fd = own;
    slot.name = copy;
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
    free(slot.name);
    slot.fd = -1;
    slot.name = nullptr;
    slot.length = 0;
    return;
  }
}

}  // namespace win32_posix

// The objects behind the file handles of the POSIX layer, the table of live
// handles and the per-thread last error.
//
// A handle is the address of an object of the table, checked against the
// table on every use, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of touching freed memory. Each object has a
// lock of its own: calls on different handles run side by side, calls on
// one handle one after the other.
#ifndef KORVANE_PLATFORM_HANDLE_TABLE_POSIX_H_
#define KORVANE_PLATFORM_HANDLE_TABLE_POSIX_H_

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <utility>

#include "platform/win32.h"

namespace win32_posix {

struct Object {
  enum Kind { kFile, kMapping };
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  const Kind kind;
  std::mutex mutex;
  bool closed = false;  // set by CloseHandle, under mutex
};

struct File : Object {
  File() : Object(kFile) {}
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  bool regular = false;
  DWORD access = 0;
  DWORD share = 0;
  int lockType = 0;  // LOCK_SH or LOCK_EX while it holds a share of one
  std::unique_ptr<char[]> buffer;
  size_t used = 0;
  bool failed = false;  // a write of this handle failed: sticky
  DWORD failCode = ERROR_SUCCESS;
};

struct Mapping : Object {
  Mapping() : Object(kMapping) {}
  int fd = -1;
  uint64_t size = 0;
  bool writable = false;
};

// Sets the calling thread's last error.
void Fail(DWORD code);

// Enters object in the table; its address is the handle. May throw
// std::bad_alloc, and then the object is not in the table.
HANDLE AddHandle(std::shared_ptr<Object> object);

// Takes the object out of the table, so that no later call finds it; null
// (and ERROR_INVALID_HANDLE) when the handle is not in the table.
std::shared_ptr<Object> RemoveHandle(HANDLE handle);

// An object of the table, kept alive and locked for the length of one call.
template <typename T>
class Held {
 public:
  Held() = default;
  Held(std::shared_ptr<T> object, std::unique_lock<std::mutex> lock)
      : object_(std::move(object)), lock_(std::move(lock)) {}
  explicit operator bool() const { return object_ != nullptr; }
  T* operator->() const { return object_.get(); }
  T* get() const { return object_.get(); }

 private:
  std::shared_ptr<T> object_;
  std::unique_lock<std::mutex> lock_;
};

// The live file or mapping behind handle, locked; empty (and
// ERROR_INVALID_HANDLE) for anything else, also for an object that another
// thread closed while this one waited for its lock.
Held<File> HoldFile(HANDLE handle);
Held<Mapping> HoldMapping(HANDLE handle);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_HANDLE_TABLE_POSIX_H_

// Mappings of whole files, and the views of them.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/file_ops-posix.h"
#include "platform/mapped_view_guard-posix.h"
#include "platform/posix_errors.h"

namespace win32_posix {

namespace {

struct ViewTable {
  std::mutex mutex;
  std::map<const void*, size_t> lengths;
};

// Never destroyed: views may still be unmapped from exit handlers.
ViewTable& Views() {
  static ViewTable* table = new ViewTable;
  return *table;
}

}  // namespace

HANDLE MapFile(File* f, DWORD protect, DWORD maxHigh, DWORD maxLow) {
  bool writable;
  if (protect == PAGE_READONLY) {
    writable = false;
  } else if (protect == PAGE_READWRITE) {
    writable = true;
  } else {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(f->access & GENERIC_READ) ||
      (writable && !(f->access & GENERIC_WRITE))) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  // Whole-file mappings only.
  if (maxHigh != 0 || maxLow != 0) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The view must show what was written through the handle.
  WriteOut(f);
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (st.st_size == 0) {
    Fail(ERROR_FILE_INVALID);
    return nullptr;
  }
  std::shared_ptr<Mapping> m = std::make_shared<Mapping>();
  // Its own descriptor keeps the mapping usable after the file is closed.
  m->fd = fcntl(f->fd, F_DUPFD_CLOEXEC, 0);
  if (m->fd < 0) {
    Fail(ErrorFromErrno(errno));
    return nullptr;
  }
  FdGuard guard(m->fd);
  m->size = static_cast<uint64_t>(st.st_size);
  m->writable = writable;
  HANDLE handle = AddHandle(m);
  guard.release();
  Fail(ERROR_SUCCESS);
  return handle;
}

LPVOID ViewMapping(Mapping* m, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                   SIZE_T bytes) {
  int prot;
  if (access & FILE_MAP_WRITE) {
    if (!m->writable) {
      Fail(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    prot = PROT_READ | PROT_WRITE;
  } else if (access & FILE_MAP_READ) {
    prot = PROT_READ;
  } else {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (offsetHigh != 0 || offsetLow != 0 || bytes > m->size) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const uint64_t length = bytes != 0 ? bytes : m->size;
  if (length > SIZE_MAX) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Pages past a shrunken end fault with SIGBUS on access.
  struct stat st;
  if (fstat(m->fd, &st) != 0) {
    Fail(ErrorFromErrno(errno));
    return nullptr;
  }
  if (static_cast<uint64_t>(st.st_size) < length) {
    Fail(ERROR_FILE_INVALID);
    return nullptr;
  }
  void* view =
      mmap(nullptr, static_cast<size_t>(length), prot, MAP_SHARED, m->fd, 0);
  if (view == MAP_FAILED) {
    Fail(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ErrorFromErrno(errno));
    return nullptr;
  }
  try {
    ViewTable& views = Views();
    std::lock_guard<std::mutex> lock(views.mutex);
    views.lengths.emplace(view, static_cast<size_t>(length));
  } catch (...) {
    munmap(view, static_cast<size_t>(length));
    throw;
  }
  // Unguarded, a file shrunk by another program kills the process by
  // SIGBUS; guarded, the lost pages read as zeros and the view records
  // the failure for its reader.
  GuardMappedView(view, static_cast<size_t>(length), m->fd,
                  (prot & PROT_WRITE) != 0);
  Fail(ERROR_SUCCESS);
  return view;
}

BOOL UnmapView(const void* base) {
  size_t length;
  {
    ViewTable& views = Views();
    std::lock_guard<std::mutex> lock(views.mutex);
    auto it = views.lengths.find(base);
    if (it == views.lengths.end()) {
      Fail(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    length = it->second;
    views.lengths.erase(it);
  }
  // The guard goes first: once unmapped, the addresses may serve another
  // view at once.
  UnguardMappedView(base);
  munmap(const_cast<void*>(base), length);
  return TRUE;
}

}  // namespace win32_posix

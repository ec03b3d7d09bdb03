// The file operations of the POSIX layer, one file per concept: opening
// and closing (file_open-posix.cpp), buffered writes (file_write-posix.cpp),
// reads, seeks and sizes (file_read-posix.cpp), mappings and views
// (file_mapping-posix.cpp). The entry points of win32.h
// (win32_file-posix.cpp) find and lock the object and call these; each
// reports a failure through Fail and may throw std::bad_alloc.
#ifndef KORVANE_PLATFORM_FILE_OPS_POSIX_H_
#define KORVANE_PLATFORM_FILE_OPS_POSIX_H_

#include <unistd.h>

#include "platform/handle_table-posix.h"
#include "platform/win32.h"

namespace win32_posix {

// Opening and closing.
HANDLE OpenFile(const char* name, DWORD access, DWORD share, DWORD disposition);
// The same, name taken in the open folder folderFd (see file_at-posix.h).
HANDLE OpenFileAt(int folderFd, const char* name, DWORD access, DWORD share,
                  DWORD disposition, bool noLink, bool regularOnly);
BOOL CloseFile(File* f);
BOOL CloseMapping(Mapping* m);

// Buffered writes. The converter makes several WriteFile calls per output
// line; one system call each would dominate the run time on a large base.
// Before a file opened for writing: SIGPIPE and SIGXFSZ become errors.
void ReportWriteLimitsAsErrors();
BOOL WriteToFile(File* f, const char* data, DWORD size, LPDWORD written);
// Writes out what the handle holds; false when that or an earlier write of
// the handle failed (f->failCode says why).
bool WriteOut(File* f);
BOOL FlushFile(File* f);
// ERROR_WRITE_FAULT or the disk-full error, for errno e of a write.
DWORD WriteErrorFromErrno(int e);

// Reads, seeks and sizes.
BOOL ReadFromFile(File* f, char* data, DWORD size, LPDWORD read);
DWORD SeekFile(File* f, LONG distance, PLONG distanceHigh, DWORD method);
DWORD SizeOfFile(File* f, LPDWORD sizeHigh);

// Mappings and views.
HANDLE MapFile(File* f, DWORD protect, DWORD maxHigh, DWORD maxLow);
LPVOID ViewMapping(Mapping* m, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                   SIZE_T bytes);
BOOL UnmapView(const void* base);

// Closes fd on every path out unless released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_FILE_OPS_POSIX_H_

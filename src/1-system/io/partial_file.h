// A file that has its name only once it is whole: it is made new under a
// temporary name in its folder, written through the handle that made it,
// and renamed to its own name when complete, never over anything. So a
// name that exists always holds a finished file, whatever cut the writing
// off; a process that did not live to finish leaves the temporary name.
#ifndef KORVANE_IO_PARTIAL_FILE_H_
#define KORVANE_IO_PARTIAL_FILE_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "io/file_system.h"

// The temporary name of the file name while it is written: ".NAME.partial".
std::string PartialName(const std::string& name);

class PartialFile {
 public:
  // The file name in folder, which must stay open while this object lives.
  PartialFile(FileSystem* fs, const Folder& folder, std::string name);
  // A file not committed is closed and removed.
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Makes the file new under its temporary name. ERROR_SUCCESS or why not
  // (ERROR_FILE_EXISTS where something has that name).
  DWORD Create();
  // Appends count bytes. ERROR_SUCCESS or why not.
  DWORD Write(const void* bytes, size_t count);
  // Closes the file and gives it its name (ERROR_ALREADY_EXISTS where
  // something has it). On a failure the file is removed.
  DWORD Commit();

 private:
  void Remove();

  FileSystem* const fs_;
  const Folder& folder_;
  const std::string name_;
  std::unique_ptr<WritableFile> file_;
  bool made_ = false;  // the temporary name exists and is this file's
};

#endif  // KORVANE_IO_PARTIAL_FILE_H_

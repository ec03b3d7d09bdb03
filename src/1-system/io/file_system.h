// The file system as the program works in it: folders are opened once and
// everything else is done by name inside an open folder, so that no name
// swapped for a link while the program runs can send it elsewhere, and no
// path is ever too long to use. One real implementation per system
// (file_system-posix.cpp, file_system-win32.cpp); tests wrap it in one that
// fails on purpose (tools/testing/faulty_file_system.h).
//
// Every call returns ERROR_SUCCESS or the system's error code (GetLastError's
// codes, read with SystemErrorText). A name is one name, never a path: one
// with a separator, "." or ".." is refused with ERROR_INVALID_NAME. Names are
// UTF-8 on every system.
#ifndef KORVANE_IO_FILE_SYSTEM_H_
#define KORVANE_IO_FILE_SYSTEM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"

enum class EntryKind {
  kFolder,
  kFile,   // a regular file
  kLink,   // a symbolic link (on Windows any reparse point, junctions too)
  kOther,  // a FIFO, a device or a socket
};

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::kOther;
  uint64_t size = 0;  // of a regular file
};

// What tells one folder from every other on the machine, whatever names
// lead to it: device and inode, or volume serial number and file index.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& o) const {
    return device == o.device && index == o.index;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// An open folder, held until the object goes. On Windows it is held
// without delete sharing, so that it can be neither renamed nor removed
// while it is open.
class Folder {
 public:
  explicit Folder(std::string name) : name_(std::move(name)) {}
  virtual ~Folder() {}
  // The last name it was opened by (".." for a parent), for messages and
  // for tests; nothing is opened by it.
  const std::string& name() const { return name_; }

 private:
  const std::string name_;
};

// A file created new, written through the handle that created it.
class WritableFile {
 public:
  // Closes the file if Close was not called (its errors are lost then);
  // the file stays.
  virtual ~WritableFile() {}
  // Writes all count bytes, or fails.
  virtual DWORD Write(const void* bytes, size_t count) = 0;
  // Sets the last write time; what was held back is written first.
  virtual DWORD SetWriteTime(FILETIME time) = 0;
  // Hands what was held back to the system, so that it outlives the
  // process (a journal's line); it does not wait for the disk.
  virtual DWORD Flush() = 0;
  // A full disk may show only here. Once only.
  virtual DWORD Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() {}

  // The folder at path, links in it followed (the user named it): a missing
  // one is ERROR_PATH_NOT_FOUND, anything else there ERROR_DIRECTORY.
  virtual DWORD OpenFolder(const std::string& path,
                           std::unique_ptr<Folder>* folder) = 0;
  // The folder name in parent, never through a link
  // (ERROR_STOPPED_ON_SYMLINK); errors as OpenFolder's.
  virtual DWORD OpenSubfolder(const Folder& parent, const std::string& name,
                              std::unique_ptr<Folder>* folder) = 0;
  // The folder that holds folder; a root's is the root itself.
  virtual DWORD OpenParent(const Folder& folder,
                           std::unique_ptr<Folder>* parent) = 0;
  // Every entry but "." and "..", in no particular order. An entry that
  // vanishes while it is listed is left out; one that cannot be looked at
  // fails the listing (a folder that can be read but not searched:
  // ERROR_ACCESS_DENIED).
  virtual DWORD List(const Folder& folder,
                     std::vector<FolderEntry>* entries) = 0;
  virtual DWORD Identify(const Folder& folder, FileIdentity* identity) = 0;

  // Whether a new file or folder may be named name, as far as the system's
  // rules for names tell without making one (ERROR_INVALID_NAME where they
  // do not); the disk may refuse it all the same (too long, ...).
  virtual DWORD CheckNewName(const std::string& name) = 0;
  // A new folder; never an existing one (ERROR_ALREADY_EXISTS).
  virtual DWORD MakeFolder(const Folder& parent, const std::string& name) = 0;
  // A new, empty file; never an existing file or link (ERROR_FILE_EXISTS).
  virtual DWORD CreateNewFile(const Folder& parent, const std::string& name,
                              std::unique_ptr<WritableFile>* file) = 0;
  // An existing regular file, for writing at its end; never through a
  // link (ERROR_STOPPED_ON_SYMLINK), nothing but a regular file
  // (ERROR_BAD_FILE_TYPE).
  virtual DWORD OpenForAppending(const Folder& parent, const std::string& name,
                                 std::unique_ptr<WritableFile>* file) = 0;
  // A regular file for reading and mapping, as CreateFileA's handle with
  // GENERIC_READ and FILE_SHARE_READ; never through a link
  // (ERROR_STOPPED_ON_SYMLINK), nothing but a regular file
  // (ERROR_BAD_FILE_TYPE). The caller closes it.
  virtual DWORD OpenForReading(const Folder& parent, const std::string& name,
                               HANDLE* file) = 0;
  // Moves a file within or between open folders of one file system; never
  // replaces what is at the new name (ERROR_ALREADY_EXISTS).
  virtual DWORD Rename(const Folder& from, const std::string& fromName,
                       const Folder& to, const std::string& toName) = 0;
  // A file or link (not a folder).
  virtual DWORD RemoveFile(const Folder& parent, const std::string& name) = 0;
  // An empty folder.
  virtual DWORD RemoveFolder(const Folder& parent, const std::string& name) = 0;
};

// The system's file system; one for the process, for any thread.
FileSystem* RealFileSystem();
// fs, or where it is null the system's: what a null file system in a
// request or an options struct means.
inline FileSystem* OrRealFileSystem(FileSystem* fs) {
  return fs != nullptr ? fs : RealFileSystem();
}

// Passes every call on to another file system; a wrapper overrides the
// calls it changes.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}

  DWORD OpenFolder(const std::string& path,
                   std::unique_ptr<Folder>* folder) override;
  DWORD OpenSubfolder(const Folder& parent, const std::string& name,
                      std::unique_ptr<Folder>* folder) override;
  DWORD OpenParent(const Folder& folder,
                   std::unique_ptr<Folder>* parent) override;
  DWORD List(const Folder& folder, std::vector<FolderEntry>* entries) override;
  DWORD Identify(const Folder& folder, FileIdentity* identity) override;
  DWORD CheckNewName(const std::string& name) override;
  DWORD MakeFolder(const Folder& parent, const std::string& name) override;
  DWORD CreateNewFile(const Folder& parent, const std::string& name,
                      std::unique_ptr<WritableFile>* file) override;
  DWORD OpenForAppending(const Folder& parent, const std::string& name,
                         std::unique_ptr<WritableFile>* file) override;
  DWORD OpenForReading(const Folder& parent, const std::string& name,
                       HANDLE* file) override;
  DWORD Rename(const Folder& from, const std::string& fromName,
               const Folder& to, const std::string& toName) override;
  DWORD RemoveFile(const Folder& parent, const std::string& name) override;
  DWORD RemoveFolder(const Folder& parent, const std::string& name) override;

 private:
  FileSystem* const target_;
};

// The folder at relative below an open folder ("a/b" with the system's
// separators; "" for that folder itself), each name opened in the one
// before it, never through a link.
class FolderBelow {
 public:
  DWORD Open(FileSystem* fs, const Folder& from, const std::string& relative);
  // Valid after Open succeeded, while from stays open.
  const Folder& get() const { return *at_; }

 private:
  const Folder* at_ = nullptr;
  std::unique_ptr<Folder> owned_;
};

// The folder that holds path (links in it followed) and path's last name,
// which must be one: a root has none (ERROR_INVALID_NAME).
DWORD OpenHolder(FileSystem* fs, const std::string& path,
                 std::unique_ptr<Folder>* holder, std::string* name);

// Whether folder is the folder of identity outer or lies below it,
// followed up the folders that hold it to the root; not by names, so that
// a link or a bind mount does not hide it.
DWORD IsSameOrBelow(FileSystem* fs, const Folder& folder,
                    const FileIdentity& outer, bool* below);

// For the implementations: a name the seam takes (not empty, no
// separator, not "." or ".."; on Windows no ":" either, which would name a
// stream of a file), and a WritableFile over a handle of CreateFile's kind
// that it owns, whose Flush is HandOnWrites (one per system).
bool IsPlainName(const std::string& name);
std::unique_ptr<WritableFile> WritableFileOver(HANDLE handle);
DWORD HandOnWrites(HANDLE handle);

#endif  // KORVANE_IO_FILE_SYSTEM_H_

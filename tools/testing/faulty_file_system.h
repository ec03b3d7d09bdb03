// A file system that fails on purpose, by rule, around another (the real
// one): for the tests of what the program does when the disk refuses.
#ifndef KORVANE_TESTING_FAULTY_FILE_SYSTEM_H_
#define KORVANE_TESTING_FAULTY_FILE_SYSTEM_H_

#include <mutex>
#include <string>
#include <vector>

#include "io/file_system.h"

namespace testing_support {

enum class Fault {
  kCreateFails,  // CreateNewFile and MakeFolder: ERROR_ACCESS_DENIED
  kRenameFails,  // Rename, by its first name: ERROR_ACCESS_DENIED
  kDiskFull,     // Write (and Flush) to a file created or opened here:
                 // ERROR_HANDLE_DISK_FULL
  kFolderGone,   // the folder of that name: opening it, and every call in
                 // it once it is open: ERROR_PATH_NOT_FOUND
  kNameRefused,  // CheckNewName, CreateNewFile, MakeFolder, Rename's new
                 // name: ERROR_INVALID_NAME
};

struct FaultRule {
  Fault fault;
  // The name it applies to; "" for every one. A name ending in "*" stands
  // for every name that begins with the rest, one beginning with "*" for
  // every name that ends with it.
  std::string name;
  // The n-th matching call fails, and every one after it.
  int from = 1;
};

// Safe for several threads.
class FaultyFileSystem : public FileSystemWrapper {
 public:
  explicit FaultyFileSystem(FileSystem* target = RealFileSystem())
      : FileSystemWrapper(target) {}

  void Add(const FaultRule& rule);
  // How many calls the rules have failed.
  int Failed();

  DWORD OpenSubfolder(const Folder& parent, const std::string& name,
                      std::unique_ptr<Folder>* folder) override;
  DWORD List(const Folder& folder, std::vector<FolderEntry>* entries) override;
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

  // Whether a rule for fault matches name at this call, which it counts.
  bool Hits(Fault fault, const std::string& name);

 private:
  // The error a call in folder fails with because it is gone, or
  // ERROR_SUCCESS.
  DWORD Gone(const Folder& folder);

  struct Counted {
    FaultRule rule;
    int calls = 0;
  };
  std::mutex mutex_;
  std::vector<Counted> rules_;
  int failed_ = 0;
};

}  // namespace testing_support

#endif  // KORVANE_TESTING_FAULTY_FILE_SYSTEM_H_

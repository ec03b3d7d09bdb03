// A Maildir on disk: a folder with the sub-folders cur, new and tmp. Each
// message is a file of its own, written into tmp/ and then moved into
// place, so that a reader never sees half a message. Everything is done
// through the file-system seam, by name in open folders: a name swapped for
// a link while a run goes on is never followed.
#ifndef KORVANE_MAILDIR_MAILDIR_FOLDER_H_
#define KORVANE_MAILDIR_MAILDIR_FOLDER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "io/file_system.h"
#include "io/paths.h"
#include "platform/win32.h"

// What is found where a Maildir is to be written.
enum class MaildirTarget {
  kMissing,       // nothing there: it will be created
  kEmptyFolder,   // a folder with nothing in it
  kEmptyMaildir,  // cur, new and tmp, no file in cur or new, and besides
                  // them only files (a reader's index and the like)
  kNotEmpty,      // a folder holding anything else: refused
  kNotAFolder,    // a file or anything else that is not a folder: refused
  kUnreadable,    // it or a part of it cannot be looked at; *error says why
};

MaildirTarget InspectMaildirTarget(const std::string& folder, DWORD* error,
                                   FileSystem* fs = RealFileSystem());

// Creates cur, new and tmp in the open folder unless they are there as
// folders; a sub-folder of a Maildir++ tree also gets its empty
// "maildirfolder" file. Returns ERROR_SUCCESS or the error of the step that
// failed.
DWORD CreateMaildir(FileSystem* fs, const Folder& folder, bool subfolder);
// The same for the folder named folder, which is created unless it is a
// folder already (never through a link).
DWORD CreateMaildir(const std::string& folder, bool subfolder,
                    FileSystem* fs = RealFileSystem());

// Delivers messages into one Maildir, one file each: Begin, Write as often
// as needed, Finish. Not for several threads at once; several deliveries
// may share a folder all the same, in this process or in others.
class MaildirDelivery {
 public:
  // Into the Maildir named folder, which is opened when the first message
  // begins (its last name never through a link).
  explicit MaildirDelivery(const std::string& folder,
                           FileSystem* fs = RealFileSystem());
  // Into the open Maildir folder.
  MaildirDelivery(FileSystem* fs, std::unique_ptr<Folder> folder);
  // Into the open Maildir folder, which stays open while this object lives.
  MaildirDelivery(FileSystem* fs, const Folder& folder);
  ~MaildirDelivery();  // abandons a message begun and not finished
  MaildirDelivery(const MaildirDelivery&) = delete;
  MaildirDelivery& operator=(const MaildirDelivery&) = delete;

  // Creates the next message's file, new, in tmp/. ERROR_SUCCESS or why not.
  DWORD Begin();
  // Appends bytes to the message begun. ERROR_SUCCESS or why not; a
  // message a write failed for is never delivered.
  DWORD Write(const void* bytes, size_t count);
  // Ends the message begun: sets the file's write time, closes it and
  // moves it to its place, never over another file. ERROR_SUCCESS or the
  // error; on an error the file is gone.
  DWORD Finish(FILETIME writeTime);
  // Closes and removes the message begun.
  void Abandon();

  // The name under which the last finished message was delivered, below
  // the folder ("cur/..." or "new/...").
  const std::string& lastDelivered() const { return lastDelivered_; }

 private:
  // Opens the Maildir, its tmp and the folder messages go to.
  DWORD OpenFolders();

  FileSystem* fs_;
  std::string path_;  // of a Maildir opened by name, until it is
  std::unique_ptr<Folder> owned_;
  const Folder* folder_ = nullptr;  // owned_, or the caller's
  std::unique_ptr<Folder> tmp_;
  std::unique_ptr<Folder> place_;  // cur, or new
  std::string host_;
  DWORD pid_;
  std::unique_ptr<WritableFile> file_;
  std::string tmpName_;               // of the message begun; "" for none
  uint64_t size_ = 0;                 // of the message begun
  DWORD writeError_ = ERROR_SUCCESS;  // of the message begun
  std::string lastDelivered_;
};

#endif  // KORVANE_MAILDIR_MAILDIR_FOLDER_H_

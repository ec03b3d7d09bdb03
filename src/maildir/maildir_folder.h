// A Maildir on disk: a folder with the sub-folders cur, new and tmp. Each
// message is a file of its own, written into tmp/ and then moved into
// place, so that a reader never sees half a message.
#ifndef KORVANE_MAILDIR_MAILDIR_FOLDER_H_
#define KORVANE_MAILDIR_MAILDIR_FOLDER_H_

#include <stdint.h>

#include <string>

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

MaildirTarget InspectMaildirTarget(const std::string& folder, DWORD* error);

// Creates folder unless it exists, then its cur, new and tmp; a sub-folder
// of a Maildir++ tree also gets its empty "maildirfolder" file. Returns
// ERROR_SUCCESS or the error of the step that failed.
DWORD CreateMaildir(const std::string& folder, bool subfolder);

// Delivers messages into one Maildir, one file each. Not for several
// threads at once; several deliveries may share a folder all the same,
// in this process or in others.
class MaildirDelivery {
 public:
  explicit MaildirDelivery(const std::string& folder);
  ~MaildirDelivery();  // abandons a message begun and not finished
  MaildirDelivery(const MaildirDelivery&) = delete;
  MaildirDelivery& operator=(const MaildirDelivery&) = delete;

  // Creates the next message's file in tmp/ and returns its handle for
  // the message's bytes; INVALID_HANDLE_VALUE with *error when it fails.
  HANDLE Begin(DWORD* error);

  // Ends the message begun, of size bytes: sets the file's write time,
  // closes it and moves it to its place. ERROR_SUCCESS or the error; on an
  // error the file is gone.
  DWORD Finish(uint64_t size, FILETIME writeTime);

  // Closes and removes the message begun.
  void Abandon();

  // The name under which the last finished message was delivered, below
  // the folder ("cur/..." or "new/...").
  const std::string& lastDelivered() const { return lastDelivered_; }

 private:
  std::string folder_;
  std::string host_;
  DWORD pid_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string unique_;  // of the message begun
  std::string tmpPath_;
  std::string lastDelivered_;
};

#endif  // KORVANE_MAILDIR_MAILDIR_FOLDER_H_

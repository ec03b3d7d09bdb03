// The inventory of a run: one CSV file, one row per record a scan met
// (kInventoryColumns), written as the run goes, so that a run that was cut
// off leaves a valid file of what it had done. Conversions on several
// threads may add to one inventory; each base's rows stay in scan order.
#ifndef KORVANE_INVENTORY_INVENTORY_H_
#define KORVANE_INVENTORY_INVENTORY_H_

#include <stdint.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "framing/message_observer.h"
#include "io/file_system.h"

// A tree's inventory, at the top of OUTDIR, and the name the inventory of
// a run that was cut off is kept under while its rerun carries it over.
extern const char kTreeInventoryName[];
extern const char kEarlierInventoryName[];

class Inventory {
 public:
  // The file name in folder, made new (never over anything there), or
  // without a folder at the path name, replacing a file there as the
  // single run replaces its mailbox. It is made when the first conversion
  // ends or has rows to write, with the byte-order mark and the row of
  // column names: a run that converts nothing leaves none.
  Inventory(FileSystem* fs, const Folder* folder, std::string name)
      : fs(fs), folder(folder), name(std::move(name)) {}

  // Makes the file now rather than when the first conversion ends (tree
  // mode: before the folders' places are made, which then give way to
  // it). ERROR_SUCCESS or why not.
  DWORD Make();

  // Takes over the rows of the bases in keep (by their folder column)
  // from the inventory earlier, in the same folder, of a run that was cut
  // off, then removes that file; rows of other bases are dropped, since
  // their bases are converted again. Makes this inventory first.
  // ERROR_SUCCESS, or why not.
  DWORD CarryOver(const std::string& earlier,
                  const std::set<std::string>& keep);

  // The observer of one base's conversion. folder: its path below ROOT,
  // "/" between names ("" for a single base); outputPrefix: what the
  // places of its messages are given below OUTDIR ("" for none).
  std::unique_ptr<MessageObserver> ForBase(const std::string& folder,
                                           const std::string& outputPrefix);

  // Everything told is written and the file closed. ERROR_SUCCESS, or the
  // first failure of a write.
  DWORD Close();

  uint64_t Rows() const;
  // Whether the file was made (and written, if Close said so).
  bool Made() const;

 private:
  class BaseRows;
  void Append(const std::string& rows, uint64_t count);
  // Makes the file and writes its head; the mutex is held.
  DWORD Open();

  FileSystem* const fs;
  const Folder* const folder;
  const std::string name;
  mutable std::mutex mutex;  // guards what follows
  std::unique_ptr<WritableFile> file;
  bool opened = false;
  DWORD error = ERROR_SUCCESS;
  uint64_t rows = 0;
};

#endif  // KORVANE_INVENTORY_INVENTORY_H_

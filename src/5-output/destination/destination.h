// Where a run's messages go, as an output kind makes it: one object per run,
// given by the kind's row (kinds/output_kind.h) for the name the user gave.
// The run asks it everything that differs between kinds: whether it logs
// in somewhere, where the run keeps its own files, how each base's output
// is made and named, how a tree is laid out, and what to say of it. No
// code outside a kind's own folder asks which kind it is.
#ifndef KORVANE_DESTINATION_DESTINATION_H_
#define KORVANE_DESTINATION_DESTINATION_H_

#include <memory>
#include <string>

#include "account/account_access.h"
#include "framing/framing.h"
#include "framing/message_sink.h"
#include "io/file_system.h"
#include "output_tree/tree_layout.h"
#include "status/status.h"

class Destination {
 public:
  explicit Destination(std::string name) : name(std::move(name)) {}
  virtual ~Destination() {}

  // The destination as the user named it: a path, or an account's URL.
  const std::string& Name() const { return name; }

  // --- Before anything is made ---

  // Who logs in where, for a destination that is a folder of a mail account
  // (true); the run then has the secret found (RunEvents::AccountNeeded)
  // and hands it to LogInWith. False for the others, and, with *error, for
  // a name that cannot be used.
  virtual bool Account(AccountPlace* place, Status* error) const {
    (void)place;
    (void)error;
    return false;
  }
  // How every sink and layout it makes logs in (after Account).
  virtual void LogInWith(const AccountAccess& access) { (void)access; }

  // Where the run keeps its own files (the inventory, a tree's journal):
  // true: with the outputs, on this machine (OUTDIR, or beside a single
  // output), where a tree's journal lets a rerun carry a cut-off run on;
  // false: in the current folder, with the inventory named after
  // InventoryStem, and no journal (the destination's own contents are the
  // record, and a rerun adds only what they lack).
  virtual bool KeepsRecordsBeside() const { return true; }
  // The inventory's name, before its ".csv", where the records are kept
  // in the current folder.
  virtual std::string InventoryStem() const { return std::string(); }

  // --- The outputs ---

  virtual const Framing& MessageFraming() const = 0;
  // Makes the output name: a path (a single base) or, with options.folder,
  // a name in that folder, or a place OpenPlace named. Null, with *why,
  // where it cannot.
  virtual std::unique_ptr<MessageSink> OpenSink(const std::string& name,
                                                const OutputOptions& options,
                                                Status* why) = 0;
  // Each message's fate is the sink's to tell (MessageSink::Tally).
  virtual bool Tallies() const { return false; }
  // What the single run says of an output name it could not make.
  virtual std::string CantCreate(const std::string& name,
                                 const Status& why) const = 0;

  // --- A tree ---

  // The layout of a tree (for an account, logged in); null, with *why,
  // where there is none to be had (nothing was made).
  virtual std::unique_ptr<TreeLayout> Layout(FileSystem* fs, Status* why) = 0;
  // The output of the place output (below the tree's destination, named
  // outName): *name is what OpenSink gets, and *folder, opened below
  // outDir, the folder it is in (left unopened where the place is no file
  // of this machine).
  virtual Status OpenPlace(FileSystem* fs, const Folder& outDir,
                           const std::string& output, FolderBelow* folder,
                           bool* inFolder, std::string* name) const;
  // The place output as messages name it.
  virtual std::string PlaceName(const std::string& outName,
                                const std::string& output) const;
  // What the inventory puts before the place of each message of the place
  // output: its path below OUTDIR and "/" (a file per message), or ":" (a
  // stream, whose messages are told by their byte offsets).
  virtual std::string InventoryPrefix(const std::string& output) const;

  // --- For a front end ---

  // What it gives, in one line.
  virtual std::string Describe() const = 0;

 private:
  const std::string name;
};

#endif  // KORVANE_DESTINATION_DESTINATION_H_

// A folder of an IMAP account as a run's destination: it logs in, its
// sinks upload, its tree is the account's folders below the URL's folder,
// and the run's own files go into the current folder (the account's
// folders are the record: a rerun uploads only what they do not hold).
#ifndef KORVANE_IMAP_IMAP_DESTINATION_H_
#define KORVANE_IMAP_IMAP_DESTINATION_H_

#include <memory>
#include <string>

#include "destination/destination.h"

class ImapDestination : public Destination {
 public:
  explicit ImapDestination(std::string url) : Destination(std::move(url)) {}
  static std::unique_ptr<Destination> Make(const std::string& url);

  bool Account(AccountPlace* place, Status* error) const override;
  void LogInWith(const AccountAccess& access) override {
    this->access = access;
  }
  bool KeepsRecordsBeside() const override { return false; }
  std::string InventoryStem() const override;

  const Framing& MessageFraming() const override;
  std::unique_ptr<MessageSink> OpenSink(const std::string& name,
                                        const OutputOptions& options,
                                        Status* why) override;
  bool Tallies() const override { return true; }
  std::string CantCreate(const std::string& name,
                         const Status& why) const override;

  std::unique_ptr<TreeLayout> Layout(FileSystem* fs, Status* why) override;
  // A place is the folder's URL: named in full, no file of this machine.
  Status OpenPlace(FileSystem* fs, const Folder& outDir,
                   const std::string& output, FolderBelow* folder,
                   bool* inFolder, std::string* name) const override;
  std::string PlaceName(const std::string& outName,
                        const std::string& output) const override;
  // Each message's place is the account's folder.
  std::string InventoryPrefix(const std::string&) const override {
    return std::string();
  }
  std::string Describe() const override;

 private:
  AccountAccess access;
};

#endif  // KORVANE_IMAP_IMAP_DESTINATION_H_

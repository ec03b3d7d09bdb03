// The destinations that are files of this machine (an mbox file, a Maildir,
// a folder of .eml files, and trees of them): each kind's folder gives the
// pieces, this makes the destination of them.
#ifndef KORVANE_DESTINATION_FOLDER_DESTINATION_H_
#define KORVANE_DESTINATION_FOLDER_DESTINATION_H_

#include <memory>
#include <string>

#include "destination/destination.h"

struct FolderKind {
  std::unique_ptr<MessageSink> (*create)(const std::string& name,
                                         const OutputOptions& options,
                                         Status* why);
  std::unique_ptr<TreeLayout> (*layout)(FileSystem* fs);
  const Framing* framing;
  // One stream of bytes (an mbox file): a thread of its own may write it
  // (OutputOptions::writeBehind), and the inventory tells its messages by
  // their offsets.
  bool streamed;
  // How an output of this kind is named when it cannot be made ("Maildir":
  // "can't create Maildir X: why"); null: "can't open X for write".
  const char* noun;
  const char* gives;  // Describe
};

class FolderDestination : public Destination {
 public:
  FolderDestination(std::string name, const FolderKind& kind)
      : Destination(std::move(name)), kind(kind) {}

  const Framing& MessageFraming() const override { return *kind.framing; }
  std::unique_ptr<MessageSink> OpenSink(const std::string& name,
                                        const OutputOptions& options,
                                        Status* why) override;
  std::string CantCreate(const std::string& name,
                         const Status& why) const override;
  std::unique_ptr<TreeLayout> Layout(FileSystem* fs, Status* why) override;
  std::string InventoryPrefix(const std::string& output) const override;
  std::string Describe() const override { return kind.gives; }

 private:
  const FolderKind& kind;
};

// The destination of a kind given by kind, for a row of the kind table.
template <const FolderKind& kind>
std::unique_ptr<Destination> MakeFolderDestination(const std::string& name) {
  return std::unique_ptr<Destination>(new FolderDestination(name, kind));
}

#endif  // KORVANE_DESTINATION_FOLDER_DESTINATION_H_

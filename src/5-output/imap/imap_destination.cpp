#include "imap/imap_destination.h"

#include "eml/eml_name.h"
#include "framing/framing.h"
#include "imap/imap_sink.h"
#include "imap/imap_tree_layout.h"
#include "imap/imap_url.h"

std::unique_ptr<Destination> ImapDestination::Make(const std::string& url) {
  return std::unique_ptr<Destination>(new ImapDestination(url));
}

bool ImapDestination::Account(AccountPlace* place, Status* error) const {
  std::string why;
  if (!ReadImapPlace(Name(), place, &why))
    *error = Status::Of(StatusKind::kBadInput,
                        "the output IMAP URL can't be used: " + why);
  return true;
}

std::string ImapDestination::InventoryStem() const {
  AccountPlace place;
  std::string why;
  ReadImapPlace(Name(), &place, &why);
  return SafeNamePart(
      place.host + "-" + (place.folder.empty() ? "INBOX" : place.folder), 100,
      200);
}

const Framing& ImapDestination::MessageFraming() const { return kImapFraming; }

std::unique_ptr<MessageSink> ImapDestination::OpenSink(
    const std::string& name, const OutputOptions& options, Status* why) {
  OutputOptions logIn = options;
  logIn.account = &access;
  return ImapSink::Create(name, logIn, why);
}

std::string ImapDestination::CantCreate(const std::string& name,
                                        const Status& why) const {
  return "can't upload into " + name + ": " + why.Text();
}

std::unique_ptr<TreeLayout> ImapDestination::Layout(FileSystem* fs,
                                                    Status* why) {
  OutputOptions options;
  options.fs = fs;
  options.account = &access;
  std::unique_ptr<TreeLayout> layout =
      ImapTreeLayout::Create(Name(), options, why);
  if (!layout) *why = Status::Of(why->Kind(), CantCreate(Name(), *why));
  return layout;
}

Status ImapDestination::OpenPlace(FileSystem*, const Folder&,
                                  const std::string& output, FolderBelow*,
                                  bool* inFolder, std::string* name) const {
  *inFolder = false;
  *name = RemotePlaceName(Name(), output);
  return Status::Ok();
}

std::string ImapDestination::PlaceName(const std::string& outName,
                                       const std::string& output) const {
  return RemotePlaceName(outName, output);
}

std::string ImapDestination::Describe() const {
  return "into a folder of an IMAP account (a tree of folders below it)";
}

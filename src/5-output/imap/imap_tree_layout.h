// A tree into an IMAP account: the folders of ROOT become folders below
// PARENT (the folder the tree's URL names, the account's top for none),
// each named after its folder, in the server's hierarchy, with the shared
// naming of every layout (src/5-output/output_tree). A place's output is its
// path below PARENT, "/" between the names, "%", "?" and "#" escaped as in the
// URL; the base in ROOT/A/B goes to PARENT/A/B, the base in ROOT itself to
// PARENT/rootName, and a folder without a base but with bases below it
// gets an empty folder. Below the account's top, a folder named Inbox (in
// any case) directly in ROOT is the account's INBOX (MailboxName).
//
// Where two folders would take one name (compared without regard to ASCII
// case, as some servers do), the later one in tree order gets "-2" (or
// -3, ...); a name the server refuses, or that holds its hierarchy
// separator, becomes folder-N beside it, N the folder's place in tree
// order, with the server's words as the reason. A provider korvane knows
// (src/2-network/provider) may say more: Gmail keeps "[Gmail]" at the top
// of the account for its own folders (a name refused, as above), Exchange
// takes names that differ in any letter's case for one (a clash, as
// above).
//
// A folder that is there already is used as it is: a rerun uploads only
// what it does not hold (ImapUploader's skip rule), so nothing of an
// earlier run needs clearing, and nothing on the server is ever removed.
#ifndef KORVANE_IMAP_IMAP_TREE_LAYOUT_H_
#define KORVANE_IMAP_IMAP_TREE_LAYOUT_H_

#include <memory>
#include <string>
#include <vector>

#include "framing/message_sink.h"
#include "imap/imap_session.h"
#include "imap/imap_url.h"
#include "output_tree/tree_layout.h"
#include "provider/provider.h"

class ImapTreeLayout : public TreeLayout {
 public:
  // Logs in to the account the URL parent names, as options.account says,
  // and reads the server's separator; null, with *why, where it cannot
  // (nothing has been made then). The folders it makes are the server's:
  // the outDir of Prepare is not used.
  static std::unique_ptr<TreeLayout> Create(const std::string& parent,
                                            const OutputOptions& options,
                                            Status* why);

  DWORD Clear(const Folder&, const FolderPlace&,
              const std::vector<WriterRun>&) override {
    return ERROR_SUCCESS;
  }

 protected:
  // Logs out: the places are made.
  void End(const Folder& outDir) override;
  std::string Form(const FolderPlaces& folders, size_t i,
                   const std::string& given, bool fallback) override;
  std::vector<std::string> Claims(const FolderPlaces& folders, size_t i,
                                  const std::string& output) override;
  // Creates the folder unless it is there; ERROR_INVALID_NAME for a name
  // the server refuses (RefusalText tells its words).
  DWORD Make(const Folder& outDir, const FolderPlaces& folders, size_t i,
             const std::string& output) override;
  std::string RefusalText(DWORD error) const override;

 private:
  explicit ImapTreeLayout(FileSystem* fs) : TreeLayout(fs) {}

  std::unique_ptr<ImapSession> session;
  const Provider* provider = nullptr;
  std::string parent;  // the URL
  std::string separator;
  std::string refusal;  // the words of the last refusal
};

#endif  // KORVANE_IMAP_IMAP_TREE_LAYOUT_H_

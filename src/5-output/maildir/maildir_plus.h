// The folder names of a Maildir++ tree, the layout IMAP servers keep a
// user's folders in: every folder of the tree is a Maildir directly below
// the top folder, named "." followed by its path with "." between the
// names: the folder B inside A is ".A.B". The top folder is the INBOX.
#ifndef KORVANE_MAILDIR_MAILDIR_PLUS_H_
#define KORVANE_MAILDIR_MAILDIR_PLUS_H_

#include <string>
#include <vector>

// One folder name as a part of a Maildir++ name: in IMAP's modified UTF-7
// (ModifiedUtf7, src/1-system/bytes), then "." as "\2e", "\" as "\5c" and a "~"
// at the start as "\7e", so that no name is taken for two or for a path.
std::string MaildirPlusName(const std::string& name);

// Whether name is "Inbox" in any letter case.
bool IsInboxName(const std::string& name);

// The sub-folder of the top folder that holds the folder at path (the
// names from the tree's top down to the folder itself): ".A.B". A folder
// named Inbox at the top is the top folder itself (""), since servers take
// every spelling of it for the INBOX; its sub-folders are ".INBOX.X", the
// one spelling under which they can be opened.
std::string MaildirPlusFolder(const std::vector<std::string>& path);

#endif  // KORVANE_MAILDIR_MAILDIR_PLUS_H_

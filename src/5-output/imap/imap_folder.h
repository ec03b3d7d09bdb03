// A folder of the account: its name as the server spells it, creating it
// when missing, and reading what it holds.
#ifndef KORVANE_IMAP_IMAP_FOLDER_H_
#define KORVANE_IMAP_IMAP_FOLDER_H_

#include <functional>
#include <string>
#include <vector>

#include "imap/folder_index.h"
#include "imap/imap_session.h"

// The server's hierarchy separator, from LIST; "" where it has none (a
// flat list of folders).
Status ReadSeparator(ImapSession* session, std::string* separator);

// The server's name for the folder at path (UTF-8 names from the top):
// modified UTF-7, joined with separator; an empty path and a top-level
// name "Inbox" in any case are INBOX. False, with *why, for a name the
// server could not tell apart from a path (it holds the separator) or an
// empty name.
bool MailboxName(const std::vector<std::string>& path,
                 const std::string& separator, std::string* mailbox,
                 std::string* why);

// Creates mailbox unless it exists. *created tells which. A name that
// QuotedMailbox cannot quote is refused (kBadInput).
Status EnsureFolder(ImapSession* session, const std::string& mailbox,
                    bool* created);

// Reads UID, size, identity and Message-ID of every message of mailbox
// into *index (in ranges of sequence numbers, so that no one response is
// huge), *count the messages it holds, and leaves the folder unselected.
Status ReadFolderIndex(ImapSession* session, const std::string& mailbox,
                       FolderIndex* index, size_t* count);

// FETCH items of the messages of mailbox with these UIDs: each FETCH
// response to onFetch with its UID; leaves the folder unselected.
Status FetchByUid(
    ImapSession* session, const std::string& mailbox,
    const std::vector<uint32_t>& uids, const std::string& items,
    const std::function<void(uint32_t, const ImapResponse&)>& onFetch);

// How many messages mailbox holds now (STATUS).
Status CountMessages(ImapSession* session, const std::string& mailbox,
                     size_t* count);

// mailbox as a command argument (a quoted string); "" for a name that
// cannot be one (CR, LF, NUL, 8-bit bytes), which no command may take.
std::string QuotedMailbox(const std::string& mailbox);

#endif  // KORVANE_IMAP_IMAP_FOLDER_H_

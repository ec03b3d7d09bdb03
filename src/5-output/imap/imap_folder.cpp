#include "imap/imap_folder.h"

#include <algorithm>

#include "bytes/ascii.h"
#include "bytes/modified_utf7.h"
#include "imap/imap_date.h"

namespace {

// Sequence numbers per FETCH of the folder's index, and UIDs per FETCH of
// some of its messages.
const size_t kIndexRange = 5000;
const size_t kUidRange = 500;

bool ParseCount(const std::string& text, uint64_t* n) {
  if (text.empty() || text.size() > 19) return false;
  *n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    *n = *n * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

}  // namespace

std::string QuotedMailbox(const std::string& mailbox) {
  std::string quoted;
  return QuoteArgument(mailbox, &quoted) ? quoted : std::string();
}

Status ReadSeparator(ImapSession* session, std::string* separator) {
  separator->clear();
  ImapResponse done;
  Status error = session->Run(
      "LIST \"\" \"\"",
      [&](const ImapResponse& r) {
        if (r.word == "LIST" && r.data.size() >= 2 &&
            r.data[1].kind == ImapValue::kString)
          *separator = r.data[1].text;
      },
      &done);
  if (error.IsOk() && done.word != "OK")
    error =
        Status::Of(StatusKind::kRefused, "LIST refused: " + ServerSays(done));
  return error;
}

bool MailboxName(const std::vector<std::string>& path,
                 const std::string& separator, std::string* mailbox,
                 std::string* why) {
  mailbox->clear();
  if (path.empty()) {
    *mailbox = "INBOX";
    return true;
  }
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i].empty()) {
      *why = "a folder name is empty";
      return false;
    }
    std::string name = ModifiedUtf7(path[i]);
    if (i == 0 && FoldedAscii(path[i]) == "inbox") name = "INBOX";
    if (!separator.empty() && name.find(separator) != std::string::npos) {
      *why = "the folder name \"" + path[i] + "\" holds the server's " +
             "hierarchy separator \"" + separator + "\"";
      return false;
    }
    if (i > 0) *mailbox += separator.empty() ? "/" : separator;
    *mailbox += name;
  }
  if (separator.empty() && path.size() > 1) {
    *why = "the server keeps no folders inside folders";
    return false;
  }
  // Modified UTF-7 is printable ASCII, but for a separator of the
  // server's own.
  if (QuotedMailbox(*mailbox).empty()) {
    *why = "the server's hierarchy separator cannot go into a command";
    return false;
  }
  return true;
}

Status EnsureFolder(ImapSession* session, const std::string& mailbox,
                    bool* created) {
  *created = false;
  if (QuotedMailbox(mailbox).empty())
    return Status::Of(StatusKind::kBadInput,
                      "the folder name cannot go into a command");
  bool found = false;
  ImapResponse done;
  Status error = session->Run(
      "LIST \"\" " + QuotedMailbox(mailbox),
      [&](const ImapResponse& r) {
        if (r.word != "LIST" || r.data.size() < 3) return;
        const std::string& name = r.data[2].text;
        if (name == mailbox ||
            (FoldedAscii(name) == "inbox" && mailbox == "INBOX"))
          found = true;
      },
      &done);
  if (!error.IsOk()) return error;
  if (done.word != "OK")
    return Status::Of(
        StatusKind::kRefused,
        "cannot look for folder " + mailbox + ": " + ServerSays(done));
  if (found) return error;
  error = session->Run("CREATE " + QuotedMailbox(mailbox), nullptr, &done);
  if (!error.IsOk()) return error;
  if (done.word == "OK") {
    *created = true;
  } else if (done.CodeName() != "ALREADYEXISTS") {
    return Status::Of(StatusKind::kRefused, "cannot create folder " + mailbox +
                                                ": " + ServerSays(done));
  }
  return error;
}

namespace {

// Opens mailbox read-only; *exists: how many messages it holds.
Status Examine(ImapSession* session, const std::string& mailbox,
               uint32_t* exists) {
  *exists = 0;
  ImapResponse done;
  const Status status = session->Run(
      "EXAMINE " + QuotedMailbox(mailbox),
      [&](const ImapResponse& r) {
        if (r.word == "EXISTS") *exists = r.number;
      },
      &done);
  if (status.IsOk() && done.word != "OK")
    return Status::Of(StatusKind::kRefused, "cannot open folder " + mailbox +
                                                ": " + ServerSays(done));
  return status;
}

Status Unselect(ImapSession* session) {
  ImapResponse done;
  return session->Run(session->Has("UNSELECT") ? "UNSELECT" : "CLOSE", nullptr,
                      &done);
}

// A FETCH's command, with its answer read: a refusal is kRefused.
Status Fetch(ImapSession* session, const std::string& mailbox,
             const std::string& command,
             const ImapSession::UntaggedHandler& onFetch) {
  ImapResponse done;
  const Status status = session->Run(command, onFetch, &done);
  if (status.IsOk() && done.word != "OK")
    return Status::Of(
        StatusKind::kRefused,
        "cannot read what folder " + mailbox + " holds: " + ServerSays(done));
  return status;
}

bool FetchUid(const ImapResponse& r, uint32_t* uid) {
  uint64_t n = 0;
  const ImapValue* value =
      r.word == "FETCH" && !r.data.empty() && r.data[0].kind == ImapValue::kList
          ? FetchItem(r, "UID")
          : nullptr;
  if (value == nullptr || !ParseCount(value->text, &n) || n > UINT32_MAX)
    return false;
  *uid = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

Status ReadFolderIndex(ImapSession* session, const std::string& mailbox,
                       FolderIndex* index, size_t* count) {
  index->Clear();
  *count = 0;
  uint32_t exists = 0;
  Status status = Examine(session, mailbox, &exists);
  if (!status.IsOk()) return status;
  const auto onFetch = [&](const ImapResponse& r) {
    FolderMessage message;
    const ImapValue* size = FetchItem(r, "RFC822.SIZE");
    if (!FetchUid(r, &message.uid) || !size ||
        !ParseCount(size->text, &message.size))
      return;
    // However the server spells the item's name.
    const std::vector<ImapValue>& items = r.data[0].items;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
      if (FoldedAscii(items[i].text).compare(0, 18, "body[header.fields") != 0)
        continue;
      const IndexFields found = ReadIndexFields(items[i + 1].text);
      message.identity = found.identity;
      message.messageId = found.messageId;
    }
    index->Add(message);
  };
  for (size_t first = 1; first <= exists; first += kIndexRange) {
    const size_t last = std::min<size_t>(exists, first + kIndexRange - 1);
    status =
        Fetch(session, mailbox,
              "FETCH " + std::to_string(first) + ":" + std::to_string(last) +
                  " (UID RFC822.SIZE "
                  "BODY.PEEK[HEADER.FIELDS (X-KORVANE-ID MESSAGE-ID)])",
              onFetch);
    if (!status.IsOk()) return status;
  }
  *count = exists;
  return Unselect(session);
}

Status FetchByUid(
    ImapSession* session, const std::string& mailbox,
    const std::vector<uint32_t>& uids, const std::string& items,
    const std::function<void(uint32_t, const ImapResponse&)>& onFetch) {
  uint32_t exists = 0;
  Status status = Examine(session, mailbox, &exists);
  for (size_t at = 0; status.IsOk() && at < uids.size(); at += kUidRange) {
    std::string set;
    for (size_t i = at; i < uids.size() && i < at + kUidRange; ++i)
      set += (set.empty() ? "" : ",") + std::to_string(uids[i]);
    status = Fetch(session, mailbox, "UID FETCH " + set + " (" + items + ")",
                   [&](const ImapResponse& r) {
                     uint32_t uid = 0;
                     if (FetchUid(r, &uid)) onFetch(uid, r);
                   });
  }
  return status.IsOk() ? Unselect(session) : status;
}

Status CountMessages(ImapSession* session, const std::string& mailbox,
                     size_t* count) {
  *count = 0;
  ImapResponse done;
  Status error = session->Run(
      "STATUS " + QuotedMailbox(mailbox) + " (MESSAGES)",
      [&](const ImapResponse& r) {
        if (r.word != "STATUS" || r.data.size() < 2) return;
        const std::vector<ImapValue>& items = r.data[1].items;
        for (size_t i = 0; i + 1 < items.size(); i += 2) {
          uint64_t n = 0;
          if (FoldedAscii(items[i].text) == "messages" &&
              ParseCount(items[i + 1].text, &n))
            *count = static_cast<size_t>(n);
        }
      },
      &done);
  if (error.IsOk() && done.word != "OK")
    error = Status::Of(StatusKind::kRefused,
                       "cannot count the messages of folder " + mailbox + ": " +
                           ServerSays(done));
  return error;
}

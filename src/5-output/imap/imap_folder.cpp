#include "imap/imap_folder.h"

#include <algorithm>

#include "bytes/ascii.h"
#include "bytes/modified_utf7.h"
#include "imap/imap_date.h"

namespace {

// Sequence numbers per FETCH of the folder's index.
const size_t kIndexRange = 5000;

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
  // Modified UTF-7 is printable ASCII: it always quotes.
  QuoteArgument(mailbox, &quoted);
  return quoted;
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
  return true;
}

Status EnsureFolder(ImapSession* session, const std::string& mailbox,
                    bool* created) {
  *created = false;
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

Status ReadFolderIndex(ImapSession* session, const std::string& mailbox,
                       FolderIndex* index, size_t* count) {
  index->Clear();
  *count = 0;
  uint32_t exists = 0;
  ImapResponse done;
  Status error = session->Run(
      "EXAMINE " + QuotedMailbox(mailbox),
      [&](const ImapResponse& r) {
        if (r.word == "EXISTS") exists = r.number;
      },
      &done);
  if (!error.IsOk()) return error;
  if (done.word != "OK")
    return Status::Of(StatusKind::kRefused, "cannot open folder " + mailbox +
                                                ": " + ServerSays(done));
  const auto onFetch = [&](const ImapResponse& r) {
    if (r.word != "FETCH" || r.data.empty() ||
        r.data[0].kind != ImapValue::kList)
      return;
    const ImapValue* size = FetchItem(r, "RFC822.SIZE");
    const ImapValue* date = FetchItem(r, "INTERNALDATE");
    MessageKey key;
    if (!size || !date || !ParseCount(size->text, &key.size) ||
        !ParseImapDate(date->text, &key.date))
      return;
    const std::vector<ImapValue>& items = r.data[0].items;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
      if (FoldedAscii(items[i].text).compare(0, 18, "body[header.fields") == 0)
        key.messageId = MessageIdOfFields(items[i + 1].text);
    }
    index->Add(key);
    ++*count;
  };
  for (size_t first = 1; first <= exists; first += kIndexRange) {
    const size_t last = std::min<size_t>(exists, first + kIndexRange - 1);
    error = session->Run("FETCH " + std::to_string(first) + ":" +
                             std::to_string(last) +
                             " (RFC822.SIZE INTERNALDATE "
                             "BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])",
                         onFetch, &done);
    if (!error.IsOk()) return error;
    if (done.word != "OK")
      return Status::Of(
          StatusKind::kRefused,
          "cannot read what folder " + mailbox + " holds: " + ServerSays(done));
  }
  error = session->Run(session->Has("UNSELECT") ? "UNSELECT" : "CLOSE", nullptr,
                       &done);
  return error;
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

// The tree into an IMAP account: PARENT/A/B for the base in ROOT/A/B.
#include "imap/imap_tree_layout.h"

#include "bytes/ascii.h"
#include "bytes/letter_case.h"
#include "imap/imap_credentials.h"
#include "imap/imap_folder.h"

namespace {

// A name as a part of the URL's path: what the URL would read otherwise
// escaped.
std::string Escaped(const std::string& name) {
  std::string part;
  for (const char c : name) {
    if (c == '%')
      part += "%25";
    else if (c == '?')
      part += "%3F";
    else if (c == '#')
      part += "%23";
    else
      part += c;
  }
  return part;
}

ImapAccount AccountOf(const ImapUrl& url, const AccountAccess& access) {
  ImapAccount account;
  account.host = url.host;
  account.port = url.port;
  account.implicitTls = url.implicitTls;
  account.user = url.user;
  account.credentials = access.credentials;
  account.caFile = access.caFile;
  account.timeoutMs = ImapTimeoutMsFromEnvironment();
  return account;
}

}  // namespace

std::unique_ptr<TreeLayout> ImapTreeLayout::Create(const std::string& parent,
                                                   const OutputOptions& options,
                                                   Status* why) {
  ImapUrl url;
  std::string refusal;
  if (!ParseImapUrl(parent, &url, &refusal)) {
    *why = Status::Of(StatusKind::kBadInput, refusal);
    return nullptr;
  }
  if (options.account == nullptr) {
    *why = Status::Of(StatusKind::kAccessDenied,
                      "no password or token to log in with");
    return nullptr;
  }
  std::unique_ptr<ImapTreeLayout> layout(
      new ImapTreeLayout(OrRealFileSystem(options.fs)));
  layout->parent = parent;
  std::string unknown;
  layout->provider = ProviderFromEnvironment(url.host, &unknown);
  layout->session.reset(new ImapSession);
  Status status = layout->session->Open(AccountOf(url, *options.account));
  if (status.IsOk())
    status = ReadSeparator(layout->session.get(), &layout->separator);
  if (!status.IsOk()) {
    *why = status;
    return nullptr;
  }
  return std::unique_ptr<TreeLayout>(layout.release());
}

void ImapTreeLayout::End(const Folder&) {
  if (!session) return;
  ImapResponse done;
  session->Run("LOGOUT", nullptr, &done);
  session->Close();
  session.reset();
}

std::string ImapTreeLayout::Form(const FolderPlaces& folders, size_t i,
                                 const std::string& given, bool fallback) {
  // The fallback stays beside its folder's siblings: a name is refused for
  // what it holds (the separator, a character the server takes for
  // something else), hardly for the length of the path.
  (void)fallback;
  const int up = folders[i].parent;
  if (up <= 0) return Escaped(given);
  return folders[up].output + "/" + Escaped(given);
}

std::vector<std::string> ImapTreeLayout::Claims(const FolderPlaces&, size_t,
                                                const std::string& output) {
  // Compared without regard to case, "Inbox" takes INBOX's name.
  if (provider && provider->folderNames == FolderNameRule::kCaseInsensitive)
    return {output, FoldedLetters(output)};
  return {output};
}

DWORD ImapTreeLayout::Make(const Folder&, const FolderPlaces&, size_t,
                           const std::string& output) {
  refusal.clear();
  ImapUrl url;
  std::string mailbox;
  if (!ParseImapUrl(RemotePlaceName(parent, output), &url, &refusal) ||
      !MailboxName(url.folder, separator, &mailbox, &refusal))
    return ERROR_INVALID_NAME;
  if (provider && provider->folderNames == FolderNameRule::kGmailTree) {
    // Its own folders ([Gmail]/Sent Mail, ...; [Google Mail] in some
    // countries) are no place for others.
    const std::string top = url.folder.empty() ? "" : url.folder[0];
    if (FoldedAscii(top) == "[gmail]" || FoldedAscii(top) == "[google mail]") {
      refusal = "Gmail keeps the folder \"" + top + "\" for its own folders";
      return ERROR_INVALID_NAME;
    }
  }
  if (!session) {
    refusal = "the connection to the server is closed";
    return ERROR_WRITE_FAULT;
  }
  bool created = false;
  const Status status = EnsureFolder(session.get(), mailbox, &created);
  if (status.IsOk()) return ERROR_SUCCESS;
  refusal = status.Text();
  // The server said no to the name; anything else is no answer at all.
  return status.Kind() == StatusKind::kRefused ? ERROR_INVALID_NAME
                                               : ERROR_WRITE_FAULT;
}

std::string ImapTreeLayout::RefusalText(DWORD error) const {
  return refusal.empty() ? TreeLayout::RefusalText(error) : refusal;
}

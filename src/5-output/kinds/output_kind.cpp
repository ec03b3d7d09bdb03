#include "kinds/output_kind.h"

#include <ctype.h>

#include "destination/folder_destination.h"
#include "eml/eml_sink.h"
#include "eml/eml_tree_layout.h"
#include "imap/imap_destination.h"
#include "imap/imap_url.h"
#include "maildir/maildir_sink.h"
#include "maildir/maildir_tree_layout.h"
#include "mbox/mbox_sink.h"
#include "mbox/mbox_tree_layout.h"

namespace {

template <typename Layout>
std::unique_ptr<TreeLayout> MakeLayout(FileSystem* fs) {
  return std::unique_ptr<TreeLayout>(new Layout(fs));
}

const FolderKind kMbox = {&MboxSink::Create,
                          &MakeLayout<MboxTreeLayout>,
                          &kMboxFraming,
                          true,
                          nullptr,
                          "an mbox file (a tree of them, as Thunderbird keeps "
                          "its folders, for a folder tree)"};
const FolderKind kMaildir = {&MaildirSink::Create,
                             &MakeLayout<MaildirTreeLayout>,
                             &kMaildirFraming,
                             false,
                             "Maildir",
                             "a Maildir (a Maildir++ tree for a folder tree)"};
const FolderKind kEml = {&EmlSink::Create,
                         &MakeLayout<EmlTreeLayout>,
                         &kStoredFraming,
                         false,
                         ".eml folder",
                         "one .eml file per message, into a folder (a tree "
                         "of them for a folder tree)"};

}  // namespace

const OutputKind kOutputKinds[] = {
    {"mbox", '\0', ".mbx", "-mbox", nullptr, nullptr, nullptr,
     &MakeFolderDestination<kMbox>},
    {"Maildir", 'm', ".maildir", "-maildir",
     "-m       a Maildir instead of an mbox file (a Maildir++ tree with -r)",
     "korvane inbox.tbb -m", nullptr, &MakeFolderDestination<kMaildir>},
    {".eml", 'e', "-eml", "-eml",
     "-e       one .eml file per message, into a folder (a tree of them "
     "with -r)",
     "korvane inbox.tbb -e", nullptr, &MakeFolderDestination<kEml>},
    {"IMAP", '\0', nullptr, nullptr,
     "imaps://USER@HOST[:PORT]/FOLDER\n"
     "           as the output: into a folder of an IMAP account (a tree of\n"
     "           folders below it with -r); the password from "
     "KORVANE_PASSWORD\n"
     "           or asked, or a token from KORVANE_OAUTH2_TOKEN; imap:// for\n"
     "           STARTTLS",
     "korvane inbox.tbb imaps://me@mail.example.org/Archive", &LooksLikeImapUrl,
     &ImapDestination::Make},
};
const int kOutputKindCount = sizeof kOutputKinds / sizeof kOutputKinds[0];

const OutputKind* OutputKindOfLetter(char letter) {
  const char lower =
      static_cast<char>(tolower(static_cast<unsigned char>(letter)));
  for (const OutputKind& kind : kOutputKinds)
    if (kind.letter != '\0' && kind.letter == lower) return &kind;
  return nullptr;
}

const OutputKind* OutputKindOfName(const std::string& name) {
  for (const OutputKind& kind : kOutputKinds)
    if (kind.namesKind != nullptr && kind.namesKind(name)) return &kind;
  return nullptr;
}

const OutputKind& DefaultOutputKind() { return kOutputKinds[0]; }

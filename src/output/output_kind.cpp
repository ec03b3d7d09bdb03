#include "output/output_kind.h"

#include <ctype.h>

#include "eml/eml_sink.h"
#include "eml/eml_tree_layout.h"
#include "maildir/maildir_sink.h"
#include "maildir/maildir_tree_layout.h"
#include "mbox/mbox_sink.h"
#include "mbox/mbox_tree_layout.h"

namespace {

template <typename Layout>
std::unique_ptr<TreeLayout> MakeLayout(FileSystem* fs) {
  return std::unique_ptr<TreeLayout>(new Layout(fs));
}

}  // namespace

const OutputKind kOutputKinds[] = {
    {"mbox", '\0', ".mbx", "-mbox", nullptr, &kMboxFraming, true,
     &MboxSink::Create, &MakeLayout<MboxTreeLayout>, nullptr, nullptr},
    {"Maildir", 'm', ".maildir", "-maildir", "Maildir", &kMaildirFraming, false,
     &MaildirSink::Create, &MakeLayout<MaildirTreeLayout>,
     "-m       a Maildir instead of an mbox file (a Maildir++ tree with -r)",
     "korvane inbox.tbb -m"},
    {".eml", 'e', "-eml", "-eml", ".eml folder", &kStoredFraming, false,
     &EmlSink::Create, &MakeLayout<EmlTreeLayout>,
     "-e       one .eml file per message, into a folder (a tree of them "
     "with -r)",
     "korvane inbox.tbb -e"},
};
const int kOutputKindCount = sizeof kOutputKinds / sizeof kOutputKinds[0];

const OutputKind* OutputKindOfLetter(char letter) {
  const char lower =
      static_cast<char>(tolower(static_cast<unsigned char>(letter)));
  for (const OutputKind& kind : kOutputKinds)
    if (kind.letter != '\0' && kind.letter == lower) return &kind;
  return nullptr;
}

const OutputKind& DefaultOutputKind() { return kOutputKinds[0]; }

// The kinds of output korvane writes, one row each: how the command line
// names it, what an output is called when none is named, how its messages
// are framed, how an output is made, and how a tree of them is laid out.
// A new kind is a sink of its own and one row here.
#ifndef KORVANE_KINDS_OUTPUT_KIND_H_
#define KORVANE_KINDS_OUTPUT_KIND_H_

#include <memory>
#include <string>

#include "framing/framing.h"
#include "framing/message_sink.h"
#include "io/file_system.h"
#include "output_tree/tree_layout.h"

struct OutputKind {
  const char* name;  // "mbox", "Maildir", ...
  // The switch that chooses it ("-m"); '\0' for the kind chosen without
  // one.
  char letter;
  // Without an output name: the base's name with this in place of its
  // extension, or ROOT's name with treeSuffix beside it.
  const char* singleSuffix;
  const char* treeSuffix;
  // How an output of this kind is named in errors ("Maildir"); null where
  // the failure to make one reads as the mbox file's.
  const char* noun;
  const Framing* framing;
  // One stream of bytes, which a thread of its own may write.
  bool streamed;
  std::unique_ptr<MessageSink> (*create)(const std::string& name,
                                         const OutputOptions& options,
                                         std::string* why);
  std::unique_ptr<TreeLayout> (*treeLayout)(FileSystem* fs);
  // --help: the switch and what it does, and an example run.
  const char* help;
  const char* example;

  // A kind chosen by the output's name rather than by a switch: whether a
  // name is one of its (an imaps:// URL). Null for the others.
  bool (*namesKind)(const std::string& name);
  // The output is no local file or folder but a folder of a mail account
  // on a server, made as OutputOptions::account says: a tree goes there
  // with no OUTDIR, journal or rerun of its own (a rerun skips what is
  // there), laid out by accountLayout. The rest are null for the others.
  bool remote;
  // Whether name can be used, and who logs in where (for the prompt and
  // the inventory's name); false, with *why, where it cannot.
  bool (*readPlace)(const std::string& name, AccountPlace* place,
                    std::string* why);
  // The layout of a tree below the folder name names, logged in; null,
  // with *why, where it cannot be (nothing was made then).
  std::unique_ptr<TreeLayout> (*accountLayout)(const std::string& name,
                                               const OutputOptions& options,
                                               std::string* why);
};

// The default kind (mbox) first.
extern const OutputKind kOutputKinds[];
extern const int kOutputKindCount;

// The kind of switch letter (either case); null for none.
const OutputKind* OutputKindOfLetter(char letter);
// The kind an output name chooses by itself (a URL); null for none.
const OutputKind* OutputKindOfName(const std::string& name);
const OutputKind& DefaultOutputKind();

#endif  // KORVANE_KINDS_OUTPUT_KIND_H_

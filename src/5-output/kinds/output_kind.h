// The kinds of output korvane writes, one row each: how the command line
// names it, what an output is called when none is named, its --help lines,
// and the destination it makes of an output's name (destination.h: how its
// outputs are made, framed, laid out as a tree, and told). A new kind is a
// folder of its own and one row here.
#ifndef KORVANE_KINDS_OUTPUT_KIND_H_
#define KORVANE_KINDS_OUTPUT_KIND_H_

#include <memory>
#include <string>

#include "destination/destination.h"

struct OutputKind {
  const char* name;  // "mbox", "Maildir", ...
  // The switch that chooses it ("-m"); '\0' for a kind chosen without
  // one.
  char letter;
  // Without an output name: the base's name with this in place of its
  // extension, or ROOT's name with treeSuffix beside it; null where an
  // output must be named (an account).
  const char* singleSuffix;
  const char* treeSuffix;
  // --help: the switch and what it does, and an example run; null for the
  // default kind.
  const char* help;
  const char* example;
  // A kind chosen by the output's name rather than by a switch: whether a
  // name is one of its (an imaps:// URL). Null for the others.
  bool (*namesKind)(const std::string& name);
  // The destination of a run into the output named name.
  std::unique_ptr<Destination> (*destination)(const std::string& name);
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

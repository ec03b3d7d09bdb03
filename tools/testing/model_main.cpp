// korvane-model: the suite's model of mailbox entries (mbox_model.h) for
// tests that are not written in C++.
//
//   korvane-model entries [-a]  reads messages from standard input, each
//       as its length in decimal, LF, and its bytes; writes per message
//       "OWN HEADERBLOCK SENDERSIZE LINESSIZE" and LF (the first two 0 or
//       1), then the sender's and the lines' bytes. -a: the recovery scan.
//   korvane-model count MAILBOX  prints how many messages a strict reader
//       finds in the mailbox.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "mbox_model.h"

namespace {

int Entries(bool alternativeScan) {
  std::string text;
  size_t length;
  while (std::cin >> length) {
    if (std::cin.get() != '\n') return 2;
    text.resize(length);
    if (length > 0 && !std::cin.read(&text[0], std::streamsize(length)))
      return 2;
    mbox_model::Entry entry = mbox_model::ModelEntry(text, alternativeScan);
    std::cout << int(entry.ownEnvelope) << ' ' << int(entry.headerBlock) << ' '
              << entry.sender.size() << ' ' << entry.lines.size() << '\n'
              << entry.sender << entry.lines;
  }
  return std::cin.eof() ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc >= 2 && strcmp(argv[1], "entries") == 0 &&
      (argc == 2 || (argc == 3 && strcmp(argv[2], "-a") == 0)))
    return Entries(argc == 3);
  if (argc == 3 && strcmp(argv[1], "count") == 0) {
    std::ifstream in(argv[2], std::ios::binary);
    std::ostringstream mailbox;
    mailbox << in.rdbuf();
    if (!in) return 1;
    std::cout << mbox_model::CountStrictEntries(mailbox.str()) << '\n';
    return 0;
  }
  fputs("usage: korvane-model entries [-a] | korvane-model count MAILBOX\n",
        stderr);
  return 2;
}

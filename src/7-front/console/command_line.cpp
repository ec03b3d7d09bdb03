#include "console/command_line.h"

#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

const char kUsageText[] =
    "usage: korvane <messages.tbb> [mboxname] [params...]\n"
    "type \"*\" instead of \"messages.tbb\" for fun\n"
    "<params>\n"
    "  -a[X][:Y]\n"
    "    Alternative scan (use for corrupted tbb's only) (default: 64:2)\n"
    "                 X - instruct the scanner for minimal size of message "
    "header\n"
    "                 Y - more compatibility with normal tbb :) can be 0, 1, "
    "2 or 3\n"
    "  -d[X]\n"
    "    Watch deleted messages, where X: '+' - yes, '-' - no (default: +)\n"
    "\n"
    "Samples:\n"
    "  Convert message base to unix mailbox without deleted messages:\n"
    "      korvane * -d-\n"
    "  Convert corrupted message base to unix mailbox:\n"
    "      korvane messages_bad.tbb restore.mbx -a:3\n";

int32_t ReadNumber(const char* text, const char** end) {
  char* stop = nullptr;
  long value = strtol(text, &stop, 0);
  *end = stop;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

namespace {

// The text after "-a": [X][:Y].
void ReadAlternativeScanValues(const char* v, RunSettings* settings) {
  const char* end;
  if (*v == ':') {
    settings->compatibilityLevel = ReadNumber(v + 1, &end);
    return;
  }
  settings->minHeaderSize = ReadNumber(v, &end);
  if (*end == ':') settings->compatibilityLevel = ReadNumber(end + 1, &end);
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, bool slashSwitches,
                      RunSettings* settings, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  problem->clear();
  if (argc < 2) return false;
  settings->inputName = argv[1];
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--log") == 0) {
      if (i + 1 == argc) {
        *problem = "--log takes the name of a file to write the log into";
        return false;
      }
      settings->logName = argv[++i];
      continue;
    }
    bool isSwitch = arg[0] == '-' || (slashSwitches && arg[0] == '/');
    if (!isSwitch) {
      if (settings->mailboxName != nullptr) return false;
      settings->mailboxName = arg;
      continue;
    }
    switch (tolower(static_cast<unsigned char>(arg[1]))) {
      case 'a':
        settings->alternativeScan = true;
        ReadAlternativeScanValues(arg + 2, settings);
        break;
      case 'd':  // deleted messages are never in the chain: nothing to do
        break;
      case 'r':
        if (arg[2] != '\0') return false;
        settings->treeMode = true;
        break;
      case 'l':
        if (arg[2] != '\0') return false;
        settings->inventory = true;
        break;
      case 'j': {
        const char* end;
        int32_t jobs = ReadNumber(arg + 2, &end);
        if (end == arg + 2 || *end != '\0' || jobs < 1 || jobs > kMaxRunJobs) {
          *problem = std::string(arg) +
                     ": -j takes a number of bases at once, " + "1 to " +
                     std::to_string(kMaxRunJobs);
          return false;
        }
        settings->jobs = jobs;
        break;
      }
      default: {  // also the end of a lone "-"
        const OutputKind* kind = OutputKindOfLetter(arg[1]);
        if (kind == nullptr || arg[2] != '\0') return false;
        if (settings->output != nullptr && settings->output != kind) {
          *problem = std::string(arg) + ": one output kind at a time";
          return false;
        }
        settings->output = kind;
      }
    }
  }
  // An output name may choose its kind itself (a URL).
  const OutputKind* named = settings->mailboxName != nullptr
                                ? OutputKindOfName(settings->mailboxName)
                                : nullptr;
  if (named != nullptr) {
    if (settings->output != nullptr && settings->output != named) {
      // Not repeated: it may hold what must not be shown (a password).
      *problem =
          "the output named is of its own kind: no switch for another kind";
      return false;
    }
    settings->output = named;
  }
  if (settings->jobs != 0 && !settings->treeMode) {
    *problem = "-jN goes with -r (a folder tree)";
    return false;
  }
  return true;
}

std::string MoreHelpText() {
  std::string text =
      "\n"
      "More:\n"
      "  korvane <folder> [outdir] -r [params...]\n"
      "  -r       the first argument is a folder: every base below it, into\n"
      "           outdir (default: the folder's name with -mbox)\n"
      "               korvane Mail -r\n"
      "  -jN      with -r: N bases at once, 1 to 64 (default: one per "
      "processor)\n"
      "               korvane Mail Mail-mbox -r -j2\n"
      "  -l       an inventory of every message found, as CSV: the output's\n"
      "           name with .csv (inventory.csv in outdir with -r)\n"
      "               korvane inbox.tbb -l\n";
  for (int i = 0; i < kOutputKindCount; ++i) {
    const OutputKind& kind = kOutputKinds[i];
    if (kind.help == nullptr) continue;
    text.append("  ").append(kind.help).append("\n");
    text.append("               ").append(kind.example).append("\n");
  }
  return text;
}

const char* ResolveInputName(const char* inputName) {
  return inputName[0] == '*' ? "messages.tbb" : inputName;
}

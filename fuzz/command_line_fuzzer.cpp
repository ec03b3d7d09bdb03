// The command line and the mailbox name derived from the input name.
//
// Input: a flags byte (bit 0: "/" introduces switches too, as on Windows),
// then the arguments after the program's name, separated by NUL bytes.
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "console/command_line.h"
#include "mailbox_check.h"
#include "scan/alternative_scanner.h"

namespace {

const size_t kMaxArgs = 64;

bool IsSwitch(const char* arg, bool slashSwitches) {
  return arg[0] == '-' || (slashSwitches && arg[0] == '/');
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

void CheckDerivedName(const char* input) {
  RunRequest request;
  request.source = input;
  const std::string name = DefaultDestination(request);
  const size_t inputLength = strlen(input);
  FUZZ_CHECK(name.size() >= 4 && name.compare(name.size() - 4, 4, ".mbx") == 0);
  // The stem is the input up to its last ".", or all of it without one.
  const size_t stem = name.size() - 4;
  FUZZ_CHECK(stem <= inputLength && memcmp(name.data(), input, stem) == 0);
  if (stem < inputLength) {
    FUZZ_CHECK(input[stem] == '.');
    FUZZ_CHECK(strchr(input + stem + 1, '.') == nullptr);
  } else {
    FUZZ_CHECK(strchr(input, '.') == nullptr);
  }
}

// As strtol with base 0 would read it if long had 32 bits.
void CheckNumberReader(const char* text) {
  char* stop = nullptr;
  long long wide = strtoll(text, &stop, 0);
  const char* end = nullptr;
  int32_t value = ReadNumber(text, &end);
  FUZZ_CHECK(end == stop);
  int32_t expected = wide > INT32_MAX   ? INT32_MAX
                     : wide < INT32_MIN ? INT32_MIN
                                        : int32_t(wide);
  FUZZ_CHECK(value == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const bool slashSwitches = input[0] & 1;
  ++input;
  --size;

  // Each argument in a block of its own, exactly as long as it is, so that
  // reading past its NUL is caught.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  static char programName[] = "korvane";
  argv.push_back(programName);
  size_t start = 0;
  for (size_t i = 0; i <= size && argv.size() <= kMaxArgs; ++i) {
    if (i < size && input[i] != 0) continue;
    storage.emplace_back(new char[i - start + 1]);
    memcpy(storage.back().get(), input + start, i - start);
    storage.back()[i - start] = '\0';
    argv.push_back(storage.back().get());
    start = i + 1;
  }
  if (size == 0) argv.pop_back();  // no input: no argument at all
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  RunSettings settings;
  const bool parsed =
      ParseCommandLine(argc, argv.data(), slashSwitches, &settings);

  // The grammar: the first argument is the input, whatever it looks like;
  // after it, switches -a, -d, -l, -r, -jN and one output kind (-m or -e,
  // repeated alike) in any case, and at most one name; -j only with -r.
  bool valid = argc >= 2;
  const char* name = nullptr;
  bool alternative = false;
  bool xSet = false, ySet = false;
  bool tree = false, inventory = false;
  char kind = 0;
  long long jobs = 0;
  const char* logName = nullptr;
  for (int i = 2; i < argc && valid; ++i) {
    const char* arg = argv[i];
    CheckNumberReader(arg);
    // --log takes the next argument, whatever it looks like, as its file.
    if (strcmp(arg, "--log") == 0) {
      if (i + 1 == argc) valid = false;
      else logName = argv[++i];
      continue;
    }
    if (!IsSwitch(arg, slashSwitches)) {
      if (name != nullptr) valid = false;
      name = arg;
      continue;
    }
    char letter = Lower(arg[1]);
    if (letter == 'a') {
      alternative = true;
      if (arg[2] != ':') xSet = true;
      if (strchr(arg + 2, ':') != nullptr) ySet = true;
    } else if (letter == 'd') {
      // Taken and passed over, whatever follows.
    } else if (letter == 'r' || letter == 'l') {
      if (arg[2] != '\0') valid = false;
      (letter == 'r' ? tree : inventory) = true;
    } else if (letter == 'm' || letter == 'e') {
      if (arg[2] != '\0' || (kind != 0 && kind != letter)) valid = false;
      kind = letter;
    } else if (letter == 'j') {
      char* stop = nullptr;
      jobs = strtoll(arg + 2, &stop, 0);
      if (stop == arg + 2 || *stop != '\0' || jobs < 1 || jobs > 64)
        valid = false;
    } else {
      valid = false;
    }
  }
  // An output named by an imap:// or imaps:// URL (in any case) is of the
  // account's kind; a switch for another kind beside it is refused.
  const OutputKind* named = nullptr;
  if (name != nullptr) {
    std::string start(name, strnlen(name, 8));
    for (char& c : start) c = Lower(c);
    if (start.compare(0, 7, "imap://") == 0 || start == "imaps://") {
      named = OutputKindOfName(name);
      FUZZ_CHECK(named != nullptr && named->namesKind != nullptr);
      if (kind != 0) valid = false;
    }
  }
  if (jobs != 0 && !tree) valid = false;
  FUZZ_CHECK(parsed == valid);
  if (!parsed) return 0;

  FUZZ_CHECK(settings.inputName == argv[1]);
  FUZZ_CHECK(settings.logName == logName);
  FUZZ_CHECK(settings.mailboxName == name);
  FUZZ_CHECK(settings.alternativeScan == alternative);
  FUZZ_CHECK(settings.treeMode == tree && settings.inventory == inventory);
  FUZZ_CHECK(settings.output == (named != nullptr ? named
                                 : kind == 0      ? nullptr
                                                  : OutputKindOfLetter(kind)));
  FUZZ_CHECK(settings.jobs == jobs);
  if (!xSet) FUZZ_CHECK(settings.minHeaderSize == 64);
  if (!ySet) FUZZ_CHECK(settings.compatibilityLevel == 2);

  AlternativeScanner scanner(settings.minHeaderSize,
                             settings.compatibilityLevel);
  FUZZ_CHECK(scanner.minHeaderSize >= 1);
  FUZZ_CHECK(scanner.gapLength >= 1 && scanner.gapLength <= 8 &&
             (scanner.gapLength & (scanner.gapLength - 1)) == 0);

  const char* inputName = ResolveInputName(settings.inputName);
  if (settings.inputName[0] == '*')
    FUZZ_CHECK(strcmp(inputName, "messages.tbb") == 0);
  else
    FUZZ_CHECK(inputName == settings.inputName);
  CheckDerivedName(inputName);
  return 0;
}

// The command line: korvane <messages.tbb> [mboxname] [params...]
#ifndef KORVANE_CONSOLE_COMMAND_LINE_H_
#define KORVANE_CONSOLE_COMMAND_LINE_H_

#include <stdint.h>

#include <string>

#include "kinds/output_kind.h"
#include "run/run_request.h"

struct RunSettings {
  const char* inputName = nullptr;
  const char* mailboxName = nullptr;  // null: derived from the input name
  bool alternativeScan = false;
  int32_t minHeaderSize = 64;      // X of -a[X][:Y]
  int32_t compatibilityLevel = 2;  // Y of -a[X][:Y]
  // -r: the input is a folder, converted with every base below it.
  bool treeMode = false;
  int32_t jobs = 0;  // -jN, 1 to 64; 0: not given
  // -l: an inventory of every record the scan meets, beside the output.
  bool inventory = false;
  // --log FILE: the run's events as JSON Lines into FILE.
  const char* logName = nullptr;
  // The output kind a switch chose (-m: a Maildir); null for the default,
  // an mbox file.
  const OutputKind* output = nullptr;

  const OutputKind& Output() const {
    return output != nullptr ? *output : DefaultOutputKind();
  }
};

// Whether "/" introduces a switch as "-" does. On POSIX it would make every
// absolute path a switch, so there only "-" does.
#ifdef _WIN32
const bool kSlashSwitches = true;
#else
const bool kSlashSwitches = false;
#endif

// Fills settings from the arguments after the program's own name. False on
// a usage error; *problem then says what was wrong where there is more to
// say than the usage text (a -j without a valid number, say), else it is
// left empty. Touches no file.
bool ParseCommandLine(int argc, char** argv, bool slashSwitches,
                      RunSettings* settings, std::string* problem = nullptr);

// Reads a number as strtol does with base 0 where long has 32 bits: a value
// beyond that range gives the nearest limit. *end receives the first
// character not read.
int32_t ReadNumber(const char* text, const char** end);

// "*..." stands for messages.tbb in the current directory.
const char* ResolveInputName(const char* inputName);

extern const char kUsageText[];

// What --help adds after the usage text: the switches beyond it, the
// output kinds among them, each with an example.
std::string MoreHelpText();

#endif  // KORVANE_CONSOLE_COMMAND_LINE_H_

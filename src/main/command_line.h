// The command line: korvane <messages.tbb> [mboxname] [params...]
#ifndef KORVANE_MAIN_COMMAND_LINE_H_
#define KORVANE_MAIN_COMMAND_LINE_H_

#include <stdint.h>

#include <string>

struct RunSettings {
  const char* inputName = nullptr;
  const char* mailboxName = nullptr;  // null: derived from the input name
  bool alternativeScan = false;
  int32_t minHeaderSize = 64;      // X of -a[X][:Y]
  int32_t compatibilityLevel = 2;  // Y of -a[X][:Y]
  bool watchDeleted = true;
  // -r: the input is a folder, converted with every base below it.
  bool treeMode = false;
  int32_t jobs = 0;      // -jN, 1 to 64; 0: not given
  bool maildir = false;  // -m: a Maildir instead of an mbox file
};

const int32_t kMaxJobs = 64;

// Whether "/" introduces a switch as "-" does. On POSIX it would make every
// absolute path a switch, so there only "-" does.
#ifdef _WIN32
const bool kSlashSwitches = true;
#else
const bool kSlashSwitches = false;
#endif

// Fills settings from the arguments after the program's own name. False on
// a usage error. Touches no file.
bool ParseCommandLine(int argc, char** argv, bool slashSwitches,
                      RunSettings* settings);

// Reads a number as strtol does with base 0 where long has 32 bits: a value
// beyond that range gives the nearest limit. *end receives the first
// character not read.
int32_t ReadNumber(const char* text, const char** end);

// "*..." stands for messages.tbb in the current directory.
const char* ResolveInputName(const char* inputName);

// The input name with its last "." and what follows replaced by extension
// (".mbx", or ".maildir" for a Maildir), or extension appended when it has
// no ".".
std::string DeriveMailboxName(const char* inputName,
                              const char* extension = ".mbx");

extern const char kUsageText[];

#endif  // KORVANE_MAIN_COMMAND_LINE_H_

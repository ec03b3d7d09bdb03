// The journal of a tree run, kept in OUTDIR as ".korvane-run": what the run
// is (ROOT, the output kind, the switches that change the output), where
// the layout put each folder, and each base the moment its output is
// finished, handed to the system line by line, so that it outlives a
// killed process; a last line when the run went through. A rerun into the
// same OUTDIR reads it and carries on where the run was cut off.
//
// Lines of text, the first "korvane-run 1"; fields apart by tabs, the
// bytes below 0x20, "%" and DEL in them as %XX. A last line without its
// line end (the process was killed while writing it) is not read.
#ifndef KORVANE_TREE_RUN_JOURNAL_H_
#define KORVANE_TREE_RUN_JOURNAL_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "io/file_system.h"
#include "output_tree/tree_layout.h"
#include "tree/tree_folders.h"

extern const char kJournalName[];

// What makes a rerun the same run: the same ROOT (by identity; its name is
// told), output kind and scan switches.
struct RunCommand {
  FileIdentity root;
  std::string rootName;
  std::string kind;  // the output kind's name
  std::string scan;  // "normal", or "alternative X:Y" for -aX:Y
};

struct JournalPlace {
  std::string path, baseName;  // the folder's, as TreeFolder has them
  std::string output, renamedBecause;
};

struct JournalDone {
  std::string path, baseName;
  int32_t messages = 0;
};

struct JournalContents {
  // Not a line yet: the run was cut off the moment it made the journal,
  // before anything else.
  bool begun = false;
  RunCommand command;
  std::vector<WriterRun> runs;  // every run that wrote, the first first
  bool placed = false;          // the places below are all of them
  std::vector<JournalPlace> places;
  std::vector<JournalDone> done;
  bool ended = false;  // the run went through: every base had its turn
  int status = 0;      // of the run that went through
};

// Reads the journal in outDir: ERROR_SUCCESS, the system's error, or
// ERROR_FILE_INVALID for a file that is no journal.
DWORD ReadJournal(FileSystem* fs, const Folder& outDir,
                  JournalContents* contents);

// Writes a journal. After the first failure it writes nothing more and
// every call returns that failure.
class RunJournal {
 public:
  // A new journal in outDir for command, this process's run its first.
  DWORD Create(FileSystem* fs, const Folder& outDir, const RunCommand& command);
  // Continues the journal in outDir with this process's run.
  DWORD Continue(FileSystem* fs, const Folder& outDir);

  // Where every folder that has a place went.
  DWORD Placed(const TreeFolders& folders);
  // folder's base is converted and its output finished.
  DWORD Done(const TreeFolder& folder);
  // The run went through with status.
  DWORD Ended(int status);

 private:
  DWORD Append(const std::string& lines);

  std::unique_ptr<WritableFile> file_;
  DWORD error_ = ERROR_SUCCESS;
};

#endif  // KORVANE_TREE_RUN_JOURNAL_H_

// What the progress page shows of a run going on: the bar over all bytes
// (those of a cut-off run's finished bases counted done), the folder in
// progress, the messages written, an account's uploads, and the time left,
// estimated from the bytes this run has read so far.
#ifndef KORVANE_WINDOW_PROGRESS_VIEW_H_
#define KORVANE_WINDOW_PROGRESS_VIEW_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "run/run_events.h"
#include "tree/tree_folders.h"

class ProgressView {
 public:
  // A new run: nothing known yet.
  void Clear() { *this = ProgressView(); }
  // The run's plan, with its folders as it told them; top names the top
  // folder (FolderLabel).
  void Planned(const RunPlan& plan, const TreeFolders& folders,
               const std::string& top);
  void BaseStarted(size_t index);
  void BaseFinished(size_t index, const TreeFolder& folder);
  void Advanced(const RunProgress& progress);

  bool IsPlanned() const { return planned; }
  const TreeFolders& Folders() const { return folders; }
  bool Tallied() const { return tallied; }

  // The bar, 0 to 10000.
  int BarPosition() const;
  uint64_t BytesDone() const;
  uint64_t BytesTotal() const;
  // "Inbox (2 of 5)", the folders in progress; "" before the first.
  std::string FolderText() const;
  // "12,345 written" ("uploaded" for an account).
  std::string MessagesText() const;
  // "1,200 uploaded, 30 already there, 2 refused".
  std::string TallyText() const;
  // "About 3 minutes", "Less than a minute", ...
  std::string TimeLeftText() const;

 private:
  bool planned = false;
  bool tallied = false;
  std::string topName;
  TreeFolders folders;
  int basesToConvert = 0;
  uint64_t bytesBefore = 0;   // the bases a cut-off run finished
  std::vector<size_t> going;  // bases in progress, in the order begun
  int basesFinished = 0;
  RunProgress last;
};

// The time left in words, from the seconds estimated.
std::string TimeLeftWords(double seconds);

// A folder as the window names it, raw: its path below the source ("/"
// between the names on every system), topName for the top folder (a tree's
// ROOT, or the one base), with its base's name where the folder holds
// several.
std::string FolderLabel(const TreeFolders& folders, size_t index,
                        const std::string& topName);

#endif  // KORVANE_WINDOW_PROGRESS_VIEW_H_

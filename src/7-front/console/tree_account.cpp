// korvane ROOT URL -r: a tree into a folder of a mail account. The walk,
// the runner and the report are tree mode's; the layout is the account's
// (it makes the server's folders), and there is no OUTDIR, journal or
// carrying on: the folders are the record, and a rerun uploads only what
// they do not hold.
#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>

#include "console/account_login.h"
#include "console/display_width.h"
#include "console/exit_status.h"
#include "console/run.h"
#include "console/tree_console.h"
#include "console/tree_outdir.h"
#include "io/paths.h"
#include "platform/interrupt.h"

namespace {

void PrintError(const std::string& text) {
  printf("error: %s", text.c_str());
  printf("\n");
}

}  // namespace

int RunTreeIntoAccount(const RunSettings& settings,
                       const Concurrency& concurrency, FileSystem* fs,
                       const Places& places, TreeFolders* folders) {
  const OutputKind& kind = settings.Output();
  // Chosen by its name, so there is one; it holds no password (ReadAccount
  // refuses such a name).
  const std::string parent = settings.mailboxName;
  AccountPlace place;
  AccountAccess access;
  if (!ReadAccount(kind, parent, &place, &access)) return kExitFailed;

  // The run's own files (the inventory) go into the current folder, which
  // the layout is handed as its OUTDIR and does not use.
  std::unique_ptr<Folder> here;
  std::string inventoryName;
  std::unique_ptr<Inventory> inventory;
  if (settings.inventory) {
    inventory = AccountInventory(fs, place, &here, &inventoryName);
    if (!inventory) return kExitFailed;
  } else {
    const DWORD error = fs->OpenFolder(".", &here);
    if (error != ERROR_SUCCESS) {
      PrintError("can't open the current folder: " + SystemErrorText(error));
      return kExitFailed;
    }
  }

  OutputOptions outputOptions;
  outputOptions.fs = fs;
  outputOptions.account = &access;
  std::string why;
  std::unique_ptr<TreeLayout> layout =
      kind.accountLayout(parent, outputOptions, &why);
  if (!layout) {
    PrintError("can't upload into " + ConsoleText(parent) + ": " +
               ConsoleText(why));
    return kExitFailed;
  }
  if (inventory) {
    const DWORD error = inventory->Make();
    if (error != ERROR_SUCCESS) {
      PrintError("can't create the inventory " + ConsoleText(inventoryName) +
                 ": " + SystemErrorText(error));
      return kExitFailed;
    }
  }

  TreeRunOptions options = BaseTreeRunOptions(settings, concurrency, kind, fs);
  options.conversion.account = &access;
  // Ctrl-C stops the uploads, which then say how far they got.
  options.conversion.cancel = StopRequest();
  options.inventory = inventory.get();
  PrintTreeStart(*folders, places.root, parent, options.jobs);

  const DWORD startTick = GetTickCount();
  std::string rootName = LastName(places.root);
  if (rootName.empty()) rootName = "messages";
  TreeRunSummary summary;
  if (!PlaceFolders(layout.get(), *here, parent, rootName, folders, &why)) {
    summary.stopped = true;
    summary.stopReason = why;
  } else {
    ConsoleTreeProgress progress(startTick);
    summary = RunTree(*places.rootFolder, *here, parent, layout.get(), options,
                      folders, &progress);
    progress.Clear();
  }
  if (summary.stopped) {
    for (TreeFolder& f : *folders)
      if (f.state == TreeBaseState::kWaiting)
        f.state = TreeBaseState::kNotStarted;
  }
  PrintTreeReport(*folders, summary, (GetTickCount() - startTick) / 1000.0,
                  true);
  if (inventory && !ReportInventory(inventory.get(), inventoryName))
    return kExitFailed;
  return TreeExitStatus(*folders, summary);
}

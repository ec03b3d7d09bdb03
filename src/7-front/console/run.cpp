#include "console/run.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "console/account_login.h"
#include "console/command_line.h"
#include "console/concurrency.h"
#include "console/display_width.h"
#include "console/exit_status.h"
#include "console/tree_console.h"
#include "convert/conversion.h"
#include "inventory/inventory.h"
#include "platform/interrupt.h"
#include "platform/win32.h"

namespace {

void PrintElapsedTime(DWORD startTick) {
  DWORD elapsed = GetTickCount() - startTick;
  uint64_t units = uint64_t(elapsed) * 10000;
  FILETIME asFileTime;
  asFileTime.dwLowDateTime = static_cast<DWORD>(units);
  asFileTime.dwHighDateTime = static_cast<DWORD>(units >> 32);
  SYSTEMTIME t;
  if (FileTimeToSystemTime(&asFileTime, &t)) {
    printf("time left %02d:%02d:%02d.%03d", t.wHour, t.wMinute, t.wSecond,
           t.wMilliseconds);
  } else {
    printf("time left %.3f seconds", (GetTickCount() - startTick) * 0.001);
  }
}

// The console side of one conversion: the scan's announcement, the
// percentage on one line, the corrupted-base warning.
class ConsoleProgress : public ConversionProgress {
 public:
  void ScanStarting(ScanKind scan) override {
    if (scan != ScanKind::kAlternative) return;
    printf("scanning message base. this may take few minutes...");
    printf("\n");
  }

  void Advanced(unsigned percent, uint64_t) override {
    // The run's time counts from the first progress line.
    if (!started) {
      startTick = GetTickCount();
      started = true;
    }
    printf("%3d%%\r", static_cast<int>(percent));
    fflush(stdout);
  }

  void CorruptionFound() override {
    printf("warning: possible corrupted message base");
    printf("\n");
    printf("hint: use -a switch");
    printf("\n");
  }

  bool started = false;
  DWORD startTick = 0;
};

}  // namespace

bool ReportInventory(Inventory* inventory, const std::string& name) {
  const DWORD error = inventory->Close();
  if (error != ERROR_SUCCESS) {
    printf("error: can't write the inventory %s: %s", ConsoleText(name).c_str(),
           SystemErrorText(error).c_str());
    printf("\n");
    return false;
  }
  if (inventory->Made()) {
    printf("inventory: %llu records in %s",
           static_cast<unsigned long long>(inventory->Rows()),
           ConsoleText(name).c_str());
    printf("\n");
  }
  return true;
}

int RunKorvane(int argc, char** argv) {
  printf("korvane v%s - message base to unix mailbox converter",
         KORVANE_VERSION);
  printf("\n");
  // Only exactly these as the first argument; anything else names the base.
  if (argc > 1 &&
      (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "--version") == 0)) {
    if (argv[1][2] == 'h') printf("%s%s", kUsageText, MoreHelpText().c_str());
    return kExitDone;
  }

  RunSettings settings;
  std::string problem;
  if (!ParseCommandLine(argc, argv, kSlashSwitches, &settings, &problem)) {
    if (!problem.empty()) {
      printf("error: %s", problem.c_str());
      printf("\n");
    }
    printf("%s", kUsageText);
    return kExitNothingFound;
  }
  const Concurrency concurrency = ConcurrencyFor(settings);
  if (settings.treeMode) return RunTreeMode(settings, concurrency);
  const OutputKind& kind = settings.Output();
  const char* inputName = ResolveInputName(settings.inputName);
  std::string derivedName;
  const char* mailboxName = settings.mailboxName;
  if (mailboxName == nullptr) {
    derivedName = DeriveMailboxName(inputName, kind.singleSuffix);
    mailboxName = derivedName.c_str();
  }

  ConversionOptions options;
  options.alternativeScan = settings.alternativeScan;
  options.minHeaderSize = settings.minHeaderSize;
  options.compatibilityLevel = settings.compatibilityLevel;
  options.output = &kind;
  options.writeBehind = concurrency.writeThread;
  AccountPlace place;
  AccountAccess access;
  if (kind.remote) {
    if (!ReadAccount(kind, mailboxName, &place, &access)) return kExitFailed;
    options.account = &access;
    // Ctrl-C stops the upload, which then says how far it got.
    options.cancel = StopRequest();
  }
  // The inventory goes beside the output, named after it; for an account,
  // into the current folder.
  std::string inventoryName = std::string(mailboxName) + ".csv";
  std::unique_ptr<Folder> here;
  std::unique_ptr<Inventory> inventory;
  std::unique_ptr<MessageObserver> rows;
  if (settings.inventory) {
    if (kind.remote)
      inventory =
          AccountInventory(RealFileSystem(), place, &here, &inventoryName);
    else
      inventory.reset(new Inventory(RealFileSystem(), nullptr, inventoryName));
    if (!inventory) return kExitFailed;
    rows = inventory->ForBase(std::string(), std::string());
    options.observer = rows.get();
  }
  ConsoleProgress progress;
  const ConversionResult result =
      ConvertBase(inputName, mailboxName, options, &progress);
  rows.reset();

  switch (result.outcome) {
    case ConversionOutcome::kCantOpenBase:
      printf("error: can't open %s for read", inputName);
      printf("\n");
      if (result.baseTooLarge) {
        printf("hint: message bases of 4 GiB or more are not supported");
        printf("\n");
      }
      break;
    case ConversionOutcome::kCantCreateOutput:
      if (kind.remote) {
        printf("error: can't upload into %s: %s", mailboxName,
               ConsoleText(result.reason).c_str());
      } else if (kind.noun != nullptr) {
        printf("error: can't create %s %s: %s", kind.noun, mailboxName,
               result.reason.c_str());
      } else {
        printf("error: can't open %s for write", mailboxName);
      }
      printf("\n");
      if (result.outputIsBase) {
        printf(
            "hint: %s is a message base, which is never written; name "
            "another output",
            mailboxName);
        printf("\n");
      }
      break;
    case ConversionOutcome::kNotRecognised:
      printf("error: unsupported or corrupted message base");
      printf("\n");
      printf("hint: use -a switch");
      printf("\n");
      break;
    case ConversionOutcome::kNothingFound:
      printf("warning: possible empty message base. if not report about");
      printf("\n");
      break;
    case ConversionOutcome::kCantReadBase:
      printf("error: can't read %s: %s", inputName, result.reason.c_str());
      printf("\n");
      break;
    case ConversionOutcome::kConverted:
    case ConversionOutcome::kCantWriteOutput:
      printf("found %d messages, ", result.messages);
      PrintElapsedTime(progress.startTick);
      printf(".\n");
      if (result.tallied) PrintTally(mailboxName, result.tally);
      if (result.outcome == ConversionOutcome::kCantWriteOutput) {
        // A server's words may hold any byte.
        printf("error: can't write %s: %s", mailboxName,
               ConsoleText(result.reason).c_str());
        printf("\n");
      }
      break;
  }
  ExitStatus status = ExitStatusOf(result.outcome);
  // A message the destination refused is one not converted.
  if (result.tallied && result.tally.refused > 0) status = kExitFailed;
  if (inventory && !ReportInventory(inventory.get(), inventoryName))
    status = kExitFailed;
  return status;
}

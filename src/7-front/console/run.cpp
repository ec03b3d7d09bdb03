#include "console/run.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <string>

#include "console/command_line.h"
#include "console/console_printer.h"
#include "console/stop_request.h"
#include "run/event_log.h"
#include "run/run.h"

namespace {

// The printer, and the run's cancel flag for what it asks the user.
class CancellablePrinter : public ConsolePrinter {
 public:
  explicit CancellablePrinter(const std::atomic<bool>* flag) { cancel = flag; }
  Status AccountNeeded(const AccountPlace& place,
                       AccountAccess* access) override {
    Status status = ConsolePrinter::AccountNeeded(place, access);
    // A Ctrl-C at the prompt ends the prompt and the run.
    if (!status.IsOk() && cancel->load())
      status = Status::Of(StatusKind::kCancelled, "cancelled");
    return status;
  }
};

}  // namespace

int RunOnConsole(const RunRequest& request, const char* logName) {
  std::atomic<bool> cancel{false};
  RunRequest asked = request;
  asked.cancel = &cancel;
  CancellablePrinter printer(&cancel);
  std::unique_ptr<EventLog> log;
  if (logName != nullptr) {
    Status failure;
    log = EventLog::Create(OrRealFileSystem(request.fs), logName, &failure);
    if (!log) {
      printer.Error(failure);
      return kRunFailed;
    }
  }
  EventFanOut both({&printer, log.get()});
  WatchStopRequests(&cancel);
  int status = ExecuteRunHere(asked, log ? static_cast<RunEvents*>(&both)
                                         : static_cast<RunEvents*>(&printer));
  EndStopRequests();
  if (log) {
    const Status failure = log->Close();
    if (!failure.IsOk()) {
      printer.Error(
          failure.Within(std::string("can't write the log ") + logName));
      status = kRunFailed;
    }
  }
  return status;
}

int RunKorvane(int argc, char** argv) {
  printf("korvane v%s - message base to unix mailbox converter",
         KORVANE_VERSION);
  printf("\n");
  // Only exactly these as the first argument; anything else names the base.
  if (argc > 1 &&
      (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "--version") == 0)) {
    if (argv[1][2] == 'h') printf("%s%s", kUsageText, MoreHelpText().c_str());
    return kRunDone;
  }

  RunSettings settings;
  std::string problem;
  if (!ParseCommandLine(argc, argv, kSlashSwitches, &settings, &problem)) {
    if (!problem.empty()) {
      printf("error: %s", problem.c_str());
      printf("\n");
    }
    printf("%s", kUsageText);
    return kRunNothingFound;
  }
  RunRequest request;
  request.tree = settings.treeMode;
  request.source = settings.treeMode ? std::string(settings.inputName)
                                     : ResolveInputName(settings.inputName);
  if (settings.mailboxName != nullptr)
    request.destination = settings.mailboxName;
  request.kind = &settings.Output();
  request.scan.alternative = settings.alternativeScan;
  request.scan.minHeaderSize = settings.minHeaderSize;
  request.scan.compatibilityLevel = settings.compatibilityLevel;
  request.jobs = settings.jobs;
  request.inventory = settings.inventory;
  return RunOnConsole(request, settings.logName);
}

// The console's front end of a run: every event as the lines korvane has
// always printed, and the secret of an account from the environment or
// asked on the terminal. All console text of a run is here (and in
// tree_report.cpp, the tree's table); every name from the disk and every
// server's word passes ConsoleText on its way out.
#ifndef KORVANE_CONSOLE_CONSOLE_PRINTER_H_
#define KORVANE_CONSOLE_CONSOLE_PRINTER_H_

#include <atomic>
#include <string>

#include "platform/win32.h"
#include "run/run_events.h"

class ConsolePrinter : public RunEvents {
 public:
  ConsolePrinter();

  void EarlierRun(const EarlierRunInfo& earlier) override;
  void Planned(const RunPlan& plan) override;
  void ScanStarting(const BaseEvent& base, ScanKind scan) override;
  void Progress(const RunProgress& progress) override;
  void Warning(const RunWarning& warning) override;
  void BaseFinished(const BaseEvent& base) override;
  void Told(const Notice& notice) override;
  void Error(const Status& error) override;
  void Finished(const RunReport& report) override;
  Status AccountNeeded(const AccountPlace& place,
                       AccountAccess* access) override;

 private:
  // Width of the tree's progress line, blanked before the table.
  static const int kWidth = 56;
  void TreeProgress(const RunProgress& progress);
  void SingleResult(const TreeFolder& base);

  // A hint to the failure AccountNeeded returned, told after its error.
  std::string accountHint;

 protected:
  // The run's cancel flag, where the printer is given it: it ends a wait
  // for the user (a sign-in).
  const std::atomic<bool>* cancel = nullptr;

 private:
  bool tree = false;
  const Destination* to = nullptr;
  std::string source;
  bool terminal;
  bool shown = false;      // a tree's progress line is on the screen
  bool toldPause = false;  // a pause the server asked for, told once
  // A single base's time counts from its first progress line.
  bool started = false;
  DWORD startTick = 0;
};

// "N uploaded, N already there, N refused", and the messages whose NUL
// bytes went as blanks where there were any.
std::string TallyText(const DeliveryTally& tally);

// The table of folders in tree order and the total line (tree_report.cpp);
// with tallies, what the destination decided of the messages of each
// folder (uploaded, already there, refused) and each refusal.
void PrintTreeReport(const RunReport& report);

// "512 B", "4.0 KiB", "12.3 MiB", "1.5 GiB".
std::string SizeText(uint64_t bytes);

// A run stopped at a provider's daily limit (why, raw): how much went in,
// and that the same command tomorrow carries on.
void PrintDailyLimit(const std::string& why, const DeliveryTally& total);

#endif  // KORVANE_CONSOLE_CONSOLE_PRINTER_H_

#include "console/console_printer.h"

#include <stdio.h>

#include "console/display_width.h"
#include "console/sign_in_console.h"
#include "imap/imap_credentials.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

// One line, made harmless as a whole.
void PrintLine(const std::string& text) {
  printf("%s\n", ConsoleText(text).c_str());
}

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

// What a destination that decides each message's fate said: each refusal,
// then one line of counts for where.
void PrintTally(const std::string& where, const DeliveryTally& tally) {
  for (const std::string& refusal : tally.refusals)
    PrintLine("refused: " + refusal);
  for (const std::string& warning : tally.warnings)
    PrintLine("warning: " + warning);
  PrintLine(where + ": " + TallyText(tally));
}

std::string Plural(uint64_t n, const char* one) {
  return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

void PrintInventory(const InventoryReport& inventory) {
  if (!inventory.asked) return;
  if (!inventory.failure.IsOk()) {
    PrintLine("error: can't write the inventory " + inventory.name + ": " +
              inventory.failure.Text());
  } else if (inventory.made) {
    PrintLine("inventory: " + std::to_string(inventory.rows) + " records in " +
              inventory.name);
  }
}

}  // namespace

void PrintDailyLimit(const std::string& why, const DeliveryTally& total) {
  PrintLine("stopped: " + why + "; " + Plural(total.delivered, "message") +
            " (" + SizeText(total.deliveredBytes) + ") went in today");
  PrintLine(
      "hint: run the same command again tomorrow: it carries on where this "
      "one stopped and sends nothing twice");
}

std::string TallyText(const DeliveryTally& tally) {
  std::string text = std::to_string(tally.delivered) + " uploaded, " +
                     std::to_string(tally.alreadyThere) + " already there, " +
                     std::to_string(tally.refused) + " refused";
  if (tally.nulsAsBlanks > 0)
    text += " (" + std::to_string(tally.nulsAsBlanks) +
            " with NUL bytes, sent as blanks)";
  if (tally.connectionLimit > 0)
    text += "; " + std::to_string(tally.connectionLimit) +
            " connections at once, as many as the server allows";
  return text;
}

ConsolePrinter::ConsolePrinter() : terminal(StdoutIsTerminal()) {}

void ConsolePrinter::EarlierRun(const EarlierRunInfo& earlier) {
  switch (earlier.state) {
    case EarlierRunInfo::State::kNotBegun:
      PrintLine("carrying on the run in " + earlier.destination +
                " that was cut off: it had not begun");
      break;
    case EarlierRunInfo::State::kCutOff:
      PrintLine("carrying on the run in " + earlier.destination +
                " that was cut off: " + std::to_string(earlier.doneBefore) +
                " bases done before");
      break;
    case EarlierRunInfo::State::kWentThrough:
      PrintLine("the output folder " + earlier.destination +
                " holds a run of " + earlier.source +
                " that went through: nothing to do (it ended with status " +
                std::to_string(earlier.status) + ")");
      break;
  }
}

void ConsolePrinter::Planned(const RunPlan& plan) {
  tree = plan.tree;
  to = plan.to;
  source = plan.source;
  if (!tree) return;
  PrintLine("converting " + std::to_string(plan.basesToConvert) + " bases (" +
            SizeText(plan.bytesToConvert) + ") from " + plan.source + " into " +
            plan.destination + ", " + std::to_string(plan.jobs) + " at once");
  fflush(stdout);
}

void ConsolePrinter::ScanStarting(const BaseEvent&, ScanKind scan) {
  if (tree || scan != ScanKind::kAlternative) return;
  printf("scanning message base. this may take few minutes...");
  printf("\n");
}

void ConsolePrinter::Progress(const RunProgress& progress) {
  if (tree) return TreeProgress(progress);
  // The run's time counts from the first progress line.
  if (!started) {
    startTick = GetTickCount();
    started = true;
  }
  printf("%3d%%\r", static_cast<int>(progress.percent));
  fflush(stdout);
}

void ConsolePrinter::TreeProgress(const RunProgress& s) {
  // Only where it can be rewritten in place.
  if (!terminal) return;
  const double perSecond =
      s.seconds == 0 ? 0 : s.bytesDone / 1048576.0 / s.seconds;
  char line[96];
  snprintf(line, sizeof line, "%d of %d bases, %3u%%, %.1f MiB/s", s.basesDone,
           s.basesTotal, s.percent, perSecond);
  printf("%-*s\r", kWidth, line);
  fflush(stdout);
  shown = true;
}

void ConsolePrinter::Warning(const RunWarning&) {
  // A tree's table tells what the recovery made of it.
  if (tree) return;
  printf("warning: possible corrupted message base");
  printf("\n");
  printf("hint: use -a switch");
  printf("\n");
}

void ConsolePrinter::BaseFinished(const BaseEvent& base) {
  if (!tree) SingleResult(*base.folder);
}

void ConsolePrinter::SingleResult(const TreeFolder& base) {
  const ConversionResult& result = base.result;
  const std::string& output = base.output;
  switch (result.outcome) {
    case ConversionOutcome::kCantOpenBase:
      PrintLine("error: can't open " + source + " for read");
      if (result.baseTooLarge)
        PrintLine("hint: message bases of 4 GiB or more are not supported");
      break;
    case ConversionOutcome::kCantCreateOutput:
      PrintLine("error: " + to->CantCreate(output, result.failure));
      if (result.outputIsBase)
        PrintLine("hint: " + output +
                  " is a message base, which is never written; name another "
                  "output");
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
      PrintLine("error: can't read " + source + ": " + result.failure.Text());
      break;
    case ConversionOutcome::kConverted:
    case ConversionOutcome::kCantWriteOutput:
      printf("found %d messages, ", result.messages);
      PrintElapsedTime(startTick);
      printf(".\n");
      if (result.tallied) PrintTally(output, result.tally);
      if (result.tally.dailyLimit)
        PrintDailyLimit(result.failure.Text(), result.tally);
      else if (result.outcome == ConversionOutcome::kCantWriteOutput)
        PrintLine("error: can't write " + output + ": " +
                  result.failure.Text());
      // An upload stopped by Ctrl-C while it finished says how far it got
      // before the signal ends the process.
      if (result.tallied) fflush(stdout);
      break;
    case ConversionOutcome::kCancelled:
      // Ended as by the signal; an upload says how far it got, since the
      // next run is to carry it on.
      if (result.tallied) {
        PrintTally(output, result.tally);
        const uint64_t in = result.tally.delivered + result.tally.alreadyThere;
        PrintLine("stopped by the user; " + std::to_string(in) + " of " +
                  std::to_string(result.messages) +
                  " messages handed on are in the folder for certain: run "
                  "korvane again to upload the rest");
        fflush(stdout);
      }
      break;
  }
}

void ConsolePrinter::Told(const Notice& notice) {
  switch (notice.kind) {
    case NoticeKind::kOpenInBrowser:
      PrintLine("signing in to " + notice.text + " as " + notice.where + ": " +
                (notice.count > 0
                     ? "the browser shows its page (if it did not open, open "
                       "this address in one):"
                     : "open this address in a browser:"));
      PrintLine("  " + notice.url);
      break;
    case NoticeKind::kDeviceCode:
      PrintLine("signing in to " + notice.text + " as " + notice.where +
                ": on any device, open " + notice.url + " and enter the code " +
                notice.code + " (within " +
                Plural((notice.seconds + 59) / 60, "minute") + ")");
      break;
    case NoticeKind::kSignedIn:
      PrintLine("signed in to " + notice.text + " as " + notice.where);
      break;
    case NoticeKind::kThrottled:
      // Once a run: every connection may be asked.
      if (toldPause) break;
      toldPause = true;
      PrintLine("the server asked for a pause (" + notice.text + "): waiting " +
                Plural(notice.seconds, "second") +
                " each time it asks, then going on; nothing is lost");
      break;
    case NoticeKind::kConnectionsCut:
      PrintLine("at most " + std::to_string(notice.count) +
                " bases at once: " + notice.text + " takes no more than " +
                Plural(uint64_t(notice.count), "connection") + " at once");
      break;
    case NoticeKind::kUploadSize:
      if (notice.count > 0)
        PrintLine(
            "uploading " + SizeText(notice.bytes) + " into " + notice.where +
            ": at " + notice.text + "'s daily limit, about " +
            Plural(uint64_t(notice.count), "day") +
            (notice.count > 1 ? ": run the same command once a day" : ""));
      else
        PrintLine("uploading " + SizeText(notice.bytes) + " into " +
                  notice.where + " (" + notice.text + " sets no daily limit)");
      break;
    case NoticeKind::kInfo:
    case NoticeKind::kDailyLimit:
      PrintLine(notice.text);
      break;
  }
  fflush(stdout);
}

void ConsolePrinter::Error(const Status& error) {
  PrintLine("error: " + error.Text());
  if (!accountHint.empty()) PrintLine("hint: " + accountHint);
  accountHint.clear();
}

void ConsolePrinter::Finished(const RunReport& report) {
  // Cut off as by the signal that asked it: nothing more is said.
  if (report.cancelled) return;
  if (report.tree && report.planned) {
    if (shown) printf("%-*s\r", kWidth, "");
    PrintTreeReport(report);
  }
  PrintInventory(report.inventory);
}

Status ConsolePrinter::AccountNeeded(const AccountPlace& place,
                                     AccountAccess* access) {
  const std::string who = place.user + " on " + place.host;
  access->caFile = CaFileFromEnvironment();
  switch (CredentialsFromEnvironment(&access->credentials)) {
    case CredentialsFound::kFound:
      return Status::Ok();
    case CredentialsFound::kAmbiguous:
      return Status::Of(
          StatusKind::kBadInput,
          "both KORVANE_PASSWORD and KORVANE_OAUTH2_TOKEN are set: unset "
          "the one not meant");
    case CredentialsFound::kNone:
      break;
  }
  // The run waits for the answer: the sign-in's notices are told at once.
  class Direct : public NoticeSink {
   public:
    explicit Direct(ConsolePrinter* printer) : printer(printer) {}
    void Tell(const Notice& notice) override { printer->Told(notice); }

   private:
    ConsolePrinter* const printer;
  } direct(this);
  Status failure;
  switch (
      SignInOnConsole(place, access, &direct, cancel, &failure, &accountHint)) {
    case ConsoleSignIn::kSignedIn:
      return Status::Ok();
    case ConsoleSignIn::kFailed:
      return failure;
    case ConsoleSignIn::kNoProvider:
      break;
  }
  if (!StandardInputIsTerminal())
    return Status::Of(StatusKind::kAccessDenied,
                      "no password for " + who +
                          ": set KORVANE_PASSWORD (or KORVANE_OAUTH2_TOKEN "
                          "for a token), or run korvane on a terminal to be "
                          "asked");
  fflush(stdout);
  access->credentials.kind = AccountCredentials::kPassword;
  if (!ReadSecret("password for " + ConsoleText(who) + ": ",
                  &access->credentials.secret) ||
      access->credentials.secret.empty())
    return Status::Of(StatusKind::kAccessDenied,
                      "no password given for " + who);
  return Status::Ok();
}

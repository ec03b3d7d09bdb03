#include "run/run_status.h"

RunStatus StatusOfOutcome(ConversionOutcome outcome) {
  switch (outcome) {
    case ConversionOutcome::kConverted:
      return kRunDone;
    case ConversionOutcome::kNotRecognised:
    case ConversionOutcome::kNothingFound:
      return kRunNothingFound;
    case ConversionOutcome::kCantOpenBase:
    case ConversionOutcome::kCantReadBase:
    case ConversionOutcome::kCantCreateOutput:
    case ConversionOutcome::kCantWriteOutput:
    case ConversionOutcome::kCancelled:
      break;
  }
  return kRunFailed;
}

RunStatus StatusOfBase(const ConversionResult& result) {
  if (result.tallied && result.tally.refused > 0) return kRunFailed;
  if (result.tallied && result.tally.dailyLimit) return kRunDailyLimit;
  return StatusOfOutcome(result.outcome);
}

bool ReachedDailyLimit(const TreeFolders& folders) {
  for (const TreeFolder& f : folders)
    if (f.state == TreeBaseState::kDone && f.result.tally.dailyLimit)
      return true;
  return false;
}

namespace {

// The worse of two statuses: a failure outweighs the daily limit, which
// outweighs nothing found.
RunStatus Worse(RunStatus a, RunStatus b) {
  const auto rank = [](RunStatus s) {
    return s == kRunFailed ? 3 : s == kRunDailyLimit ? 2 : int(s);
  };
  return rank(a) >= rank(b) ? a : b;
}

}  // namespace

RunStatus TreeStatus(const TreeFolders& folders, bool stopped) {
  // Stopped by a provider's daily limit, the bases it left go another day.
  const bool daily = stopped && ReachedDailyLimit(folders);
  RunStatus status = !stopped ? kRunDone : daily ? kRunDailyLimit : kRunFailed;
  for (const TreeFolder& f : folders) {
    if (f.listError != 0) status = kRunFailed;
    if (!f.HasBase()) continue;
    const RunStatus base = f.state == TreeBaseState::kDoneBefore ? kRunDone
                           : f.state != TreeBaseState::kDone
                               ? (daily ? kRunDailyLimit : kRunFailed)
                               : StatusOfBase(f.result);
    status = Worse(status, base);
  }
  return status;
}

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

namespace {

bool DailyLimit(const Status& status) {
  return status.Kind() == StatusKind::kDailyLimit;
}

}  // namespace

RunStatus StatusOfBase(const ConversionResult& result) {
  if (result.tallied && result.tally.refused > 0) return kRunFailed;
  if (DailyLimit(result.failure)) return kRunDailyLimit;
  return StatusOfOutcome(result.outcome);
}

RunStatus TreeStatus(const TreeFolders& folders, const Status* stopped) {
  // What stopped for a daily limit is no failure: it waits for another day,
  // unless something else failed.
  const bool limit = stopped != nullptr && DailyLimit(*stopped);
  RunStatus status = stopped != nullptr && !limit ? kRunFailed : kRunDone;
  for (const TreeFolder& f : folders) {
    if (f.listError != 0) status = kRunFailed;
    if (!f.HasBase()) continue;
    const bool waits = limit && (f.state == TreeBaseState::kNotStarted ||
                                 DailyLimit(f.result.failure));
    const RunStatus base =
        f.state == TreeBaseState::kDoneBefore || waits ? kRunDone
        : f.state != TreeBaseState::kDone              ? kRunFailed
                                                       : StatusOfBase(f.result);
    if (base > status && base != kRunDailyLimit) status = base;
  }
  return status == kRunDone && limit ? kRunDailyLimit : status;
}

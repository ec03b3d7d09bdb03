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
  return StatusOfOutcome(result.outcome);
}

RunStatus TreeStatus(const TreeFolders& folders, bool stopped) {
  RunStatus status = stopped ? kRunFailed : kRunDone;
  for (const TreeFolder& f : folders) {
    if (f.listError != 0) status = kRunFailed;
    if (!f.HasBase()) continue;
    const RunStatus base = f.state == TreeBaseState::kDoneBefore ? kRunDone
                           : f.state != TreeBaseState::kDone
                               ? kRunFailed
                               : StatusOfBase(f.result);
    if (base > status) status = base;
  }
  return status;
}

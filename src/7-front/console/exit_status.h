// The process's exit statuses, and what a conversion's outcome makes of
// them: one table for a single base and for a tree.
#ifndef KORVANE_CONSOLE_EXIT_STATUS_H_
#define KORVANE_CONSOLE_EXIT_STATUS_H_

#include "convert/conversion.h"

enum ExitStatus {
  kExitDone = 0,  // converted (also with no message), --help, --version
  // A usage error, no base, or a base in which no message could be found.
  kExitNothingFound = 1,
  // Something could not be read or written, or a refusal before anything
  // was made.
  kExitFailed = 2,
};

inline ExitStatus ExitStatusOf(ConversionOutcome outcome) {
  switch (outcome) {
    case ConversionOutcome::kConverted:
      return kExitDone;
    case ConversionOutcome::kNotRecognised:
    case ConversionOutcome::kNothingFound:
      return kExitNothingFound;
    case ConversionOutcome::kCantOpenBase:
    case ConversionOutcome::kCantReadBase:
    case ConversionOutcome::kCantCreateOutput:
    case ConversionOutcome::kCantWriteOutput:
      break;
  }
  return kExitFailed;
}

#endif  // KORVANE_CONSOLE_EXIT_STATUS_H_

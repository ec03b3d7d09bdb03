// The status a base's conversion and a whole tree end with (RunStatus):
// one table for a single base and for a tree.
#ifndef KORVANE_RUN_RUN_STATUS_H_
#define KORVANE_RUN_RUN_STATUS_H_

#include "convert/conversion.h"
#include "run/run_events.h"
#include "tree/tree_folders.h"

RunStatus StatusOfOutcome(ConversionOutcome outcome);

// A message the destination refused is one not converted; a provider's
// daily limit ends a base with kRunDailyLimit.
RunStatus StatusOfBase(const ConversionResult& result);

// Whether a base ended at its provider's daily limit.
bool ReachedDailyLimit(const TreeFolders& folders);

// The worst of every base's status; a stop or a folder that could not be
// listed is a failure, a base done before counts as converted. A stop at
// a provider's daily limit is kRunDailyLimit, and so are the bases it left
// (a failure still outweighs it).
RunStatus TreeStatus(const TreeFolders& folders, bool stopped);

#endif  // KORVANE_RUN_RUN_STATUS_H_

// The status a base's conversion and a whole tree end with (RunStatus):
// one table for a single base and for a tree.
#ifndef KORVANE_RUN_RUN_STATUS_H_
#define KORVANE_RUN_RUN_STATUS_H_

#include "convert/conversion.h"
#include "run/run_events.h"
#include "tree/tree_folders.h"

RunStatus StatusOfOutcome(ConversionOutcome outcome);

// A message the destination refused is one not converted; a daily limit
// is kRunDailyLimit.
RunStatus StatusOfBase(const ConversionResult& result);

// The worst of every base's status; a stop (why, where the run stopped;
// null where not) or a folder that could not be listed is a failure, a
// base done before counts as converted. A run that a daily limit stopped,
// where nothing else failed, ends with kRunDailyLimit.
RunStatus TreeStatus(const TreeFolders& folders, const Status* stopped);

#endif  // KORVANE_RUN_RUN_STATUS_H_

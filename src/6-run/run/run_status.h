// The status a base's conversion and a whole tree end with (RunStatus):
// one table for a single base and for a tree.
#ifndef KORVANE_RUN_RUN_STATUS_H_
#define KORVANE_RUN_RUN_STATUS_H_

#include "convert/conversion.h"
#include "run/run_events.h"
#include "tree/tree_folders.h"

RunStatus StatusOfOutcome(ConversionOutcome outcome);

// A message the destination refused is one not converted.
RunStatus StatusOfBase(const ConversionResult& result);

// The worst of every base's status; a stop or a folder that could not be
// listed is a failure, a base done before counts as converted.
RunStatus TreeStatus(const TreeFolders& folders, bool stopped);

#endif  // KORVANE_RUN_RUN_STATUS_H_

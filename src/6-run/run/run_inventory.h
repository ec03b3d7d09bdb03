// The inventory of a run: where it goes for an account, a cut-off run's set
// aside, and what the end of the run tells of it.
#ifndef KORVANE_RUN_RUN_INVENTORY_H_
#define KORVANE_RUN_RUN_INVENTORY_H_

#include <memory>
#include <string>

#include "account/account_access.h"
#include "inventory/inventory.h"
#include "io/file_system.h"
#include "run/run_events.h"
#include "status/status.h"

// The inventory of a run whose destination keeps no files of the run (an
// account), in the current folder (held in *here), named stem.csv and
// never over a file there ("-2", "-3", ... where the name is taken).
Status AccountInventory(FileSystem* fs, const std::string& stem,
                        std::unique_ptr<Folder>* here, std::string* name,
                        std::unique_ptr<Inventory>* inventory);

// A run cut off left its inventory: set aside for the rerun's to take
// rows over from (one set aside already, by a rerun cut off itself, is
// the one that holds them; the newer file goes).
DWORD SetInventoryAside(FileSystem* fs, const Folder& outDir);

// Closes the inventory named name (null: none was asked for) and says how
// it went.
InventoryReport CloseInventory(Inventory* inventory, const std::string& name);

#endif  // KORVANE_RUN_RUN_INVENTORY_H_

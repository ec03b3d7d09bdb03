#include "run/run_inventory.h"

#include <set>
#include <vector>

#include "bytes/ascii.h"

Status AccountInventory(FileSystem* fs, const std::string& stem,
                        std::unique_ptr<Folder>* here, std::string* name,
                        std::unique_ptr<Inventory>* inventory) {
  DWORD error = fs->OpenFolder(".", here);
  std::vector<FolderEntry> entries;
  if (error == ERROR_SUCCESS) error = fs->List(**here, &entries);
  if (error != ERROR_SUCCESS)
    return Status::System(error).Within(
        "can't list the current folder for the inventory");
  std::set<std::string> taken;
  for (const FolderEntry& e : entries) taken.insert(FoldedAscii(e.name));
  for (int n = 1;; ++n) {
    *name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".csv";
    if (taken.count(FoldedAscii(*name)) == 0) break;
  }
  inventory->reset(new Inventory(fs, here->get(), *name));
  return Status::Ok();
}

DWORD SetInventoryAside(FileSystem* fs, const Folder& outDir) {
  DWORD error =
      fs->Rename(outDir, kTreeInventoryName, outDir, kEarlierInventoryName);
  if (error == ERROR_ALREADY_EXISTS)
    error = fs->RemoveFile(outDir, kTreeInventoryName);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

InventoryReport CloseInventory(Inventory* inventory, const std::string& name) {
  InventoryReport report;
  if (inventory == nullptr) return report;
  report.asked = true;
  report.name = name;
  const DWORD error = inventory->Close();
  if (error != ERROR_SUCCESS) report.failure = Status::System(error);
  report.made = inventory->Made();
  report.rows = inventory->Rows();
  return report;
}

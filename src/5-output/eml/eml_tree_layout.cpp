// The .eml tree layout: the folder OUTDIR/A/B for the base in ROOT/A/B.
#include "eml/eml_tree_layout.h"

#include "io/paths.h"

namespace {

const char kTopFolder[] = ".";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether name is one the .eml sink writes: "NNNNNN ....eml", or
// ".NNNNNN.partial" while it is written.
bool IsSinkFile(const std::string& name) {
  size_t digits = name[0] == '.' ? 1 : 0;
  const size_t start = digits;
  while (digits < name.size() && IsDigit(name[digits])) ++digits;
  if (digits - start < 6) return false;
  const std::string rest = name.substr(digits);
  if (start == 1) return rest == ".partial";
  return rest.size() >= 5 && rest[0] == ' ' &&
         rest.compare(rest.size() - 4, 4, ".eml") == 0;
}

// Below outDir: the folder that holds folder i's place ("" for outDir).
std::string Where(const FolderPlaces& folders, size_t i) {
  const int parent = folders[i].parent;
  return parent <= 0 ? std::string() : folders[parent].output;
}

}  // namespace

// ROOT's own base writes into OUTDIR itself.
bool EmlTreeLayout::FixedPlace(const FolderPlaces&, size_t i,
                               const std::string&, std::string* output) {
  if (i != 0) return false;
  *output = kTopFolder;
  return true;
}

std::string EmlTreeLayout::Form(const FolderPlaces& folders, size_t i,
                                const std::string& given, bool) {
  return JoinPath(Where(folders, i), given);
}

std::vector<std::string> EmlTreeLayout::Claims(const FolderPlaces&, size_t,
                                               const std::string& output) {
  return {output};
}

DWORD EmlTreeLayout::Make(const Folder& outDir, const FolderPlaces& folders,
                          size_t i, const std::string& output) {
  FolderBelow where;
  const DWORD error = where.Open(fs, outDir, Where(folders, i));
  if (error != ERROR_SUCCESS) return error;
  return fs->MakeFolder(where.get(), LastName(output));
}

void EmlTreeLayout::Discard(const Folder& outDir, const FolderPlace& folder) {
  // A folder with folders below it stays, for the hierarchy; an empty one
  // goes (a folder that holds anything is never removed).
  if (folder.output.empty() || folder.output == kTopFolder || folder.basesBelow)
    return;
  const std::string name = LastName(folder.output);
  FolderBelow where;
  if (where.Open(fs, outDir,
                 folder.output.substr(0, folder.output.size() - name.size())) ==
      ERROR_SUCCESS)
    fs->RemoveFolder(where.get(), name);
}

DWORD EmlTreeLayout::Clear(const Folder& outDir, const FolderPlace& folder,
                           const std::vector<WriterRun>&) {
  if (folder.output.empty() || !folder.HasBase()) return ERROR_SUCCESS;
  FolderBelow place;
  DWORD error = place.Open(
      fs, outDir, folder.output == kTopFolder ? std::string() : folder.output);
  std::vector<FolderEntry> entries;
  if (error == ERROR_SUCCESS) error = fs->List(place.get(), &entries);
  for (const FolderEntry& e : entries) {
    if (error != ERROR_SUCCESS) break;
    if (e.kind == EntryKind::kFile && IsSinkFile(e.name))
      error = fs->RemoveFile(place.get(), e.name);
  }
  return error;
}

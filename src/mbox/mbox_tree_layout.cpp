// The mbox tree layout: OUTDIR/A.sbd/B for the base in ROOT/A/B.
#include "mbox/mbox_tree_layout.h"

#include <string>
#include <vector>

#include "io/paths.h"

namespace {

const char kSubfolderSuffix[] = ".sbd";

// Below outDir: where the places of folder i's folder go ("" for outDir).
std::string Where(const FolderPlaces& folders, size_t i) {
  const int parent = folders[i].parent;
  return parent <= 0 ? std::string()
                     : folders[parent].output + kSubfolderSuffix;
}

// Whether folder i's place has a subfolder for the folders below.
bool WithFolder(const FolderPlaces& folders, size_t i) {
  return folders[i].parent >= 0 && folders[i].basesBelow;
}

}  // namespace

std::string MboxTreeLayout::Form(const FolderPlaces& folders, size_t i,
                                 const std::string& given, bool) {
  return JoinPath(Where(folders, i), given);
}

std::vector<std::string> MboxTreeLayout::Claims(const FolderPlaces& folders,
                                                size_t i,
                                                const std::string& output) {
  if (!WithFolder(folders, i)) return {output};
  return {output, output + kSubfolderSuffix};
}

// The empty mbox file, and before it the subfolder for the folders below
// when there are any.
DWORD MboxTreeLayout::Make(const Folder& outDir, const FolderPlaces& folders,
                           size_t i, const std::string& output) {
  FolderBelow where;
  DWORD error = where.Open(fs, outDir, Where(folders, i));
  if (error != ERROR_SUCCESS) return error;
  const std::string name = LastName(output);
  const std::string subfolder = name + kSubfolderSuffix;
  const bool withFolder = WithFolder(folders, i);
  if (withFolder) error = fs->MakeFolder(where.get(), subfolder);
  if (error != ERROR_SUCCESS) return error;
  std::unique_ptr<WritableFile> file;
  error = fs->CreateNewFile(where.get(), name, &file);
  if (error == ERROR_SUCCESS) {
    error = file->Close();
    if (error != ERROR_SUCCESS) fs->RemoveFile(where.get(), name);
  }
  if (error != ERROR_SUCCESS && withFolder)
    fs->RemoveFolder(where.get(), subfolder);
  return error;
}

void MboxTreeLayout::Discard(const Folder& outDir, const FolderPlace& folder) {
  // A folder with folders below it keeps its file, for the hierarchy.
  if (folder.output.empty() || (folder.parent >= 0 && folder.basesBelow))
    return;
  const std::string name = LastName(folder.output);
  FolderBelow where;
  if (where.Open(fs, outDir,
                 folder.output.substr(0, folder.output.size() - name.size())) ==
      ERROR_SUCCESS)
    fs->RemoveFile(where.get(), name);
}

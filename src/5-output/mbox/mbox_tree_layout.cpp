// The mbox tree layout: OUTDIR/A.sbd/B for the base in ROOT/A/B.
#include "mbox/mbox_tree_layout.h"

#include <string>
#include <vector>

#include "io/partial_file.h"
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

// The layout's file is a partial file in name too: "korvane-try" itself
// is reserved, so that no base's partial name is the same.
const char kTryBase[] = "korvane-try";
const std::string kTryName = PartialName(kTryBase);

DWORD MakeTryFile(FileSystem* fs, const Folder& outDir) {
  std::unique_ptr<WritableFile> file;
  DWORD error = fs->CreateNewFile(outDir, kTryName, &file);
  if (error == ERROR_SUCCESS) error = file->Close();
  return error;
}

// Whether a file can be named name in folder, and be written under its
// partial name there first: the layout's file, in outDir, is renamed to
// the partial name and back. The name itself is never made here: a run cut
// off now must not leave a file by that name, which would look like a
// finished output.
DWORD TryNames(FileSystem* fs, const Folder& outDir, const Folder& folder,
               const std::string& name) {
  DWORD error = fs->CheckNewName(name);
  if (error != ERROR_SUCCESS) return error;
  const std::string partial = PartialName(name);
  error = fs->Rename(outDir, kTryName, folder, partial);
  if (error == ERROR_SUCCESS) {
    const DWORD back = fs->Rename(folder, partial, outDir, kTryName);
    if (back != ERROR_SUCCESS) {
      fs->RemoveFile(folder, partial);
      MakeTryFile(fs, outDir);
    }
    return back;
  }
  return error;
}

}  // namespace

DWORD MboxTreeLayout::Start(const Folder& outDir) {
  Reserve(kTryBase);
  return MakeTryFile(fs, outDir);
}

void MboxTreeLayout::End(const Folder& outDir) {
  fs->RemoveFile(outDir, kTryName);
}

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

// The subfolder for the folders below, when there are any; then the empty
// mbox file of a folder without a base, or a try of a base's names.
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
  if (folders[i].HasBase()) {
    error = TryNames(fs, outDir, where.get(), name);
  } else {
    std::unique_ptr<WritableFile> file;
    error = fs->CreateNewFile(where.get(), name, &file);
    if (error == ERROR_SUCCESS) {
      error = file->Close();
      if (error != ERROR_SUCCESS) fs->RemoveFile(where.get(), name);
    }
  }
  if (error != ERROR_SUCCESS && withFolder)
    fs->RemoveFolder(where.get(), subfolder);
  return error;
}

DWORD MboxTreeLayout::Clear(const Folder& outDir, const FolderPlace& folder,
                            const std::vector<WriterRun>&) {
  if (folder.output.empty() || !folder.HasBase()) return ERROR_SUCCESS;
  const std::string name = LastName(folder.output);
  FolderBelow where;
  DWORD error = where.Open(
      fs, outDir, folder.output.substr(0, folder.output.size() - name.size()));
  // The file itself too: its run ended before the run's journal told it
  // finished, and it is made again.
  for (const std::string& file : {PartialName(name), name}) {
    if (error != ERROR_SUCCESS) break;
    error = fs->RemoveFile(where.get(), file);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      error = ERROR_SUCCESS;
  }
  return error;
}

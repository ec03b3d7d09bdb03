#include "destination/destination.h"

#include "io/paths.h"

Status Destination::OpenPlace(FileSystem* fs, const Folder& outDir,
                              const std::string& output, FolderBelow* folder,
                              bool* inFolder, std::string* name) const {
  *name = LastName(output);
  *inFolder = true;
  return Status::System(
      folder->Open(fs, outDir, output.substr(0, output.size() - name->size())));
}

std::string Destination::PlaceName(const std::string& outName,
                                   const std::string& output) const {
  return JoinPath(outName, output);
}

std::string Destination::InventoryPrefix(const std::string& output) const {
  std::string place = output == "." ? std::string() : output;
  for (char& c : place)
    if (IsPathSeparator(c)) c = '/';
  return place.empty() ? place : place + "/";
}

// The naming every tree layout shares: the first free name, the fallback,
// and what is told of both.
#include "output_tree/tree_layout.h"

#include "bytes/ascii.h"
#include "io/paths.h"
#include "platform/system_error.h"

std::string TreeLayout::FirstFree(const FolderPlaces& folders, size_t i,
                                  const std::string& name, bool fallback,
                                  int* suffix) {
  for (int n = 1;; ++n) {
    const std::string output = Form(
        folders, i, n == 1 ? name : name + "-" + std::to_string(n), fallback);
    bool free = true;
    for (const std::string& claim : Claims(folders, i, output))
      free = free && claimed.count(FoldedAscii(claim)) == 0;
    if (free) {
      *suffix = n;
      return output;
    }
  }
}

void TreeLayout::Claim(const FolderPlaces& folders, size_t i,
                       const std::string& output) {
  for (const std::string& claim : Claims(folders, i, output))
    claimed.insert(FoldedAscii(claim));
}

bool TreeLayout::Prepare(const Folder& outDir, const std::string& outDirName,
                         const std::string& rootName, FolderPlaces* folders,
                         std::string* error,
                         const std::vector<std::string>& reserved) {
  claimed.clear();
  for (const std::string& name : reserved) Reserve(name);
  const bool placed = PlaceAll(outDir, outDirName, rootName, folders, error);
  End(outDir);
  return placed;
}

void TreeLayout::Reserve(const std::string& name) {
  claimed.insert(FoldedAscii(name));
}

bool TreeLayout::PlaceAll(const Folder& outDir, const std::string& outDirName,
                          const std::string& rootName, FolderPlaces* folders,
                          std::string* error) {
  DWORD failure = Start(outDir);
  if (failure != ERROR_SUCCESS) {
    *error = "can't create " + outDirName + ": " + SystemErrorText(failure);
    return false;
  }
  for (size_t i = 0; i < folders->size(); ++i) {
    FolderPlace& f = (*folders)[i];
    const bool isRoot = f.parent < 0;  // ROOT or a further base of it
    if (!f.HasBase() && (isRoot || !f.basesBelow)) continue;
    const std::string own = isRoot ? rootName : f.name;
    std::string output;
    if (FixedPlace(*folders, i, own, &output)) {
      Claim(*folders, i, output);
      f.output = output;
      continue;
    }
    int suffix = 1;
    output = FirstFree(*folders, i, own, false, &suffix);
    const DWORD refusal = Make(outDir, *folders, i, output);
    if (refusal != ERROR_SUCCESS) {
      const std::string refusalText = RefusalText(refusal);
      const std::string fallback =
          FirstFree(*folders, i, "folder-" + std::to_string(i), true, &suffix);
      failure = Make(outDir, *folders, i, fallback);
      if (failure != ERROR_SUCCESS) {
        // Told under the folder's own name: the fallback is no name the
        // user knows.
        *error =
            "can't create " + JoinPath(outDirName, output) + ": " + refusalText;
        const std::string failureText = RefusalText(failure);
        if (failureText != refusalText)
          *error += " (nor as " + fallback + ": " + failureText + ")";
        return false;
      }
      f.renamedBecause =
          "the name \"" + own + "\" cannot be used there: " + refusalText;
      output = fallback;
    } else if (suffix > 1) {
      f.renamedBecause = "\"" + own + "\" is taken";
    }
    Claim(*folders, i, output);
    f.output = output;
  }
  return true;
}

std::string TreeLayout::RefusalText(DWORD error) const {
  return SystemErrorText(error);
}

void TreeLayout::Discard(const std::string& outDir, const FolderPlace& folder) {
  std::unique_ptr<Folder> open;
  if (fs->OpenFolder(outDir, &open) == ERROR_SUCCESS) Discard(*open, folder);
}

std::string RemotePlaceName(const std::string& outName,
                            const std::string& output) {
  if (!outName.empty() && outName.back() == '/') return outName + output;
  return outName + "/" + output;
}

WriterRun CurrentWriterRun() {
  WriterRun run;
  run.process = GetCurrentProcessId();
  char name[256];
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size) && size < sizeof name)
    run.host.assign(name, size);
  return run;
}

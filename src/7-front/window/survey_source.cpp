#include "window/survey_source.h"

#include <memory>

#include "io/file_system.h"
#include "io/paths.h"
#include "platform/system_error.h"
#include "tree/tree_folders.h"

void SurveySource(const std::string& path, const std::atomic<bool>& cancel,
                  const std::function<void(const SourceSurvey&)>& told) {
  SourceSurvey survey;
  FileSystem* fs = RealFileSystem();
  std::unique_ptr<Folder> root;
  DWORD error = fs->OpenFolder(path, &root);
  if (error == ERROR_SUCCESS) {
    TreeFolders folders;
    if (!DiscoverTree(fs, *root, &folders, &error)) {
      survey.error = "Can't look into " + path + ": " + SystemErrorText(error);
      told(survey);
      return;
    }
    survey.ok = survey.tree = true;
    for (const TreeFolder& f : folders) {
      if (cancel) return;
      SurveyFolder row;
      row.name = f.path;
      if (f.listError != 0) {
        row.state = SurveyFolder::State::kSkipped;
        row.why = "can't list the folder: " + SystemErrorText(f.listError);
      } else if (!f.skippedName.empty()) {
        row.state = SurveyFolder::State::kSkipped;
        row.why = f.skippedKind == EntryKind::kLink
                      ? "not a regular file (a link)"
                      : "not a regular file";
      } else if (!f.HasBase()) {
        continue;
      } else {
        row.bytes = f.baseSize;
        if (f.baseSize == 0) row.state = SurveyFolder::State::kEmpty;
      }
      survey.folders.push_back(row);
    }
    survey.counted = true;
    told(survey);
    return;
  }
  std::string full = path;
  FullPath(path, &full, &error);
  std::unique_ptr<Folder> parent;
  std::vector<FolderEntry> entries;
  error = fs->OpenFolder(ParentPath(full), &parent);
  if (error == ERROR_SUCCESS) error = fs->List(*parent, &entries);
  for (const FolderEntry& e : entries) {
    if (e.name != LastName(full)) continue;
    survey.ok = e.kind == EntryKind::kFile;
    SurveyFolder row;
    row.name = e.name;
    row.bytes = e.size;
    survey.folders.push_back(row);
    survey.counted = true;
  }
  if (!survey.ok)
    survey.error =
        "Can't open " + path + ": " +
        SystemErrorText(error != ERROR_SUCCESS
                            ? error
                            : static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  told(survey);
}

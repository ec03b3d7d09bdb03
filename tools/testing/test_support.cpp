#include "test_support.h"

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "io/file_system.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::string Quote(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";
#else
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
#endif
}

// Removes everything in folder, however deep: by names in open folders,
// where a path grows too long for the library.
void RemoveBelow(FileSystem* files, const Folder& folder) {
  std::vector<FolderEntry> entries;
  files->List(folder, &entries);
  for (const FolderEntry& e : entries) {
    if (e.kind == EntryKind::kFolder) {
      std::unique_ptr<Folder> sub;
      if (files->OpenSubfolder(folder, e.name, &sub) == ERROR_SUCCESS)
        RemoveBelow(files, *sub);
      sub.reset();
      files->RemoveFolder(folder, e.name);
    } else {
      files->RemoveFile(folder, e.name);
    }
  }
}

int ExitStatus(int systemResult) {
#ifdef _WIN32
  return systemResult;
#else
  if (systemResult == -1) return -1;
  if (WIFEXITED(systemResult)) return WEXITSTATUS(systemResult);
  return 128 + WTERMSIG(systemResult);
#endif
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#ifdef _WIN32
  long pid = 0;
#else
  long pid = static_cast<long>(getpid());
#endif
  for (;;) {
    fs::path candidate =
        fs::temp_directory_path() /
        ("korvane-test-" + std::to_string(pid) + "-" + std::to_string(stamp) +
         "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
  if (!error) return;
  std::unique_ptr<Folder> folder;
  if (RealFileSystem()->OpenFolder(path_, &folder) != ERROR_SUCCESS) return;
  RemoveBelow(RealFileSystem(), *folder);
  folder.reset();
  fs::remove(path_, error);
}

std::string TempDir::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

ProgramResult RunProgram(const std::string& program,
                         const std::vector<std::string>& args,
                         const std::string& workDir) {
  static std::atomic<int> counter{0};
  TempDir scratch;
  std::string outputFile = scratch.File("output-" + std::to_string(counter++));
  std::string command;
#ifdef _WIN32
  command = "cd /d " + Quote(workDir) + " && " + Quote(program);
#else
  command = "cd " + Quote(workDir) + " && exec " + Quote(program);
#endif
  for (const std::string& arg : args) command += " " + Quote(arg);
#ifdef _WIN32
  command += " < NUL > " + Quote(outputFile);
  command = "\"" + command + "\"";
#else
  command += " < /dev/null > " + Quote(outputFile);
#endif
  ProgramResult result;
  result.status = ExitStatus(std::system(command.c_str()));
  result.output = ReadFileOrEmpty(outputFile);
  return result;
}

OutputTree ReadOutputTree(const std::string& folder, int* leftovers) {
  OutputTree outputs;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const fs::path at = fs::relative(e.path(), folder);
    const std::string in = at.parent_path().filename().u8string();
    const std::string name = at.filename().u8string();
    if (!e.is_regular_file() || (in.empty() && name == ".korvane-run"))
      continue;
    if (in == "tmp" || (name[0] == '.' && name.size() > 9 &&
                        name.compare(name.size() - 8, 8, ".partial") == 0)) {
      ++*leftovers;
      continue;
    }
    const bool message = in == "cur" || in == "new";
    std::string bytes = ReadFileOrEmpty(e.path().u8string());
    if (in.empty() && name == "inventory.csv") {
      // Its rows, whatever their order.
      for (size_t at = 0, end; at < bytes.size(); at = end + 1) {
        end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        outputs[name].insert(bytes.substr(at, end - at));
      }
      continue;
    }
    if (message) {
      const auto since = e.last_write_time().time_since_epoch();
      bytes =
          std::to_string(
              std::chrono::duration_cast<std::chrono::seconds>(since).count()) +
          "\n" + bytes;
    }
    outputs[(message ? at.parent_path().parent_path() : at).generic_u8string()]
        .insert(bytes);
  }
  return outputs;
}

ProgramResult RunKorvaneBinary(const std::vector<std::string>& args,
                               const std::string& workDir) {
  return RunProgram(KORVANE_BINARY, args, workDir);
}

}  // namespace testing_support

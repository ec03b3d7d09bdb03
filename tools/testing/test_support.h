// Helpers shared by the tests: temporary folders, files, and running the
// built programs.
#ifndef KORVANE_TESTING_TEST_SUPPORT_H_
#define KORVANE_TESTING_TEST_SUPPORT_H_

#include <map>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFileOrEmpty(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);

struct ProgramResult {
  int status = -1;     // exit status
  std::string output;  // everything printed to standard output
};

// Runs program with args in workDir (through the shell, each argument
// quoted), standard input empty, standard output captured.
ProgramResult RunProgram(const std::string& program,
                         const std::vector<std::string>& args,
                         const std::string& workDir);

// What a tree run (or one base) left below a folder, by place: an mbox
// file by its path, a Maildir by its folder ("" for the folder itself),
// each with its files' bytes (a Maildir message's after its write time in
// seconds, since its name tells its run). Partial files (".NAME.partial")
// and files in a Maildir's tmp/ are only counted, in *leftovers; the run's
// journal is left out; an inventory.csv at the top is its lines, in any
// order.
typedef std::map<std::string, std::multiset<std::string>> OutputTree;
OutputTree ReadOutputTree(const std::string& folder, int* leftovers);

// Runs korvane (the built binary) in workDir.
ProgramResult RunKorvaneBinary(const std::vector<std::string>& args,
                               const std::string& workDir);

}  // namespace testing_support

#endif  // KORVANE_TESTING_TEST_SUPPORT_H_

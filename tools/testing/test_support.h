// Helpers shared by the tests: temporary folders, files, and running the
// built programs.
#ifndef KORVANE_TESTING_TEST_SUPPORT_H_
#define KORVANE_TESTING_TEST_SUPPORT_H_

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

// Runs korvane (the built binary) in workDir.
ProgramResult RunKorvaneBinary(const std::vector<std::string>& args,
                               const std::string& workDir);

}  // namespace testing_support

#endif  // KORVANE_TESTING_TEST_SUPPORT_H_

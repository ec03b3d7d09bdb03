#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <thread>

#include "browser/browser.h"

extern char** environ;

namespace {

std::string Variable(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

class PosixLaunch : public BrowserLaunch {
 public:
  explicit PosixLaunch(pid_t pid) : pid(pid) {}
  ~PosixLaunch() override {
    if (!Ended()) {
      // Not waited for; reaped when it ends.
      const pid_t child = pid;
      std::thread([child] { waitpid(child, nullptr, 0); }).detach();
    }
  }

  bool Failed() override { return Ended() && failed; }

 private:
  bool Ended() {
    if (ended) return true;
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got != pid) return false;
    ended = true;
    failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    return true;
  }

  pid_t pid;
  bool ended = false, failed = false;
};

}  // namespace

bool BrowserAvailable() {
  return !Variable("KORVANE_BROWSER").empty() || !Variable("DISPLAY").empty() ||
         !Variable("WAYLAND_DISPLAY").empty();
}

std::unique_ptr<BrowserLaunch> OpenBrowser(const std::string& url,
                                           Status* status) {
  std::string program = Variable("KORVANE_BROWSER");
  if (program.empty()) program = "xdg-open";
  // Its chatter stays off korvane's console.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string argument = url;
  char* argv[] = {&program[0], &argument[0], nullptr};
  pid_t pid = 0;
  const int error =
      posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    *status = Status::Of(StatusKind::kNotFound,
                         "can't start " + program + ": " + strerror(error));
    return nullptr;
  }
  *status = Status::Ok();
  return std::unique_ptr<BrowserLaunch>(new PosixLaunch(pid));
}

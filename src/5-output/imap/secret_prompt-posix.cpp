#include <termios.h>
#include <unistd.h>

#include "imap/imap_credentials.h"

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool ReadSecret(const std::string& prompt, std::string* secret) {
  secret->clear();
  termios before;
  const bool terminal = tcgetattr(STDIN_FILENO, &before) == 0;
  if (terminal) {
    termios quiet = before;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  if (write(STDERR_FILENO, prompt.data(), prompt.size()) < 0) {
    // The prompt is a courtesy; the answer is what counts.
  }
  bool ended = false;
  char c;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n <= 0 || c == '\n') {
      ended = n == 1;
      break;
    }
    if (c != '\r') *secret += c;
  }
  if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
  return ended || !secret->empty();
}

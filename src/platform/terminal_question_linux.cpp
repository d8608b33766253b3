#include "platform/terminal_question.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/termination_signals.h"

namespace zennic {

std::optional<std::string> AskOnTerminal(const std::string& prompt) {
  if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) return std::nullopt;
  std::fputs(prompt.c_str(), stdout);
  std::fflush(stdout);

  int termination = OpenTerminationRequestDescriptor();
  std::string line;
  bool answered = false;
  for (;;) {
    pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {termination, POLLIN, 0}};
    if (::poll(waits, termination >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waits[1].revents != 0) break;
    char c = 0;
    if (::read(STDIN_FILENO, &c, 1) != 1) break;
    if (c == '\n') {
      answered = true;
      break;
    }
    line += c;
  }
  if (termination >= 0) ::close(termination);
  if (!answered) {
    std::fputs("\n", stdout);
    return std::nullopt;
  }
  return line;
}

}  // namespace zennic

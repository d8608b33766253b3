#include "platform/debug_output.h"

#include <unistd.h>

#include <cerrno>

namespace zennic {

void WriteDebugOutput(std::string_view text) {
  // One write per call keeps lines from different threads whole.
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace zennic

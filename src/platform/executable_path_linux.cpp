#include "platform/executable_path.h"

#include <unistd.h>

#include <string>

namespace zennic {

std::filesystem::path CurrentExecutablePath() {
  // readlink does not say when it truncated, so grow until the answer fits.
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace zennic

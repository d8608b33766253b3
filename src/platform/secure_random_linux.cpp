#include "platform/secure_random.h"

#include <sys/random.h>

#include <cerrno>

namespace zennic {

bool FillSecureRandom(unsigned char* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    ssize_t count = ::getrandom(buffer + filled, size - filled, 0);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace zennic

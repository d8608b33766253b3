#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_sync.h"

namespace zennic {
namespace {

std::string LockFileName(const std::string& name) {
  std::string file;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    file.push_back(plain ? c : '-');
  }
  return file + ".lock";
}

}  // namespace

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Outcome InstanceLock::Acquire(const std::string& name,
                                            const std::filesystem::path& fallback_folder,
                                            std::string* error) {
  if (fd_ >= 0) return Outcome::Acquired;
  std::filesystem::path folder = fallback_folder;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
    folder = runtime;
  }
  std::filesystem::path file = folder / LockFileName(name);
  // Close-on-exec, so a program we start never inherits the lock.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = "Cannot open lock file " + file.string() + ": " + SystemErrorText(errno);
    return Outcome::Failed;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int lock_error = errno;
    if (lock_error == EINTR) continue;
    ::close(fd);
    if (lock_error == EWOULDBLOCK) return Outcome::HeldElsewhere;
    if (error) *error = "Cannot lock " + file.string() + ": " + SystemErrorText(lock_error);
    return Outcome::Failed;
  }
  fd_ = fd;
  return Outcome::Acquired;
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing drops the flock
  fd_ = -1;
}

}  // namespace zennic

#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

constexpr size_t kMaxNoteBytes = 256;

// A note is read only once its line is complete: the holder may be writing it right now.
std::string ReadNote(int fd) {
  char buffer[kMaxNoteBytes + 1];
  ssize_t count = ::pread(fd, buffer, sizeof buffer, 0);
  if (count <= 0) return {};
  std::string text(buffer, static_cast<size_t>(count));
  size_t end = text.find('\n');
  if (end == std::string::npos) return {};
  text.resize(end);
  for (char c : text) {
    if (c < 0x20 || c > 0x7e) return {};
  }
  return text;
}

// The session's runtime folder serves only while it is the user's alone, as the XDG rules ask:
// in a folder others may write, a link planted in place of the lock file would have the
// program write its address into whatever the link names.
int OpenLockFolder(const std::filesystem::path& fallback_folder, std::filesystem::path* folder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    int runtime_fd = ::open(runtime, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (runtime_fd >= 0 && ::fstat(runtime_fd, &info) == 0 && info.st_uid == ::geteuid() &&
        (info.st_mode & 0777) == 0700) {
      *folder = runtime;
      return runtime_fd;
    }
    if (runtime_fd >= 0) ::close(runtime_fd);
  }
  *folder = fallback_folder;
  return ::open(fallback_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Only a plain file of the user's own is the lock: never a link, never a file also reached by
// another name, so neither the note written nor the note read can be another file's text.
int OpenLockFile(int folder_fd, const std::filesystem::path& file, std::string* error) {
  // Close-on-exec, so a program we start never inherits the lock.
  int fd = ::openat(folder_fd, file.filename().c_str(),
                    O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    int open_error = errno;
    if (error) {
      *error = "Cannot open lock file " + file.string() + ": " +
               (open_error == ELOOP ? std::string("it is a symbolic link")
                                    : SystemErrorText(open_error));
    }
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
      info.st_nlink != 1) {
    ::close(fd);
    if (error) {
      *error = "Cannot use lock file " + file.string() +
               ": it is not a plain file of this user's with one name";
    }
    return -1;
  }
  return fd;
}

// A failure only leaves later starts without the note.
bool ReplaceNote(int fd, const std::string& line) {
  if (::ftruncate(fd, 0) != 0) return false;
  return line.empty() ||
         ::pwrite(fd, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
}

}  // namespace

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Outcome InstanceLock::Acquire(const std::string& name,
                                            const std::filesystem::path& fallback_folder,
                                            std::string* error) {
  if (fd_ >= 0) return Outcome::Acquired;
  holder_note_.clear();
  std::filesystem::path folder;
  int folder_fd = OpenLockFolder(fallback_folder, &folder);
  int folder_error = errno;
  std::filesystem::path file = folder / LockFileName(name);
  if (folder_fd < 0) {
    if (error) {
      *error = "Cannot open lock file " + file.string() + ": " + SystemErrorText(folder_error);
    }
    return Outcome::Failed;
  }
  int fd = OpenLockFile(folder_fd, file, error);
  ::close(folder_fd);
  if (fd < 0) return Outcome::Failed;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int lock_error = errno;
    if (lock_error == EINTR) continue;
    if (lock_error == EWOULDBLOCK) holder_note_ = ReadNote(fd);
    ::close(fd);
    if (lock_error == EWOULDBLOCK) return Outcome::HeldElsewhere;
    if (error) *error = "Cannot lock " + file.string() + ": " + SystemErrorText(lock_error);
    return Outcome::Failed;
  }
  // What an instance that ended left behind names nobody.
  ReplaceNote(fd, "");
  fd_ = fd;
  return Outcome::Acquired;
}

void InstanceLock::Publish(const std::string& note) {
  if (fd_ >= 0 && note.size() < kMaxNoteBytes) ReplaceNote(fd_, note + "\n");
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing drops the flock
  fd_ = -1;
}

}  // namespace zennic

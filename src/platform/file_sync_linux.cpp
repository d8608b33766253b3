#include "platform/file_sync.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zennic {
namespace {

int SyncPath(const std::filesystem::path& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno;
  int result = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return result;
}

}  // namespace

int SyncFolderToDisk(const std::filesystem::path& folder) {
  return SyncPath(folder.empty() ? std::filesystem::path(".") : folder, O_RDONLY | O_DIRECTORY);
}

int MoveFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int MoveFileWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // File systems without RENAME_NOREPLACE: a hard link fails on an existing target just the same.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

std::string SystemErrorText(int error_number) {
  char buffer[256];
  return std::string(::strerror_r(error_number, buffer, sizeof buffer));
}

}  // namespace zennic

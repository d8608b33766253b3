#include "support/read_only_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zennic::testing {
namespace {

bool SetImmutable(const std::filesystem::path& folder, bool on) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}

}  // namespace

ReadOnlyFolder::ReadOnlyFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
  EXPECT_EQ(::chmod(folder_.c_str(), 0555), 0) << std::strerror(errno);
  if (::geteuid() == 0) {
    immutable_ = SetImmutable(folder_, true);
    EXPECT_TRUE(immutable_) << "cannot mark " << folder_ << " immutable: " << std::strerror(errno);
  }
}

ReadOnlyFolder::~ReadOnlyFolder() {
  if (immutable_) SetImmutable(folder_, false);
  ::chmod(folder_.c_str(), 0755);
}

}  // namespace zennic::testing

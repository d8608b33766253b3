#include "support/failing_read_mount.h"

#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zennic::testing {
namespace {

FailingReadMount& Mount() {
  return *static_cast<FailingReadMount*>(fuse_get_context()->private_data);
}

std::string SourcePath(const char* path) { return Mount().source().string() + path; }

int GetAttributes(const char* path, struct stat* status, fuse_file_info*) {
  if (::lstat(SourcePath(path).c_str(), status) != 0) return -errno;
  status->st_mode &= ~static_cast<mode_t>(0222);
  return 0;
}

int Open(const char* path, fuse_file_info* file) {
  if ((file->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  const int descriptor = ::open(SourcePath(path).c_str(), O_RDONLY);
  if (descriptor < 0) return -errno;
  file->fh = static_cast<uint64_t>(descriptor);
  file->direct_io = 1;
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* file) {
  const int descriptor = static_cast<int>(file->fh);
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) return -errno;
  const auto readable = static_cast<off_t>(static_cast<double>(status.st_size) *
                                           Mount().readable_fraction());
  if (offset + static_cast<off_t>(size) > readable && offset < status.st_size) return -EIO;
  const ssize_t read = ::pread(descriptor, buffer, size, offset);
  return read < 0 ? -errno : static_cast<int>(read);
}

int Release(const char*, fuse_file_info* file) { return ::close(static_cast<int>(file->fh)); }

}  // namespace

FailingReadMount::FailingReadMount(const std::filesystem::path& source,
                                   const std::filesystem::path& mount_point,
                                   double readable_fraction)
    : source_(source), readable_fraction_(readable_fraction) {
  static const fuse_operations operations = [] {
    fuse_operations table{};
    table.getattr = GetAttributes;
    table.open = Open;
    table.read = Read;
    table.release = Release;
    return table;
  }();
  char program[] = "zennic-failing-reads";
  char* arguments[] = {program};
  fuse_args args = FUSE_ARGS_INIT(1, arguments);
  fuse* instance = fuse_new(&args, &operations, sizeof operations, this);
  fuse_opt_free_args(&args);
  if (instance == nullptr) {
    error_ = "FUSE could not be set up";
    return;
  }
  if (fuse_mount(instance, mount_point.c_str()) != 0) {
    fuse_destroy(instance);
    error_ = "FUSE could not mount " + mount_point.string();
    return;
  }
  fuse_ = instance;
  loop_ = std::thread([this] { fuse_loop(fuse_); });
}

FailingReadMount::~FailingReadMount() {
  if (fuse_ == nullptr) return;
  // Unmounting ends the loop's wait for the kernel's next request.
  fuse_exit(fuse_);
  fuse_unmount(fuse_);
  loop_.join();
  fuse_destroy(fuse_);
}

}  // namespace zennic::testing

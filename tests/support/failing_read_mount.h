#pragma once

#include <filesystem>
#include <string>
#include <thread>

struct fuse;

namespace zennic::testing {

// Shows the files of a folder, read-only, through a file system of its own (FUSE) on which
// every read reaching past `readable_fraction` of a file fails with EIO, as a failing disk or a
// dropped network share does. Reads bypass the page cache, so the failure comes at the byte.
class FailingReadMount {
 public:
  FailingReadMount(const std::filesystem::path& source, const std::filesystem::path& mount_point,
                   double readable_fraction);
  ~FailingReadMount();
  FailingReadMount(const FailingReadMount&) = delete;
  FailingReadMount& operator=(const FailingReadMount&) = delete;

  bool mounted() const { return fuse_ != nullptr; }
  // Why it could not be mounted.
  const std::string& error() const { return error_; }

  const std::filesystem::path& source() const { return source_; }
  double readable_fraction() const { return readable_fraction_; }

 private:
  std::filesystem::path source_;
  double readable_fraction_;
  struct fuse* fuse_ = nullptr;
  std::string error_;
  std::thread loop_;
};

}  // namespace zennic::testing

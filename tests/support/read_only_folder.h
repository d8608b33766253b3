#pragma once

#include <filesystem>

namespace zennic::testing {

// Makes a folder refuse new, renamed and removed entries while the object lives. Permissions
// alone do not stop root, so for root the folder is also marked immutable; a test fails loudly
// when that cannot be done.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(std::filesystem::path folder);
  ~ReadOnlyFolder();
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

 private:
  std::filesystem::path folder_;
  bool immutable_ = false;
};

}  // namespace zennic::testing

#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/temp_folder.h"

namespace zennic::testing {

// For its lifetime, points the home folder, the XDG folders and the locale of this process at
// a fresh temporary folder, so default folders land there and not in the real home.
class IsolatedUser {
 public:
  explicit IsolatedUser(const std::string& lang = "en_US.UTF-8");
  ~IsolatedUser();
  IsolatedUser(const IsolatedUser&) = delete;
  IsolatedUser& operator=(const IsolatedUser&) = delete;

  const std::filesystem::path& home() const { return home_; }
  // Where the default Sounds folder lies for this user.
  std::filesystem::path SoundsFolder() const { return home_ / "Documents/Ruzerad/Sounds"; }

 private:
  void Set(const char* name, const std::optional<std::string>& value);

  TempFolder folder_;
  std::filesystem::path home_;
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace zennic::testing

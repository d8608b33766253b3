#pragma once

#include <filesystem>

namespace zennic {

enum class KnownFolder {
  LocalAppData,  // per-user application data
  Documents,
  Music,
  Downloads,
  Profile,  // the user's home
};

// The folder's path, or an empty path when the system cannot name it. Nothing is created.
std::filesystem::path GetKnownFolderPath(KnownFolder folder);

}  // namespace zennic

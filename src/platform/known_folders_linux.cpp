#include "platform/known_folders.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace zennic {
namespace {

std::filesystem::path AbsoluteEnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return {};
  std::filesystem::path path(value);
  // The XDG rules ignore relative values.
  return path.is_absolute() ? path : std::filesystem::path();
}

// Reads one entry of the XDG user-dirs file, e.g. XDG_DOWNLOAD_DIR="$HOME/Downloads".
std::filesystem::path UserDirsEntry(const std::string& key, const std::filesystem::path& home) {
  std::filesystem::path config = AbsoluteEnvironmentPath("XDG_CONFIG_HOME");
  if (config.empty()) {
    if (home.empty()) return {};
    config = home / ".config";
  }
  std::ifstream file(config / "user-dirs.dirs");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) {
      if (home.empty()) return {};
      std::string rest = value.substr(5);
      if (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
      return rest.empty() ? home : home / rest;
    }
    std::filesystem::path path(value);
    return path.is_absolute() ? path : std::filesystem::path();
  }
  return {};
}

std::filesystem::path UserDir(const std::string& key, const char* fallback_name) {
  std::filesystem::path home = AbsoluteEnvironmentPath("HOME");
  std::filesystem::path configured = UserDirsEntry(key, home);
  if (!configured.empty()) return configured;
  return home.empty() ? std::filesystem::path() : home / fallback_name;
}

}  // namespace

std::filesystem::path GetKnownFolderPath(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::LocalAppData: {
      std::filesystem::path data = AbsoluteEnvironmentPath("XDG_DATA_HOME");
      if (!data.empty()) return data;
      std::filesystem::path home = AbsoluteEnvironmentPath("HOME");
      return home.empty() ? std::filesystem::path() : home / ".local" / "share";
    }
    case KnownFolder::Documents:
      return UserDir("XDG_DOCUMENTS_DIR", "Documents");
    case KnownFolder::Music:
      return UserDir("XDG_MUSIC_DIR", "Music");
    case KnownFolder::Downloads:
      return UserDir("XDG_DOWNLOAD_DIR", "Downloads");
    case KnownFolder::Profile:
      return AbsoluteEnvironmentPath("HOME");
  }
  return {};
}

}  // namespace zennic

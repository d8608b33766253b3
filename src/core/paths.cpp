#include "core/paths.h"

#include <string>
#include <system_error>

#include "platform/known_folders.h"

namespace zennic {
namespace {

std::string WithoutTrailingSeparators(std::string text) {
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::filesystem::path AbsoluteNormalPath(const std::filesystem::path& path) {
  if (path.empty()) return path;
  std::error_code code;
  std::filesystem::path absolute = std::filesystem::absolute(path, code);
  if (code) absolute = path;
  return absolute.lexically_normal();
}

bool IsPathInsideRoot(const std::filesystem::path& path, const std::filesystem::path& root) {
  std::string root_text = WithoutTrailingSeparators(AbsoluteNormalPath(root).string());
  if (root_text.empty()) return false;
  std::string path_text = WithoutTrailingSeparators(AbsoluteNormalPath(path).string());
  if (path_text.size() < root_text.size()) return false;
  if (path_text.compare(0, root_text.size(), root_text) != 0) return false;
  if (path_text.size() == root_text.size()) return true;
  return root_text.back() == '/' || path_text[root_text.size()] == '/';
}

std::filesystem::path MakeUniqueFilePath(const std::filesystem::path& desired) {
  if (!std::filesystem::exists(desired)) return desired;
  std::filesystem::path folder = desired.parent_path();
  std::string stem = desired.stem().string();
  std::string extension = desired.extension().string();
  for (int n = 2; n <= 999; ++n) {
    std::filesystem::path candidate = folder / (stem + "-" + std::to_string(n) + extension);
    if (!std::filesystem::exists(candidate)) return candidate;
  }
  return {};
}

std::filesystem::path FallbackBaseDirectory() {
  for (KnownFolder folder : {KnownFolder::Music, KnownFolder::Documents, KnownFolder::Profile}) {
    std::filesystem::path path = GetKnownFolderPath(folder);
    if (!path.empty()) return AbsoluteNormalPath(path);
  }
  std::error_code code;
  return AbsoluteNormalPath(std::filesystem::current_path(code));
}

std::filesystem::path DefaultSoundsDirectory() {
  std::filesystem::path documents = GetKnownFolderPath(KnownFolder::Documents);
  if (!documents.empty()) return AbsoluteNormalPath(documents / "Ruzerad" / "Sounds");
  std::filesystem::path profile = GetKnownFolderPath(KnownFolder::Profile);
  if (!profile.empty()) {
    return AbsoluteNormalPath(profile / "Documents" / "Ruzerad" / "Sounds");
  }
  return AbsoluteNormalPath(FallbackBaseDirectory() / "Ruzerad" / "Sounds");
}

}  // namespace zennic

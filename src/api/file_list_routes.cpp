// The clip list of an audio folder, its sub-folders, and new sub-folders.

#include <algorithm>

#include "api/audio_folder_rules.h"
#include "api/file_name_validation.h"
#include "api/http_api.h"
#include "api/path_style.h"
#include "core/paths.h"
#include "core/confined_paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr char kRootLabel[] = "Audio folder root";

// The first folder of a relative path when the file lies in a sub-folder, else empty. Taken
// from the text as it is, so a name that is not UTF-8 lists like any other.
std::string FileCategoryOf(const std::string& relative_path) {
  PathText split = SplitPathText(relative_path, kNativePathStyle);
  return split.names.size() >= 2 ? split.names.front() : "";
}

// Sorted by their lower-cased bytes (a shorter name first on a common start); of names equal
// ignoring case only the first stays.
std::vector<std::string> SortedWithoutCaseDuplicates(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string lower_a = ToLower(a);
    std::string lower_b = ToLower(b);
    return lower_a != lower_b ? lower_a < lower_b : a < b;
  });
  auto last = std::unique(
      names.begin(), names.end(),
      [](const std::string& a, const std::string& b) { return EqualsIgnoreCase(a, b); });
  names.erase(last, names.end());
  return names;
}

// A real folder, not a link to one.
bool IsPlainFolder(const fs::directory_entry& entry) {
  std::error_code code;
  return entry.symlink_status(code).type() == fs::file_type::directory;
}

std::vector<std::string> CategoriesOf(const fs::path& root) {
  std::vector<std::string> names;
  if (root.empty() || !IsExistingFolder(root)) return names;
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    if (IsPlainFolder(entry) && !IsOriginalsFolder(entry.path())) {
      names.push_back(WideToUtf8(entry.path().filename()));
    }
  }
  return SortedWithoutCaseDuplicates(std::move(names));
}

// WalkInside, with a root that cannot be read thrown as the standard walk throws it.
void WalkLibrary(const fs::path& root, const ConfinedWalkVisitor& visit) {
  if (const int error = WalkInside(root, visit)) {
    throw fs::filesystem_error("Audio folder could not be read", root,
                               std::error_code(error, std::system_category()));
  }
}

// A listed clip, its path relative to the root, and its size as the walk found it.
struct FoundFile {
  fs::path path;
  std::string relative_path;
  uint64_t size = UINT64_MAX;
};

// The sound files below the root; "_originals" folders are not entered, and a linked file
// counts only when it resolves inside the root.
std::vector<FoundFile> CollectSoundFiles(const fs::path& root) {
  std::vector<FoundFile> files;
  const fs::path normal_root = AbsoluteNormalPath(root);
  WalkLibrary(root, [&](const ConfinedFolder& folder, const std::string& name, EntryType type,
                        const fs::path& relative) {
    if (type == EntryType::Folder) return !IsOriginalsName(name);
    if (!IsSupportedAudioExtension(name)) return false;
    fs::path path = normal_root / relative;
    if (type == EntryType::File) {
      // No link lies between the root and a file the walk reached, so the text form is the
      // resolved one, without asking the file system per folder.
      uint64_t size = UINT64_MAX;
      folder.TypeOf(name, &size);
      files.push_back({std::move(path), WideToUtf8(relative), size});
    } else if (type == EntryType::Link) {
      std::error_code code;
      if (fs::is_regular_file(path, code) &&
          HttpApi::ResolvePathInsideActiveRoot(path, root, nullptr)) {
        std::string relative_text = RelativeUtf8Path(root, path);
        const uintmax_t size = fs::file_size(path, code);
        files.push_back({std::move(path), std::move(relative_text), code ? UINT64_MAX : size});
      }
    }
    return false;
  });
  return files;
}

JsonValue UnmeasuredVolumeHealth(const fs::path& path, const std::string& relative_path) {
  AnalyzerVolumeHealth health;
  health.path = WideToUtf8(path);
  health.relative_path = relative_path;
  return BuildVolumeHealthJson(health);
}

}  // namespace

JsonValue HttpApi::BuildFileListJson(const fs::path& root, const std::string& selected_path) const {
  JsonValue list = JsonValue::MakeArray();
  if (root.empty() || !fs::exists(root) || !fs::is_directory(root)) return list;

  struct Keyed {
    std::string sort_key;  // the relative path, lower-cased
    std::string relative_path;
    fs::path path;
    uint64_t walked_size;
  };
  std::vector<Keyed> files;
  for (FoundFile& found : CollectSoundFiles(root)) {
    files.push_back({ToLower(found.relative_path), std::move(found.relative_path),
                     std::move(found.path), found.size});
  }
  std::sort(files.begin(), files.end(),
            [](const Keyed& a, const Keyed& b) { return a.sort_key < b.sort_key; });

  for (const Keyed& file : files) {
    const fs::path& path = file.path;
    AnalyzerFileMetadata metadata;
    bool analyzed = config_.analyzer != nullptr &&
                    config_.analyzer->AnalyzeFile(root, path, &metadata, nullptr);
    std::string relative_path =
        analyzed && !metadata.relative_path.empty() ? metadata.relative_path : file.relative_path;
    uint64_t size = analyzed ? metadata.size_bytes : 0;
    if (size == 0) size = file.walked_size;

    JsonValue entry = JsonValue::MakeObject();
    entry["name"] = WideToUtf8(path.filename());
    entry["path"] = WideToUtf8(path);
    entry["relative_path"] = relative_path;
    entry["category"] = FileCategoryOf(relative_path);
    entry["extension"] = LowerCaseExtension(path);
    entry["size_bytes"] = static_cast<double>(size);
    entry["compatible_state"] = analyzed ? metadata.compatibility_state : "unknown";
    entry["selected"] = WideToUtf8(path) == selected_path;
    AnalyzerVolumeHealth health;
    entry["volume_health"] =
        config_.analyzer != nullptr && config_.analyzer->GetCachedVolumeHealth(path, &health)
            ? BuildVolumeHealthJson(health)
            : UnmeasuredVolumeHealth(path, relative_path);
    list.PushBack(entry);
  }
  return list;
}

HttpResponse HttpApi::HandleFiles(const JsonValue& body) {
  MixerSettings settings = config_.runtime_state->GetSettings();
  std::optional<HttpResponse> refusal;
  fs::path root = ResolveRequestAudioDir(settings, body, &refusal);
  if (refusal) return *refusal;

  JsonValue reply = JsonValue::MakeObject();
  reply["root_dir"] = WideToUtf8(root);
  reply["files"] = BuildFileListJson(root, settings.file_path);
  JsonValue categories = JsonValue::MakeArray();
  for (const std::string& name : CategoriesOf(root)) categories.PushBack(name);
  reply["categories"] = std::move(categories);
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleFolders(const JsonValue&) {
  fs::path root = ProfileService::ActiveAudioDirectory(config_.runtime_state->GetSettings());
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  std::string reason;
  if (!ResolvePathInsideActiveRoot(root, root, &reason)) {
    return ErrorResponse(409, "path_unavailable", reason);
  }

  // Only real folders are listed and entered: never a link, which may lead out of the root.
  std::vector<std::string> relative_paths = {""};
  WalkLibrary(root, [&](const ConfinedFolder&, const std::string& name, EntryType type,
                        const fs::path& relative) {
    if (type != EntryType::Folder || IsOriginalsName(name)) return false;
    relative_paths.push_back(WideToUtf8(relative));
    return true;
  });

  JsonValue folders = JsonValue::MakeArray();
  for (const std::string& relative : SortedWithoutCaseDuplicates(std::move(relative_paths))) {
    JsonValue entry = JsonValue::MakeObject();
    entry["relative_path"] = relative;
    entry["label"] = relative.empty() ? kRootLabel : relative;
    folders.PushBack(entry);
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["root_dir"] = WideToUtf8(AbsoluteNormalPath(root));
  reply["folders"] = std::move(folders);
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleFoldersCreate(const JsonValue& body) {
  fs::path root = ProfileService::ActiveAudioDirectory(config_.runtime_state->GetSettings());
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  std::string reason;
  if (!ResolvePathInsideActiveRoot(root, root, &reason)) {
    return ErrorResponse(409, "path_unavailable", reason);
  }
  const JsonValue* name = body.Find("folder_name");
  if (name == nullptr || name->type != JsonValue::Type::String) {
    return ErrorResponse(400, "folder_name_required", "Folder name is required");
  }
  fs::path accepted;
  std::string code;
  std::string message;
  if (!ValidateFolderName(name->string_value, &accepted, &code, &message)) {
    return ErrorResponse(400, code, message);
  }
  fs::path target = AbsoluteNormalPath(root / accepted);
  if (!IsInsideAudioRoot(target, root) || IsUnderOriginalsFolder(root, target)) {
    return ErrorResponse(403, "path_outside_root",
                         "Folder must stay inside the active profile audio folder");
  }

  const auto folder_exists = [] {
    return ErrorResponse(409, "folder_exists", "A folder or file with that name already exists");
  };
  std::error_code status_error;
  fs::file_status status = fs::symlink_status(target, status_error);
  if (status_error && status_error != std::errc::no_such_file_or_directory) {
    return ErrorResponse(409, "path_unavailable",
                         "Folder could not be checked: " + status_error.message());
  }
  if (fs::exists(status)) return folder_exists();
  std::error_code create_error;
  bool created = fs::create_directory(target, create_error);
  if (create_error) {
    std::error_code ignored;
    if (fs::exists(fs::symlink_status(target, ignored))) return folder_exists();
    return ErrorResponse(500, "folder_create_failed",
                         "Failed to create folder: " + create_error.message());
  }
  if (!created) return folder_exists();

  JsonValue reply = JsonValue::MakeObject();
  std::string relative = RelativeUtf8Path(root, target);
  reply["relative_path"] = relative;
  reply["label"] = relative;
  return MakeJsonResponse(reply);
}

}  // namespace zennic

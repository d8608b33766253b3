#include "model/profile_service.h"

#include <algorithm>

#include "core/paths.h"
#include "core/text.h"

namespace zennic {
namespace {

// Carries a refused edit out of the runtime state's update, which then changes nothing.
struct EditRefused {};

ProfileError InvalidProfile(const char* message) { return {"invalid_profile", message}; }

void Report(ProfileError* out, ProfileError error) {
  if (out) *out = std::move(error);
}

std::string CleanFolder(const std::string& audio_dir) {
  return WideToUtf8(AbsoluteNormalPath(Utf8ToPath(audio_dir)));
}

// Keeps a selection only while its file exists inside the active folder.
bool SelectionStays(const std::string& selection, const std::filesystem::path& root) {
  std::filesystem::path path = AbsoluteNormalPath(Utf8ToPath(selection));
  return IsPathInsideRoot(path, root) && std::filesystem::exists(path);
}

}  // namespace

ProfileService::ProfileService(RuntimeState* runtime_state) : runtime_state_(runtime_state) {}

const Profile* ProfileService::FindProfile(const MixerSettings& settings, const std::string& id) {
  for (const Profile& profile : settings.profiles) {
    if (profile.id == id) return &profile;
  }
  return nullptr;
}

Profile* ProfileService::FindProfile(MixerSettings& settings, const std::string& id) {
  return const_cast<Profile*>(FindProfile(static_cast<const MixerSettings&>(settings), id));
}

const Profile* ProfileService::ActiveProfile(const MixerSettings& settings) {
  if (const Profile* selected = FindProfile(settings, settings.selected_profile_id)) {
    return selected;
  }
  return settings.profiles.empty() ? nullptr : &settings.profiles.front();
}

std::filesystem::path ProfileService::ActiveAudioDirectory(const MixerSettings& settings) {
  const Profile* active = ActiveProfile(settings);
  if (active == nullptr || active->audio_dir.empty()) return {};
  return AbsoluteNormalPath(Utf8ToPath(active->audio_dir));
}

bool ProfileService::SetActiveAudioDirectory(MixerSettings* settings,
                                             const std::string& audio_dir, bool* file_cleared) {
  if (file_cleared) *file_cleared = false;
  if (settings == nullptr || audio_dir.empty()) return false;
  Profile* active = FindProfile(*settings, settings->selected_profile_id);
  if (active == nullptr) {
    if (settings->profiles.empty()) settings->profiles.push_back(DefaultProfile());
    active = &settings->profiles.front();
    settings->selected_profile_id = active->id;
  }
  active->audio_dir = CleanFolder(audio_dir);
  return ClearSelectionsOutsideActiveRoot(settings, file_cleared);
}

bool ProfileService::ClearSelectionsOutsideActiveRoot(MixerSettings* settings,
                                                      bool* file_cleared) {
  if (file_cleared) *file_cleared = false;
  if (settings == nullptr) return true;
  std::filesystem::path root = ActiveAudioDirectory(*settings);
  bool clip_stays = !settings->file_path.empty() &&
                    !root.empty() && SelectionStays(settings->file_path, root);
  if (!settings->file_path.empty() && !clip_stays) {
    settings->file_path.clear();
    if (file_cleared) *file_cleared = true;
  }
  if (!settings->panic_file_path.empty() &&
      (root.empty() || !SelectionStays(settings->panic_file_path, root))) {
    settings->panic_file_path.clear();
  }
  return true;
}

bool ProfileService::Upsert(const std::string& id, const std::string& name,
                            const std::string& audio_dir, ProfileResult* result,
                            ProfileError* error) {
  if (!Validate(name, audio_dir, error)) return false;
  std::string clean_name = Trim(name);
  std::string clean_folder = CleanFolder(audio_dir);
  return Commit(
      [&](MixerSettings& settings, bool* file_cleared) -> std::optional<ProfileError> {
        auto name_taken = [&](const std::string& except_id, bool updating) {
          return std::any_of(settings.profiles.begin(), settings.profiles.end(),
                             [&](const Profile& other) {
                               return (!updating || other.id != except_id) &&
                                      EqualsIgnoreCase(other.name, clean_name);
                             });
        };
        Profile* existing = id.empty() ? nullptr : FindProfile(settings, id);
        if (name_taken(id, existing != nullptr)) {
          return ProfileError{"duplicate_profile_name", "A profile with that name already exists"};
        }
        if (existing != nullptr) {
          existing->name = clean_name;
          existing->audio_dir = clean_folder;
          settings.selected_profile_id = existing->id;
        } else {
          std::string new_id = MakeUniqueProfileId(settings, clean_name);
          settings.profiles.push_back(Profile{new_id, clean_name, clean_folder});
          settings.selected_profile_id = new_id;
        }
        ClearSelectionsOutsideActiveRoot(&settings, file_cleared);
        return std::nullopt;
      },
      result, error);
}

bool ProfileService::Select(const std::string& id, ProfileResult* result, ProfileError* error) {
  if (Trim(id).empty()) {
    Report(error, InvalidProfile("Profile id is required"));
    return false;
  }
  return Commit(
      [&](MixerSettings& settings, bool* file_cleared) -> std::optional<ProfileError> {
        if (FindProfile(settings, id) == nullptr) return InvalidProfile("Profile not found");
        settings.selected_profile_id = id;
        ClearSelectionsOutsideActiveRoot(&settings, file_cleared);
        return std::nullopt;
      },
      result, error);
}

bool ProfileService::Delete(const std::string& id, ProfileResult* result, ProfileError* error) {
  if (Trim(id).empty()) {
    Report(error, InvalidProfile("Profile id is required"));
    return false;
  }
  return Commit(
      [&](MixerSettings& settings, bool* file_cleared) -> std::optional<ProfileError> {
        if (settings.profiles.size() < 2) {
          return ProfileError{"cannot_delete_last_profile", "The last profile cannot be deleted"};
        }
        size_t before = settings.profiles.size();
        std::erase_if(settings.profiles, [&](const Profile& profile) { return profile.id == id; });
        if (settings.profiles.size() == before) return InvalidProfile("Profile not found");
        if (settings.selected_profile_id == id) {
          // min_element keeps the earliest of equal names.
          auto first_by_name = std::min_element(
              settings.profiles.begin(), settings.profiles.end(),
              [](const Profile& a, const Profile& b) { return ToLower(a.name) < ToLower(b.name); });
          settings.selected_profile_id = first_by_name->id;
        }
        ClearSelectionsOutsideActiveRoot(&settings, file_cleared);
        return std::nullopt;
      },
      result, error);
}

bool ProfileService::Validate(const std::string& name, const std::string& audio_dir,
                              ProfileError* error) {
  if (Trim(name).empty() || Trim(audio_dir).empty()) {
    Report(error, {"path_invalid", "Profile name and audio_dir are required"});
    return false;
  }
  return true;
}

std::string ProfileService::MakeUniqueProfileId(const MixerSettings& settings,
                                                 const std::string& name) {
  std::string base = MakeSlug(name);
  std::string candidate = base;
  for (int n = 2; FindProfile(settings, candidate) != nullptr; ++n) {
    candidate = base + "-" + std::to_string(n);
  }
  return candidate;
}

bool ProfileService::Commit(const ProfileEdit& edit, ProfileResult* result, ProfileError* error) {
  if (runtime_state_ == nullptr) {
    Report(error, {"runtime_unavailable", "Runtime state is not configured"});
    return false;
  }
  bool file_cleared = false;
  std::optional<ProfileError> refusal;
  std::string save_error;
  bool saved = false;
  try {
    saved = runtime_state_->MutateSettings(
        [&](MixerSettings& settings) {
          refusal = edit(settings, &file_cleared);
          if (refusal) throw EditRefused{};
        },
        true, &save_error);
  } catch (const EditRefused&) {
    Report(error, std::move(*refusal));
    return false;
  }
  if (!saved) {
    Report(error, {"settings_save_failed", save_error});
    return false;
  }
  if (result) {
    result->settings = runtime_state_->GetSettings();
    const Profile* active = ActiveProfile(result->settings);
    result->active_profile = active ? std::optional<Profile>(*active) : std::nullopt;
    result->file_cleared = file_cleared;
  }
  return true;
}

}  // namespace zennic

#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "model/mixer_settings.h"
#include "model/runtime_state.h"

namespace zennic {

// What a saved profile operation leaves behind.
struct ProfileResult {
  MixerSettings settings;  // as stored after the save
  bool file_cleared = false;  // the selected clip lay outside the new active folder or was gone
  std::optional<Profile> active_profile;
};

struct ProfileError {
  std::string code;  // stable snake_case
  std::string message;
};

// Answers which profile and audio folder are active, and performs the user's profile
// operations. Each operation is one settings change of the runtime state, so concurrent
// operations never undo each other.
class ProfileService {
 public:
  explicit ProfileService(RuntimeState* runtime_state);

  static const Profile* FindProfile(const MixerSettings& settings, const std::string& id);
  static Profile* FindProfile(MixerSettings& settings, const std::string& id);
  // The selected profile, else the first; null when there is none.
  static const Profile* ActiveProfile(const MixerSettings& settings);
  // Absolute and normal; empty when there is no profile or its folder is empty.
  static std::filesystem::path ActiveAudioDirectory(const MixerSettings& settings);

  // Editing steps on the caller's settings; they save nothing.
  static bool SetActiveAudioDirectory(MixerSettings* settings, const std::string& audio_dir,
                                      bool* file_cleared);
  // Clears a selected clip or panic clip that lies outside the active folder or no longer
  // exists; only a cleared selected clip sets `file_cleared`.
  static bool ClearSelectionsOutsideActiveRoot(MixerSettings* settings, bool* file_cleared);

  // Updates the profile `id` names, or creates one (a new id is made from the name); either
  // way it becomes the selected profile.
  bool Upsert(const std::string& id, const std::string& name, const std::string& audio_dir,
              ProfileResult* result, ProfileError* error);
  bool Select(const std::string& id, ProfileResult* result, ProfileError* error);
  // Leaves the profile's folder and files on disk alone.
  bool Delete(const std::string& id, ProfileResult* result, ProfileError* error);

 private:
  // Edits the settings in force; an edit refuses by returning an error, which changes nothing.
  using ProfileEdit =
      std::function<std::optional<ProfileError>(MixerSettings& settings, bool* file_cleared)>;

  static bool Validate(const std::string& name, const std::string& audio_dir,
                       ProfileError* error);
  static std::string MakeUniqueProfileId(const MixerSettings& settings, const std::string& name);
  bool Commit(const ProfileEdit& edit, ProfileResult* result, ProfileError* error);

  RuntimeState* runtime_state_;
};

}  // namespace zennic

#include "model/profile_service.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/json_value.h"
#include "support/isolated_user.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class ProfileServiceTest : public ::testing::Test {
 protected:
  ProfileServiceTest()
      : paths_(FillAppPaths(data_.path())), state_(SettingsStore(paths_, {}, {})),
        service_(&state_) {
    EXPECT_TRUE(state_.LoadSettings(nullptr));
  }

  std::string Folder(const std::string& name) const { return (clips_ / name).string(); }

  ProfileResult Upsert(const std::string& id, const std::string& name, const std::string& dir) {
    ProfileResult result;
    ProfileError error;
    EXPECT_TRUE(service_.Upsert(id, name, dir, &result, &error)) << error.message;
    return result;
  }

  ProfileError UpsertFails(const std::string& id, const std::string& name,
                           const std::string& dir) {
    ProfileError error;
    EXPECT_FALSE(service_.Upsert(id, name, dir, nullptr, &error));
    return error;
  }

  std::vector<std::string> SavedProfileNames() {
    JsonValue json;
    EXPECT_TRUE(JsonValue::Parse(testing::ReadFile(paths_.settings_file), &json, nullptr));
    std::vector<std::string> names;
    for (const JsonValue& profile : json.Find("profiles")->array_value) {
      names.push_back(profile.GetString("name", ""));
    }
    return names;
  }

  testing::IsolatedUser user_;
  testing::TempFolder data_;
  testing::TempFolder clips_;
  AppPaths paths_;
  RuntimeState state_;
  ProfileService service_;
};

TEST_F(ProfileServiceTest, CreatingMakesAnIdFromTheNameAndSelectsTheProfile) {
  ProfileResult result = Upsert("", "  My Clips  ", Folder("a/../clips"));
  ASSERT_TRUE(result.active_profile);
  EXPECT_EQ(*result.active_profile, (Profile{"my-clips", "My Clips", Folder("clips")}));
  EXPECT_EQ(result.settings.selected_profile_id, "my-clips");
  EXPECT_EQ(state_.GetSettings(), result.settings);
  EXPECT_EQ(SavedProfileNames(), (std::vector<std::string>{"Default", "My Clips"}));

  EXPECT_EQ(Upsert("", "My-Clips", Folder("other")).active_profile->id, "my-clips-2");
  EXPECT_EQ(Upsert("no-such-id", "Third", Folder("third")).active_profile->id, "third");
}

TEST_F(ProfileServiceTest, NamesAreUniqueWithoutRegardToCase) {
  ProfileError error = UpsertFails("", "default", Folder("x"));
  EXPECT_EQ(error.code, "duplicate_profile_name");
  EXPECT_EQ(error.message, "A profile with that name already exists");

  // Renaming a profile to its own name in another case is no clash.
  ProfileResult renamed = Upsert("default", "DEFAULT", Folder("x"));
  EXPECT_EQ(renamed.active_profile->name, "DEFAULT");
  Upsert("", "Games", Folder("games"));
  EXPECT_EQ(UpsertFails("default", "games", Folder("x")).code, "duplicate_profile_name");
}

TEST_F(ProfileServiceTest, ANameAndAFolderAreRequired) {
  for (auto [name, dir] : {std::pair{"   ", "/x"}, std::pair{"Name", " \t"}}) {
    ProfileError error = UpsertFails("", name, dir);
    EXPECT_EQ(error.code, "path_invalid");
    EXPECT_EQ(error.message, "Profile name and audio_dir are required");
  }
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file)) << "a refusal saves nothing";
}

TEST_F(ProfileServiceTest, SelectingKeepsAClipThatExistsInsideTheFolder) {
  testing::WriteFile(clips_ / "games/boom.wav", "RIFF");
  Upsert("", "Games", Folder("games"));
  ASSERT_TRUE(state_.MutateSettings(
      [&](MixerSettings& s) {
        s.file_path = Folder("games/boom.wav");
        s.panic_file_path = Folder("games/boom.wav");
      },
      false, nullptr));
  std::filesystem::remove(paths_.settings_file);

  ProfileResult result;
  ASSERT_TRUE(service_.Select("games", &result, nullptr));
  EXPECT_FALSE(result.file_cleared);
  EXPECT_EQ(result.settings.file_path, Folder("games/boom.wav"));
  EXPECT_TRUE(std::filesystem::exists(paths_.settings_file)) << "selecting again saves again";
}

TEST_F(ProfileServiceTest, AClipThatIsGoneOrOutsideTheFolderIsCleared) {
  testing::WriteFile(clips_ / "games/boom.wav", "RIFF");
  testing::WriteFile(clips_ / "music/song.wav", "RIFF");
  Upsert("", "Games", Folder("games"));
  Upsert("", "Music", Folder("music"));
  ASSERT_TRUE(state_.MutateSettings([&](MixerSettings& s) { s.file_path = Folder("music/song.wav"); },
                                    false, nullptr));
  ProfileResult result;
  ASSERT_TRUE(service_.Select("games", &result, nullptr));
  EXPECT_TRUE(result.file_cleared);
  EXPECT_EQ(result.settings.file_path, "");

  // A panic clip alone is cleared without the flag.
  ASSERT_TRUE(state_.MutateSettings(
      [&](MixerSettings& s) { s.panic_file_path = Folder("games/deleted.wav"); }, false, nullptr));
  ASSERT_TRUE(service_.Select("games", &result, nullptr));
  EXPECT_FALSE(result.file_cleared);
  EXPECT_EQ(result.settings.panic_file_path, "");
}

TEST_F(ProfileServiceTest, DeletingTheSelectedProfileSelectsTheFirstByName) {
  Upsert("", "beta", Folder("b"));
  Upsert("", "Alpha", Folder("A"));
  EXPECT_EQ(UpsertFails("", "alpha", Folder("a")).code, "duplicate_profile_name");
  MixerSettings settings = state_.GetSettings();
  settings.profiles.push_back({"alpha-lower", "alpha", Folder("a")});
  settings.selected_profile_id = "default";
  ASSERT_TRUE(state_.ReplaceSettings(settings, false, nullptr));

  ProfileResult result;
  ASSERT_TRUE(service_.Delete("default", &result, nullptr));
  EXPECT_EQ(result.settings.selected_profile_id, "alpha");
  EXPECT_EQ(result.active_profile->name, "Alpha");
  EXPECT_EQ(result.settings.profiles.size(), 3u);
}

TEST_F(ProfileServiceTest, DeletingNeedsAnIdAKnownProfileAndAnotherToKeep) {
  ProfileError error;
  EXPECT_FALSE(service_.Delete("default", nullptr, &error));
  EXPECT_EQ(error.code, "cannot_delete_last_profile");
  EXPECT_EQ(error.message, "The last profile cannot be deleted");
  EXPECT_FALSE(service_.Delete("unknown", nullptr, &error));
  EXPECT_EQ(error.code, "cannot_delete_last_profile");

  Upsert("", "Second", Folder("second"));
  EXPECT_FALSE(service_.Delete("unknown", nullptr, &error));
  EXPECT_EQ(error.code, "invalid_profile");
  EXPECT_EQ(error.message, "Profile not found");
  EXPECT_FALSE(service_.Delete("  ", nullptr, &error));
  EXPECT_EQ(error.message, "Profile id is required");
  EXPECT_FALSE(service_.Select("", nullptr, &error));
  EXPECT_EQ(error.message, "Profile id is required");
  EXPECT_FALSE(service_.Select(" second", nullptr, &error));
  EXPECT_EQ(error.message, "Profile not found");
  EXPECT_EQ(state_.GetSettings().profiles.size(), 2u);
}

TEST_F(ProfileServiceTest, AFailedSaveIsReportedAndChangesNothing) {
  std::filesystem::create_directories(paths_.settings_file / "blocker");
  ProfileError error;
  EXPECT_FALSE(service_.Upsert("", "New", Folder("new"), nullptr, &error));
  EXPECT_EQ(error.code, "settings_save_failed");
  EXPECT_EQ(error.message.rfind("MoveFileExW failed with error ", 0), 0u) << error.message;
  EXPECT_EQ(state_.GetSettings().profiles.size(), 1u);

  ProfileService detached(nullptr);
  EXPECT_FALSE(detached.Select("default", nullptr, &error));
  EXPECT_EQ(error.code, "runtime_unavailable");
  EXPECT_EQ(error.message, "Runtime state is not configured");
}

TEST_F(ProfileServiceTest, ConcurrentCreationsAreAllKept) {
  constexpr int kThreads = 20;
  std::vector<std::thread> threads;
  std::vector<int> succeeded(kThreads, 0);
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      std::string name = "Profile " + std::to_string(i);
      succeeded[i] = service_.Upsert("", name, Folder(name), nullptr, nullptr);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(succeeded[i]) << i;
  EXPECT_EQ(state_.GetSettings().profiles.size(), kThreads + 1u);
  EXPECT_EQ(SavedProfileNames().size(), kThreads + 1u);
}

TEST(ProfileLookups, TheActiveFolderFollowsTheSelectionOrTheFirstProfile) {
  testing::IsolatedUser user;
  MixerSettings settings;
  settings.profiles = {{"a", "A", "/clips/a/"}, {"b", "B", "/clips/x/../b"}};
  settings.selected_profile_id = "gone";
  EXPECT_EQ(ProfileService::ActiveAudioDirectory(settings), "/clips/a/");
  settings.selected_profile_id = "b";
  EXPECT_EQ(ProfileService::ActiveAudioDirectory(settings), "/clips/b");
  EXPECT_EQ(ProfileService::FindProfile(settings, "B"), nullptr);
  settings.profiles.clear();
  EXPECT_EQ(ProfileService::ActiveProfile(settings), nullptr);
  EXPECT_EQ(ProfileService::ActiveAudioDirectory(settings), "");
}

TEST(ProfileLookups, SettingTheActiveFolderRepairsTheSelectionAndChecksTheClip) {
  testing::IsolatedUser user;
  testing::TempFolder clips;
  testing::WriteFile(clips / "a/x.wav", "RIFF");
  MixerSettings settings;
  settings.profiles.clear();
  settings.selected_profile_id = "gone";
  settings.file_path = (clips / "a/x.wav").string();
  bool cleared = true;
  EXPECT_FALSE(ProfileService::SetActiveAudioDirectory(&settings, "", &cleared));
  EXPECT_FALSE(cleared);
  ASSERT_TRUE(ProfileService::SetActiveAudioDirectory(&settings, (clips / "a/.").string(),
                                                      &cleared));
  ASSERT_EQ(settings.profiles.size(), 1u);
  EXPECT_EQ(settings.selected_profile_id, "default");
  EXPECT_EQ(settings.profiles[0].audio_dir, (clips / "a/").string());
  EXPECT_FALSE(cleared);
  ASSERT_TRUE(ProfileService::SetActiveAudioDirectory(&settings, (clips / "b").string(),
                                                      &cleared));
  EXPECT_TRUE(cleared);
  EXPECT_EQ(settings.file_path, "");
}

}  // namespace
}  // namespace zennic

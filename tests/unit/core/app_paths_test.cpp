#include "core/app_paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace zennic {
namespace {

TEST(AppPaths, EveryFileSitsInTheNormalisedRoot) {
  AppPaths paths = FillAppPaths("/data/./x/../Ruzerad");
  EXPECT_EQ(paths.root, std::filesystem::path("/data/Ruzerad"));
  EXPECT_EQ(paths.settings_file, std::filesystem::path("/data/Ruzerad/settings.json"));
  EXPECT_EQ(paths.audio_backup_file, std::filesystem::path("/data/Ruzerad/audio_backup.json"));
  EXPECT_EQ(paths.sound_inbox_state_file,
            std::filesystem::path("/data/Ruzerad/sound_inbox_state.json"));
  EXPECT_EQ(paths.logs_folder, std::filesystem::path("/data/Ruzerad/logs"));
  EXPECT_EQ(paths.migration_folder, std::filesystem::path("/data/Ruzerad/migration"));
}

TEST(AppPaths, ResolvedUnderTheXdgDataFolder) {
  const char* saved_home = std::getenv("HOME");
  std::string home = saved_home ? saved_home : "";
  AppPaths paths;
  std::string error;

  ::setenv("XDG_DATA_HOME", "/xdg/data", 1);
  ASSERT_TRUE(ResolveAppPaths("Ruzerad", &paths, &error));
  EXPECT_EQ(paths.root, std::filesystem::path("/xdg/data/Ruzerad"));

  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/player", 1);
  ASSERT_TRUE(ResolveAppPaths("Ruzerad", &paths, &error));
  EXPECT_EQ(paths.root, std::filesystem::path("/home/player/.local/share/Ruzerad"));

  ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
  ASSERT_TRUE(ResolveAppPaths("Ruzerad", &paths, &error));
  EXPECT_EQ(paths.root, std::filesystem::path("/home/player/.local/share/Ruzerad"));

  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("HOME");
  AppPaths untouched = FillAppPaths("/kept");
  EXPECT_FALSE(ResolveAppPaths("Ruzerad", &untouched, &error));
  EXPECT_EQ(error, "SHGetKnownFolderPath(FOLDERID_LocalAppData) failed");
  EXPECT_EQ(untouched.root, std::filesystem::path("/kept"));

  EXPECT_FALSE(ResolveAppPaths("Ruzerad", nullptr, &error));
  EXPECT_EQ(error, "AppPaths output pointer is null");
  if (saved_home) ::setenv("HOME", home.c_str(), 1);
}

TEST(AppPaths, LegacyCandidatesAreDistinct) {
  auto both = LegacySettingsCandidates("/opt/app", "/home/player");
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0], std::filesystem::path("/opt/app/data/mixer_settings.json"));
  EXPECT_EQ(both[1], std::filesystem::path("/home/player/data/mixer_settings.json"));
  EXPECT_EQ(LegacySettingsCandidates("/opt/app", "/opt/x/../app/").size(), 1u);
}

}  // namespace
}  // namespace zennic

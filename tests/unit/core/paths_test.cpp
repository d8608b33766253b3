#include "core/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <optional>

#include "support/temp_folder.h"

namespace zennic {
namespace {

using testing::TempFolder;

TEST(Paths, AbsoluteNormalPathResolvesDotsLexically) {
  EXPECT_EQ(AbsoluteNormalPath(""), std::filesystem::path());
  EXPECT_EQ(AbsoluteNormalPath("/a/./b//c/../d"), std::filesystem::path("/a/b/d"));
  EXPECT_EQ(AbsoluteNormalPath("/a/b/"), std::filesystem::path("/a/b/"));
  EXPECT_EQ(AbsoluteNormalPath("rel"), std::filesystem::current_path() / "rel");
}

TEST(Paths, ContainmentFollowsTheFileSystemsRules) {
  EXPECT_TRUE(IsPathInsideRoot("/sounds/clip.wav", "/sounds"));
  EXPECT_TRUE(IsPathInsideRoot("/sounds", "/sounds"));
  EXPECT_TRUE(IsPathInsideRoot("/sounds/", "/sounds"));
  EXPECT_TRUE(IsPathInsideRoot("/a/../sounds/x", "/sounds"));
  EXPECT_FALSE(IsPathInsideRoot("/soundsExtra/clip.wav", "/sounds"));
  EXPECT_FALSE(IsPathInsideRoot("/sounds/../other/clip.wav", "/sounds"));
  EXPECT_FALSE(IsPathInsideRoot("/x", ""));
  // Case and backslashes are ordinary characters here: a sibling must not pass.
  EXPECT_FALSE(IsPathInsideRoot("/Sounds/clip.wav", "/sounds"));
  EXPECT_FALSE(IsPathInsideRoot("/sounds\\..\\other", "/sound"));
  // A root with a trailing separator still contains what lies below it.
  EXPECT_TRUE(IsPathInsideRoot("/sounds/clip.wav", "/sounds/"));
  EXPECT_TRUE(IsPathInsideRoot("/media/clip.wav", "/"));
  EXPECT_TRUE(IsPathInsideRoot("/", "/"));
}

TEST(Paths, UniqueNamesCountUpAndReportExhaustion) {
  TempFolder folder;
  EXPECT_EQ(MakeUniqueFilePath(folder / "clip.wav"), folder / "clip.wav");
  testing::WriteFile(folder / "clip.wav", "");
  testing::WriteFile(folder / "clip-2.wav", "");
  EXPECT_EQ(MakeUniqueFilePath(folder / "clip.wav"), folder / "clip-3.wav");
  testing::WriteFile(folder / "notes", "");
  EXPECT_EQ(MakeUniqueFilePath(folder / "notes"), folder / "notes-2");
  testing::WriteFile(folder / "a.tar.gz", "");
  EXPECT_EQ(MakeUniqueFilePath(folder / "a.tar.gz"), folder / "a.tar-2.gz");

  testing::WriteFile(folder / "full.wav", "");
  for (int n = 2; n <= 999; ++n) testing::WriteFile(folder / ("full-" + std::to_string(n) + ".wav"), "");
  EXPECT_TRUE(MakeUniqueFilePath(folder / "full.wav").empty());
}

class PathsWithEnvironment : public ::testing::Test {
 protected:
  void SetVariable(const char* name, const std::string& value) {
    Remember(name);
    ::setenv(name, value.c_str(), 1);
  }
  void UnsetVariable(const char* name) {
    Remember(name);
    ::unsetenv(name);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

 private:
  void Remember(const char* name) {
    if (saved_.count(name)) return;
    const char* value = std::getenv(name);
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(PathsWithEnvironment, SoundsFolderLivesInDocuments) {
  TempFolder home;
  SetVariable("HOME", home.path().string());
  SetVariable("XDG_CONFIG_HOME", (home / "config").string());
  EXPECT_EQ(DefaultSoundsDirectory(), home / "Documents/Ruzerad/Sounds");

  testing::WriteFile(home / "config/user-dirs.dirs",
                     "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                     "XDG_MUSIC_DIR=\"/srv/music\"\n");
  EXPECT_EQ(DefaultSoundsDirectory(), home / "Docs/Ruzerad/Sounds");
  EXPECT_EQ(FallbackBaseDirectory(), std::filesystem::path("/srv/music"));

  UnsetVariable("HOME");
  UnsetVariable("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultSoundsDirectory(), std::filesystem::current_path() / "Ruzerad/Sounds");
}

}  // namespace
}  // namespace zennic

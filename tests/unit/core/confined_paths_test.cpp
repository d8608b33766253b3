// Reaching a path below a root through opened folders: a link that stays inside is followed
// once, anything that leads out is refused, and a folder once opened stays the one checked.

#include "core/confined_paths.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(ConfinedPaths, OnlyWhatLiesInsideTheRootIsReached) {
  TempFolder folder;
  const fs::path root = folder / "root";
  const fs::path outside = folder / "outside";
  testing::WriteFile(root / "Sub/a.wav", "inside");
  testing::WriteFile(outside / "a.wav", "outside");
  fs::create_directory_symlink(root / "Sub", root / "in");
  fs::create_directory_symlink(outside, root / "out");
  fs::create_symlink(root / "Sub/a.wav", root / "a-link.wav");
  fs::create_symlink(outside / "a.wav", root / "leak.wav");
  for (const auto& [path, expected] : std::vector<std::pair<fs::path, int>>{
           {root / "Sub/a.wav", 0},
           {root / "in/a.wav", 0},
           {root / "a-link.wav", 0},
           {root / "out/a.wav", ELOOP},
           {root / "leak.wav", ELOOP},
           {root / "missing.wav", ENOENT},
           {root / "Sub", EISDIR},
       }) {
    OpenFile file;
    EXPECT_EQ(OpenFileInside(root, path, &file), expected) << path;
    std::string bytes;
    if (expected == 0) {
      EXPECT_EQ(file.ReadAll(&bytes), 0);
      EXPECT_EQ(bytes, "inside") << path;
    }
  }
  ConfinedFolder made;
  EXPECT_EQ(CreateFolderInside(root, root / "out/new", &made), ELOOP);
  EXPECT_FALSE(fs::exists(outside / "new"));

  // The folder is swapped for a link once it was opened: what is done happens where it was.
  FilePlace place;
  ASSERT_EQ(OpenParentInside(root, root / "Sub/a.wav", &place), 0);
  fs::rename(root / "Sub", root / "Sub.real");
  fs::create_directory_symlink(outside, root / "Sub");
  EXPECT_EQ(place.folder.RemoveFile(place.name), 0);
  EXPECT_FALSE(fs::exists(root / "Sub.real/a.wav"));
  EXPECT_TRUE(fs::exists(outside / "a.wav"));
  FilePlace again;
  EXPECT_EQ(OpenParentInside(root, root / "Sub/a.wav", &again), ELOOP);
}

}  // namespace
}  // namespace zennic

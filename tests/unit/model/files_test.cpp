#include "model/files.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/temp_folder.h"

namespace zennic {
namespace {

using testing::TempFolder;

TEST(Files, ReadGivesTheBytesUnchanged) {
  TempFolder folder;
  std::string bytes = std::string("\xEF\xBB\xBFline\r\n", 9) + std::string(1, '\0') + "end";
  testing::WriteFile(folder / "a.txt", bytes);
  std::string text;
  ASSERT_TRUE(ReadTextFile(folder / "a.txt", &text, nullptr));
  EXPECT_EQ(text, bytes);

  testing::WriteFile(folder / "empty.txt", "");
  text = "stale";
  ASSERT_TRUE(ReadTextFile(folder / "empty.txt", &text, nullptr));
  EXPECT_EQ(text, "");
}

TEST(Files, ReadFailuresNameTheProblem) {
  TempFolder folder;
  std::string error;
  EXPECT_FALSE(ReadTextFile(folder / "a.txt", nullptr, &error));
  EXPECT_EQ(error, "ReadText output buffer is null");
  std::string text;
  EXPECT_FALSE(ReadTextFile(folder / "missing.txt", &text, &error));
  EXPECT_EQ(error, "Unable to open file for reading: " + (folder / "missing.txt").string());
}

TEST(Files, AtomicWriteCreatesTheFolderAndLeavesNoTemporaryFile) {
  TempFolder folder;
  std::filesystem::path target = folder / "new/deeper/settings.json";
  ASSERT_TRUE(WriteTextFileAtomic(target, "{\n}", nullptr));
  EXPECT_EQ(testing::ReadFile(target), "{\n}");
  EXPECT_FALSE(std::filesystem::exists(folder / "new/deeper/settings.json.tmp"));

  ASSERT_TRUE(WriteTextFileAtomic(target, "second", nullptr));
  EXPECT_EQ(testing::ReadFile(target), "second");
}

TEST(Files, FailedAtomicWriteLeavesTheTargetUntouched) {
  // A folder in the target's place makes the rename fail, also for root.
  TempFolder folder;
  std::filesystem::path target = folder / "settings.json";
  std::filesystem::create_directories(target);  // a folder where the file should go
  testing::WriteFile(target / "keep", "kept");
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomic(target, "new", &error));
  EXPECT_EQ(error.rfind("MoveFileExW failed with error ", 0), 0u) << error;
  EXPECT_NE(error.find(" for " + target.string()), std::string::npos);
  EXPECT_EQ(testing::ReadFile(target / "keep"), "kept");
  EXPECT_FALSE(std::filesystem::exists(folder / "settings.json.tmp"));
}

TEST(Files, UnwritableTemporaryFileIsReported) {
  TempFolder folder;
  std::filesystem::path target = folder / "settings.json";
  std::filesystem::create_directories(folder / "settings.json.tmp");
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomic(target, "x", &error));
  EXPECT_EQ(error, "Unable to open temp file for writing: " + target.string() + ".tmp");
}

TEST(Files, FolderCreation) {
  TempFolder folder;
  EXPECT_TRUE(CreateDirectories("", nullptr));
  EXPECT_TRUE(CreateDirectories(folder.path(), nullptr));
  EXPECT_TRUE(CreateDirectories(folder / "a/b/", nullptr));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a/b"));

  testing::WriteFile(folder / "file", "x");
  std::string error;
  EXPECT_FALSE(CreateDirectories(folder / "file/sub", &error));
  EXPECT_EQ(error.rfind("Failed to create directory: ", 0), 0u);
  EXPECT_EQ(error.find((folder / "file").string()), std::string::npos) << "no path in the message";

  ASSERT_TRUE(EnsureAudioFolderLayout(folder / "Sounds", nullptr));
  for (const char* category : {"Comedy", "Movies", "Music", "Games"}) {
    EXPECT_TRUE(std::filesystem::is_directory(folder / "Sounds" / category)) << category;
  }
  EXPECT_TRUE(EnsureParentDirectory("plainname.txt", nullptr));
}

TEST(Files, FileTimesCountFrom1601InHundredNanoseconds) {
  using namespace std::chrono;
  // 2024-01-01T00:00:00Z is 133,485,408,000,000,000 ticks after 1601-01-01.
  sys_seconds new_year = sys_days(year(2024) / January / day(1));
  EXPECT_EQ(FileTimeToTicks(file_clock::from_sys(new_year)), 133'485'408'000'000'000);
  EXPECT_EQ(FileTimeToTicks(file_clock::from_sys(new_year + nanoseconds(250))),
            133'485'408'000'000'002);
  EXPECT_EQ(FileTimeToTicks(file_clock::from_sys(sys_seconds{})), 116'444'736'000'000'000);
}

}  // namespace
}  // namespace zennic

#include "core/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/read_only_folder.h"
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

  // Neither is sized by the length it claims: a folder reports one, a sparse file costs none.
  std::filesystem::create_directory(folder / "folder.json");
  EXPECT_FALSE(ReadTextFile(folder / "folder.json", &text, &error));
  EXPECT_EQ(error, "Not a regular file: " + (folder / "folder.json").string());
  std::filesystem::path sparse = folder / "sparse.json";
  testing::WriteFile(sparse, "");
  std::filesystem::resize_file(sparse, 3ull << 30);
  EXPECT_FALSE(ReadTextFile(sparse, &text, &error));
  EXPECT_EQ(error, "File is too large to read: " + sparse.string());
}

// The names in a folder, so a test can see that no work file was left behind.
std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Files, AtomicWriteCreatesTheFolderAndLeavesNoWorkFile) {
  TempFolder folder;
  std::filesystem::path target = folder / "new/deeper/settings.json";
  ASSERT_TRUE(WriteTextFileAtomic(target, "{\n}", nullptr));
  EXPECT_EQ(testing::ReadFile(target), "{\n}");
  ASSERT_TRUE(WriteTextFileAtomic(target, "second", nullptr));
  EXPECT_EQ(testing::ReadFile(target), "second");
  EXPECT_EQ(Names(folder / "new/deeper"), std::vector<std::string>{"settings.json"});
}

TEST(Files, FailedAtomicWritesLeaveTheTargetUntouched) {
  TempFolder folder;
  // A folder in the target's place makes the publishing rename fail, also for root.
  std::filesystem::path blocked = folder / "blocked.json";
  std::filesystem::create_directories(blocked);
  testing::WriteFile(blocked / "keep", "kept");
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomic(blocked, "new", &error));
  EXPECT_EQ(error.rfind("MoveFileExW failed with error ", 0), 0u) << error;
  EXPECT_NE(error.find(" for " + blocked.string()), std::string::npos);
  EXPECT_EQ(testing::ReadFile(blocked / "keep"), "kept");

  // A folder that takes no new entries: the work file cannot even be made.
  std::filesystem::path target = folder / "settings.json";
  testing::WriteFile(target, "old");
  {
    testing::ReadOnlyFolder read_only(folder.path());
    EXPECT_FALSE(WriteTextFileAtomic(target, "new", &error));
  }
  EXPECT_EQ(error.rfind("Unable to open temp file for writing: " + target.string() + ".zennic-", 0),
            0u)
      << error;
  EXPECT_EQ(testing::ReadFile(target), "old");
  EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"blocked.json", "settings.json"}));
}

TEST(Files, WorkFilesAreNeverSharedAndPublishReplacesOnlyWhenAsked) {
  TempFolder folder;
  const std::filesystem::path target = folder / "song.wav";
  std::filesystem::path first;
  std::filesystem::path second;
  ASSERT_TRUE(CreateExclusiveWorkFile(target, &first, nullptr));
  ASSERT_TRUE(CreateExclusiveWorkFile(target, &second, nullptr));
  EXPECT_NE(first, second);
  for (const auto& work : {first, second}) {
    EXPECT_EQ(work.parent_path(), folder.path());
    EXPECT_EQ(work.extension(), ".tmp");
    EXPECT_EQ(work.filename().string().rfind("song.wav.zennic-", 0), 0u) << work;
  }
  testing::WriteFile(first, "first");
  testing::WriteFile(second, "second");

  ASSERT_TRUE(PublishWorkFile(first, target, /*replace_existing=*/false, nullptr));
  std::string error;
  int error_number = 0;
  EXPECT_FALSE(PublishWorkFile(second, target, /*replace_existing=*/false, &error, &error_number));
  EXPECT_EQ(error_number, EEXIST);
  EXPECT_EQ(error, std::strerror(EEXIST));
  EXPECT_EQ(testing::ReadFile(target), "first");
  EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"song.wav"}) << "the loser is removed";

  ASSERT_TRUE(CreateExclusiveWorkFile(target, &second, nullptr));
  testing::WriteFile(second, "second");
  ASSERT_TRUE(PublishWorkFile(second, target, /*replace_existing=*/true, nullptr));
  EXPECT_EQ(testing::ReadFile(target), "second");
}

// Before a work file is made, those of the folder that no running process writes go: left by a
// run that was killed part-way, they would otherwise stay for ever.
TEST(Files, WorkFilesNoRunningProcessWritesAreSweptBeforeTheNextOne) {
  TempFolder folder;
  // No system gives out process ids this high; process 1 always runs.
  const std::vector<std::string> abandoned = {"a.wav.zennic-2147483646-0123456789ab.tmp",
                                              "settings.json.zennic-0123456789ab.tmp"};
  const std::vector<std::string> kept = {
      "a.wav.zennic-1-0123456789ab.tmp",
      "b.wav.zennic-" + std::to_string(::getpid()) + "-0123456789ab.tmp",
      "notes.zennic-2147483646-short.tmp", "a.wav"};
  for (const auto& names : {abandoned, kept}) {
    for (const std::string& name : names) testing::WriteFile(folder / name, "x");
  }
  ConfinedFolder opened;
  ASSERT_EQ(ConfinedFolder::Open(folder.path(), &opened), 0);
  WorkFile work;
  ASSERT_TRUE(CreateExclusiveWorkFile(opened, "c.wav", &work, nullptr));
  std::vector<std::string> expected = kept;
  expected.push_back(work.name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(folder.path()), expected);
}

TEST(Files, ConcurrentAtomicWritesOfOneFileEachLandWhole) {
  TempFolder folder;
  const std::filesystem::path target = folder / "ledger.json";
  std::vector<std::string> texts;
  for (char c = 'a'; c < 'i'; ++c) texts.push_back(std::string(200000, c));
  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (const std::string& text : texts) {
    writers.emplace_back([&, text] {
      for (int i = 0; i < 20; ++i) {
        if (!WriteTextFileAtomic(target, text, nullptr)) ++failures;
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_NE(std::find(texts.begin(), texts.end(), testing::ReadFile(target)), texts.end())
      << "one writer's text, whole";
  EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"ledger.json"});
}

TEST(Files, DamagedFilesSetAsideAreAllKept) {
  TempFolder folder;
  std::vector<std::string> kept;
  for (const char* text : {"first", "second", "third"}) {
    testing::WriteFile(folder / "backup.json", text);
    std::filesystem::path aside;
    ASSERT_TRUE(MoveDamagedFileAside(folder / "backup.json", &aside, nullptr)) << text;
    kept.push_back(aside.filename().string() + "=" + testing::ReadFile(aside));
  }
  EXPECT_EQ(kept, (std::vector<std::string>{"backup.json.corrupted=first",
                                            "backup.json-2.corrupted=second",
                                            "backup.json-3.corrupted=third"}));
  std::string error;
  EXPECT_FALSE(MoveDamagedFileAside(folder / "backup.json", nullptr, &error));
  EXPECT_EQ(error, std::strerror(ENOENT));
  EXPECT_EQ(Names(folder.path()).size(), 3u);
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

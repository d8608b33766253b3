#include "core/app_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace zennic {
namespace {

const std::regex kLine(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] \[AppHost\] x\n)");

TEST(AppLog, LineGoesToTheFileAndTheDebuggerOutput) {
  testing::TempFolder folder;
  ::testing::internal::CaptureStderr();
  WriteLogLine(folder / "logs", "AppHost", "x");
  std::string debug_output = ::testing::internal::GetCapturedStderr();
  std::string file = testing::ReadFile(folder / "logs/app.log");
  EXPECT_TRUE(std::regex_match(file, kLine)) << file;
  EXPECT_EQ(debug_output, file);

  WriteLogLine(folder / "logs", "Tag", "caf\xC3\xA9");
  EXPECT_EQ(testing::ReadFile(folder / "logs/app.log").substr(file.size() + 22),
            "[Tag] caf\xC3\xA9\n");
}

TEST(AppLog, EmptyFolderWritesOnlyTheDebuggerOutputAndBadFoldersAreIgnored) {
  testing::TempFolder folder;
  ::testing::internal::CaptureStderr();
  WriteLogLine("", "AppHost", "x");
  testing::WriteFile(folder / "blocker", "");
  WriteLogLine(folder / "blocker", "AppHost", "x");  // a file where the folder should be
  std::string debug_output = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(debug_output.find("] [AppHost] x\n"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(AppLog, ConcurrentWritersKeepLinesWhole) {
  testing::TempFolder folder;
  ::testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) WriteLogLine(folder.path(), "T" + std::to_string(t), std::string(200, 'a' + t));
    });
  }
  for (auto& thread : threads) thread.join();
  ::testing::internal::GetCapturedStderr();
  std::string file = testing::ReadFile(folder / "app.log");
  std::regex line(R"(\[[0-9: -]{19}\] \[T(\d)\] ([a-h]{200})\n)");
  int count = 0;
  for (auto it = std::sregex_iterator(file.begin(), file.end(), line); it != std::sregex_iterator(); ++it) {
    ++count;
    int t = std::stoi((*it)[1]);
    EXPECT_EQ((*it)[2].str(), std::string(200, 'a' + t));
  }
  EXPECT_EQ(count, 800);
  EXPECT_EQ(file.size(), 800u * (22 + 5 + 200 + 1));
}

}  // namespace
}  // namespace zennic

// The built program with and without a display: headless it runs on without global hotkeys
// and says why, once.

#include <gtest/gtest.h>
#include <signal.h>

#include "support/program_process.h"
#include "support/temp_folder.h"
#include "support/test_environment.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::ProgramProcess;
using testing::TempFolder;

constexpr char kNoHotkeys[] = "[KeyBindingService] Global hotkeys are unavailable: ";

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string RunUntilStartedAndExit(ProgramProcess::Options options, const TempFolder& folder) {
  std::filesystem::create_directories(folder / "out");
  ProgramProcess program(std::move(options), folder / "out");
  EXPECT_TRUE(program.Start());
  EXPECT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(10s), 0) << program.Stderr();
  return testing::ReadFile(folder / "data/Ruzerad/logs/app.log");
}

TEST(Hotkeys, WithoutADisplayTheProgramRunsAndLogsWhyOnce) {
  TempFolder folder;
  ProgramProcess::Options options = testing::IsolatedProgramOptions(folder.path());
  std::string log = RunUntilStartedAndExit(options, folder);
  EXPECT_EQ(CountOf(log, std::string(kNoHotkeys) + "no X display is set (DISPLAY is empty)"), 1u)
      << log;
}

TEST(Hotkeys, AnUnreachableDisplayIsNamedInTheLog) {
  TempFolder folder;
  ProgramProcess::Options options = testing::IsolatedProgramOptions(folder.path());
  options.set_environment["DISPLAY"] = ":no-such-display";
  std::string log = RunUntilStartedAndExit(options, folder);
  EXPECT_EQ(CountOf(log, std::string(kNoHotkeys) +
                             "the X display \":no-such-display\" cannot be opened"),
            1u)
      << log;
}

TEST(Hotkeys, WithTheTestDisplayHotkeysAreOn) {
  TempFolder folder;
  ProgramProcess::Options options = testing::IsolatedProgramOptions(folder.path());
  testing::ShowOnTestDisplay(&options, folder.path());
  std::string log = RunUntilStartedAndExit(options, folder);
  EXPECT_EQ(CountOf(log, kNoHotkeys), 0u) << log;
}

}  // namespace
}  // namespace zennic

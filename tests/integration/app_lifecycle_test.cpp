// The built program as a user starts it: data folder, log, single instance, signals.

#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <vector>

#include "support/program_process.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::ProgramProcess;
using testing::TempFolder;

TEST(AppLifecycle, StartsIntoItsDataFolderAndLogs) {
  TempFolder folder;
  std::filesystem::create_directories(folder / "out");
  ProgramProcess program(testing::IsolatedProgramOptions(folder.path()), folder / "out");
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();

  std::filesystem::path root = folder / "data/Ruzerad";
  EXPECT_TRUE(std::filesystem::is_directory(root / "migration"));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(10s), 0);

  // Read once the program has ended: services log from their own threads, so a line may still
  // be on its way while the program runs.
  std::string log = testing::ReadFile(root / "logs/app.log");
  EXPECT_NE(log.find("[AppHost] Shutting down"), std::string::npos);
  std::regex line(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] \[[A-Za-z]+\] [^\n]*\n)");
  ASSERT_FALSE(log.empty());
  std::string rest = log;
  for (std::smatch match; std::regex_search(rest, match, line, std::regex_constants::match_continuous);) {
    rest = match.suffix();
  }
  EXPECT_EQ(rest, "") << "every log line has the form [date time] [Tag] message:\n" << log;
  EXPECT_NE(program.Stderr().find(log.substr(0, log.find('\n'))), std::string::npos)
      << "log lines go to stderr too";
  // The welcome and the start-up notice, printed: they name the address, and no icon, as there
  // is none without a desktop.
  EXPECT_NE(program.Stdout().find("http://127.0.0.1:"), std::string::npos) << program.Stdout();
  EXPECT_EQ(program.Stdout().find("tray"), std::string::npos) << program.Stdout();
}

TEST(AppLifecycle, OneInstancePerSessionAndAKilledOneLeavesNoLock) {
  TempFolder folder;
  std::filesystem::create_directories(folder / "first");
  std::filesystem::create_directories(folder / "second");
  std::filesystem::create_directories(folder / "third");
  ProgramProcess first(testing::IsolatedProgramOptions(folder.path()), folder / "first");
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(first.WaitForStderr("Ruzerad started", 10s));

  std::smatch address;
  std::string first_log = first.Stderr();
  ASSERT_TRUE(std::regex_search(first_log, address, std::regex(R"(Web client listening at (\S+))")));

  ProgramProcess second(testing::IsolatedProgramOptions(folder.path()), folder / "second");
  ASSERT_TRUE(second.Start());
  EXPECT_EQ(second.WaitForExit(10s), 1);
  EXPECT_NE(second.Stderr().find("Another Ruzerad instance is already running at " + address[1].str()),
            std::string::npos)
      << second.Stderr();
  EXPECT_TRUE(first.Running());

  first.Signal(SIGKILL);
  ASSERT_TRUE(first.WaitForExit(10s).has_value());
  ProgramProcess third(testing::IsolatedProgramOptions(folder.path()), folder / "third");
  ASSERT_TRUE(third.Start());
  EXPECT_TRUE(third.WaitForStderr("Ruzerad started", 10s)) << third.Stderr();
  third.Signal(SIGINT);
  EXPECT_EQ(third.WaitForExit(10s), 0);
}

// A link planted where the lock file goes never has the address written through it: in the
// session's runtime folder the start refuses it, and a runtime folder others may write is not
// used at all (the lock goes to the data folder).
TEST(AppLifecycle, ALockFileThatIsNotPlainlyTheUsersOwnIsNeverWrittenThrough) {
  struct Case {
    const char* what;
    bool runtime_folder_shared;
    bool hard_link;  // else a symbolic link
  } cases[] = {
      {"a symbolic link in the runtime folder", false, false},
      {"a second name of a file in the runtime folder", false, true},
      {"a symbolic link in a runtime folder others may write", true, false},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "out");
    ProgramProcess::Options options = testing::IsolatedProgramOptions(folder.path());
    if (c.runtime_folder_shared) {
      std::filesystem::permissions(folder / "run", std::filesystem::perms::all);
    }
    std::filesystem::path target = folder / "notes.txt";
    testing::WriteFile(target, "the user's own notes\n");
    std::filesystem::path planted = folder / "run/Local-RuzeradNativeSingleInstance.lock";
    c.hard_link ? std::filesystem::create_hard_link(target, planted)
                : std::filesystem::create_symlink(target, planted);

    ProgramProcess program(options, folder / "out");
    ASSERT_TRUE(program.Start());
    if (c.runtime_folder_shared) {
      EXPECT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << c.what << program.Stderr();
      EXPECT_EQ(testing::ReadFile(folder / "data/Ruzerad/Local-RuzeradNativeSingleInstance.lock")
                    .rfind("http://127.0.0.1:", 0),
                0u)
          << c.what;
      program.Signal(SIGTERM);
      EXPECT_EQ(program.WaitForExit(10s), 0) << c.what;
    } else {
      EXPECT_EQ(program.WaitForExit(10s), 1) << c.what;
      EXPECT_NE(program.Stderr().find(planted.string()), std::string::npos)
          << c.what << ": " << program.Stderr();
    }
    EXPECT_EQ(testing::ReadFile(target), "the user's own notes\n") << c.what;
  }
}

TEST(AppLifecycle, HelpAndVersionAnswerAndCreateNothing) {
  struct Case {
    std::vector<std::string> arguments;
    int exit_code;
    std::string printed;
  };
  for (const Case& c : std::vector<Case>{{{"--help"}, 0, "Usage: ruzerad"},
                                         {{"--version"}, 0, "Ruzerad 1.0.4\n"},
                                         {{"--verbose"}, 2, "unexpected argument \"--verbose\""}}) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "out");
    ProgramProcess::Options options = testing::IsolatedProgramOptions(folder.path());
    options.arguments = c.arguments;
    ProgramProcess program(options, folder / "out");
    ASSERT_TRUE(program.Start());
    EXPECT_EQ(program.WaitForExit(10s), c.exit_code) << c.arguments[0];
    EXPECT_NE((program.Stdout() + program.Stderr()).find(c.printed), std::string::npos)
        << program.Stdout() << program.Stderr();
    // Neither the data folder, nor the sounds folder in the home, nor the instance lock.
    EXPECT_FALSE(std::filesystem::exists(folder / "data")) << c.arguments[0];
    EXPECT_FALSE(std::filesystem::exists(folder / "home")) << c.arguments[0];
    EXPECT_TRUE(std::filesystem::is_empty(folder / "run")) << c.arguments[0];
  }
}

TEST(AppLifecycle, WithoutAHomeTheDataFolderSitsBesideTheExecutable) {
  TempFolder folder;
  std::filesystem::create_directories(folder / "bin");
  std::filesystem::create_directories(folder / "out");
  std::filesystem::copy_file(testing::ProgramPath(), folder / "bin/ruzerad");
  std::filesystem::permissions(folder / "bin/ruzerad", std::filesystem::perms::owner_all);

  ProgramProcess::Options options;
  options.executable = folder / "bin/ruzerad";
  options.unset_environment = {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "DISPLAY"};
  // Without a home, the default Sounds folder falls back to the working folder.
  options.working_folder = folder.path();
  ProgramProcess program(options, folder / "out");
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();
  EXPECT_TRUE(std::filesystem::exists(folder / "bin/DurevodIvov/logs/app.log"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "bin/DurevodIvov/migration"));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(10s), 0);
}

TEST(AppLifecycle, AnUncreatableDataFolderEndsStartUpWithItsReason) {
  TempFolder folder;
  std::filesystem::create_directories(folder / "out");
  testing::WriteFile(folder / "data", "a file where the data folder should be");
  ProgramProcess program(testing::IsolatedProgramOptions(folder.path()), folder / "out");
  ASSERT_TRUE(program.Start());
  EXPECT_EQ(program.WaitForExit(10s), 1);
  EXPECT_NE(program.Stderr().find("Failed to create directory: "), std::string::npos)
      << program.Stderr();
}

}  // namespace
}  // namespace zennic

// The built program puts back the Windows audio defaults that a cable session left changed: at
// the next start after a run that was killed, and when it exits.

#include <gtest/gtest.h>
#include <signal.h>

#include "support/eventually.h"
#include "support/private_audio_server.h"
#include "support/program_process.h"
#include "support/temp_folder.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::PrivateAudioServer;
using testing::ProgramProcess;
using testing::TempFolder;

class AudioRecovery : public ::testing::Test {
 protected:
  AudioRecovery() {
    for (const char* name : {"first", "second"}) std::filesystem::create_directories(folder / name);
  }

  std::filesystem::path BackupPath() const { return folder / "data/Ruzerad/audio_backup.json"; }

  // What the mixer start does: the session the program would have begun.
  void BeginSession() {
    WindowsAudioManager manager(BackupPath());
    std::string error;
    ASSERT_TRUE(manager.BeginCableSession("Headphones (Virtual)", "", "", nullptr, &error))
        << error;
    ASSERT_EQ(server.DefaultSource(), "cable_output");
    ASSERT_EQ(server.DefaultSink(), "headphones");
  }

  bool SessionActive() {
    WindowsAudioManager manager(BackupPath());
    return manager.HasActiveSession();
  }

  PrivateAudioServer server;
  TempFolder folder;
};

TEST_F(AudioRecovery, ASessionLeftByAKilledRunIsRestoredAtTheNextStart) {
  ProgramProcess killed(testing::IsolatedProgramOptions(folder.path()), folder / "first");
  ASSERT_TRUE(killed.Start());
  ASSERT_TRUE(killed.WaitForStderr("Ruzerad started", 10s)) << killed.Stderr();
  BeginSession();
  killed.Signal(SIGKILL);
  ASSERT_TRUE(killed.WaitForExit(10s).has_value());
  EXPECT_EQ(server.DefaultSource(), "cable_output") << "nobody restored the defaults";

  ProgramProcess next(testing::IsolatedProgramOptions(folder.path()), folder / "second");
  ASSERT_TRUE(next.Start());
  ASSERT_TRUE(next.WaitForStderr("Ruzerad started", 10s)) << next.Stderr();
  // The question follows the logged start; without a terminal it is answered at once.
  EXPECT_TRUE(testing::Eventually([&] { return !SessionActive(); }));
  EXPECT_NE(next.Stderr().find("Output: Speakers (Virtual) Input: Microphone (Virtual) Yes (no terminal to ask on)"),
            std::string::npos)
      << next.Stderr();
  EXPECT_EQ(server.DefaultSource(), "test_microphone");
  EXPECT_EQ(server.DefaultSink(), "speakers");
  next.Signal(SIGTERM);
  EXPECT_EQ(next.WaitForExit(10s), 0);
}

TEST_F(AudioRecovery, ASessionStillRecordedAtExitIsRestored) {
  ProgramProcess program(testing::IsolatedProgramOptions(folder.path()), folder / "first");
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();
  BeginSession();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(10s), 0);
  EXPECT_EQ(server.DefaultSource(), "test_microphone");
  EXPECT_EQ(server.DefaultSink(), "speakers");
  EXPECT_FALSE(SessionActive());
}

TEST_F(AudioRecovery, ASessionWithoutSavedNamesIsRecoveredAsUnknownDevices) {
  testing::WriteFile(BackupPath(), R"({"session_active": true})");
  ProgramProcess program(testing::IsolatedProgramOptions(folder.path()), folder / "first");
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();
  EXPECT_TRUE(testing::Eventually([&] { return !SessionActive(); }));
  EXPECT_NE(program.Stderr().find("Output: Unknown Input: Unknown Yes (no terminal to ask on)"), std::string::npos)
      << program.Stderr();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(10s), 0);
}

TEST_F(AudioRecovery, WithoutAnAudioServerTheProgramRunsAndSaysWhy) {
  ProgramProcess::Options options = testing::IsolatedProgramOptions(folder.path());
  options.set_environment["PULSE_SERVER"] = "unix:" + (folder / "no-server").string();
  ProgramProcess program(options, folder / "first");
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();
  EXPECT_NE(program.Stderr().find("Windows audio route monitoring could not start: "
                                  "MMDeviceEnumerator creation failed while starting Windows "
                                  "audio monitoring"),
            std::string::npos)
      << program.Stderr();
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(10s), 0);
}

}  // namespace
}  // namespace zennic

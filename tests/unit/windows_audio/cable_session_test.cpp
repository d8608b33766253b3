// Beginning a cable session and rolling it back.

#include "windows_audio_fixture.h"

namespace zennic {
namespace {

using CableSessionTest = WindowsAudioTest;

constexpr char kSuccessNotice[] =
    "Windows audio defaults were configured for Ruzerad and will be restored when the mixer stops.";
constexpr char kUnsafeStart[] =
    "Windows audio is still using a Ruzerad or VB-CABLE route. Use Restore My Sound before "
    "starting again.";

TEST_F(CableSessionTest, BeginWritesTheBackupThenMakesTheCableAndMonitorTheDefaults) {
  // The backup must be complete on disk before the first default changes.
  bool backup_seen_before_change = false;
  EventHook check_backup(world, [&] {
    if (world.SetCalls().size() == 1) {
      AudioBackup backup;
      backup_seen_before_change = manager->ReadBackup(&backup, nullptr) && backup.session_active &&
                                  backup.current_session.endpoints.size() == 6;
    }
  });
  std::vector<std::string> notices;
  std::string error;
  ASSERT_TRUE(manager->BeginCableSession("Headphones (USB)", "", "", &notices, &error)) << error;
  EXPECT_TRUE(backup_seen_before_change);
  EXPECT_EQ(Defaults(kCapture), All(cable_output));
  EXPECT_EQ(Defaults(kRender), All(headphones));
  EXPECT_EQ(notices, std::vector<std::string>{kSuccessNotice});

  AudioBackup backup = Backup();
  EXPECT_TRUE(backup.session_active);
  ASSERT_EQ(backup.current_session.endpoints.size(), 6u);
  EXPECT_EQ(backup.current_session.endpoints[0].id, speakers);
  EXPECT_EQ(backup.current_session.endpoints[5].id, microphone);
  EXPECT_FALSE(backup.current_session.invalid_render_output);
  ASSERT_TRUE(backup.last_known_good.has_value());
  EXPECT_EQ(*backup.last_known_good, backup.current_session);
  ASSERT_EQ(backup.applied.endpoints.size(), 6u);
  EXPECT_EQ(backup.applied.endpoints[0],
            (AudioRoleEndpoint{kCapture, kConsole, cable_output,
                               "CABLE Output (VB-Audio Virtual Cable)", true}));
  EXPECT_EQ(backup.applied.endpoints[5],
            (AudioRoleEndpoint{kRender, kCommunications, headphones, "Headphones (USB)", true}));
  EXPECT_EQ(backup.applied.saved_at.size(), 19u);
}

TEST_F(CableSessionTest, WithoutAMonitorOnlyTheInputChangesAndTheUserIsTold) {
  std::vector<std::string> notices;
  std::string error;
  ASSERT_TRUE(manager->BeginCableSession("", "", "", &notices, &error)) << error;
  EXPECT_EQ(Defaults(kRender), All(speakers));
  EXPECT_EQ(Defaults(kCapture), All(cable_output));
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "Windows output was not changed because Monitor Output is not selected "
                         "or is unavailable.",
                         kSuccessNotice}));
  EXPECT_EQ(Backup().applied.endpoints.size(), 3u);
}

TEST_F(CableSessionTest, TheVerifiedCableIsUsedByItsIdAndAMissingOneIsRefused) {
  std::string other_cable = world.AddEndpoint(kCapture, "CABLE Out 16 Ch");
  std::string error;
  ASSERT_TRUE(manager->BeginCableSession("", other_cable, "CABLE Out 16 Ch", nullptr, &error))
      << error;
  EXPECT_EQ(Defaults(kCapture), All(other_cable));
  ASSERT_TRUE(manager->RestoreSession(nullptr, &error)) << error;

  EXPECT_FALSE(manager->BeginCableSession("", "capture:gone", "CABLE Output", nullptr, &error));
  EXPECT_EQ(error, "The verified CABLE Output is no longer available. Run Full Setup Check again.");
  EXPECT_FALSE(manager->BeginCableSession("", "", "CABLE Output", nullptr, &error));
  EXPECT_EQ(error, "Run Full Setup Check before starting the mixer.");
  world.RemoveEndpoint(cable_output);
  world.RemoveEndpoint(other_cable);
  EXPECT_FALSE(manager->BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error, "CABLE Output / CABLE Out 16 Ch was not found in Windows recording devices");
  EXPECT_EQ(Defaults(kCapture), All(microphone));
}

TEST_F(CableSessionTest, UnsafeStartingPointsAreRefusedBeforeAnythingIsWritten) {
  std::string error;
  // The cable is already a default: a crash left it, or the user chose it.
  world.SetDefault(kCapture, kCommunications, cable_output);
  EXPECT_FALSE(manager->BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error, kUnsafeStart);
  // A role without any default.
  world.SetDefault(kCapture, kCommunications, "");
  EXPECT_FALSE(manager->BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error, kUnsafeStart);
  world.SetDefault(kCapture, kCommunications, microphone);
  // The monitor is the cable's own playback side.
  EXPECT_FALSE(manager->BeginCableSession("CABLE Input (VB-Audio Virtual Cable)", "", "", nullptr,
                                          &error));
  EXPECT_EQ(error,
            "Monitor Output is set to VB-Cable. Choose your real headphones or speakers as Monitor "
            "Output before starting.");
  EXPECT_FALSE(std::filesystem::exists(BackupPath()));
  EXPECT_TRUE(world.SetCalls().empty());
}

TEST_F(CableSessionTest, AnActiveBackupRefusesTheStartAndADamagedOneMakesWayForAFreshOne) {
  AudioBackup active;
  active.session_active = true;
  Write(active);
  std::string error;
  EXPECT_FALSE(manager->BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error,
            "Previous audio session is still active. Use Restore My Sound before starting again.");
  EXPECT_TRUE(world.SetCalls().empty());

  testing::WriteFile(BackupPath(), "[1, 2]");
  std::vector<std::string> notices;
  ASSERT_TRUE(manager->BeginCableSession("", "", "", &notices, &error)) << error;
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.front(),
            "audio_backup.json could not be read (audio_backup.json is not a valid JSON object) "
            "and was set aside as audio_backup.json.corrupted, so that a fresh backup can be "
            "kept.");
  EXPECT_EQ(testing::ReadFile(folder / "audio_backup.json.corrupted"), "[1, 2]");
  EXPECT_TRUE(Backup().session_active);
}

TEST_F(CableSessionTest, DefaultsThatCannotBeReadRefuseTheStart) {
  std::string error;
  world.FailDefaultQueries(audio_result::kFail);
  EXPECT_FALSE(manager->BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error, "Windows audio default endpoint query failed (0x80004005)");
  WindowsAudioManager without(BackupPath(), AudioSystemFactory());
  error = "previous";
  EXPECT_FALSE(without.BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(std::filesystem::exists(BackupPath()));
}

TEST_F(CableSessionTest, ABackupThatCannotBeWrittenLeavesTheDefaultsUntouched) {
  BlockBackupWrites();
  std::string error;
  EXPECT_FALSE(manager->BeginCableSession("Headphones (USB)", "", "", nullptr, &error));
  EXPECT_NE(error.find(kBackupWriteFailure), std::string::npos) << error;
  EXPECT_TRUE(world.SetCalls().empty());
  EXPECT_EQ(Defaults(kCapture), All(microphone));
}

TEST_F(CableSessionTest, AFailingRoleRollsEverythingBack) {
  world.FailSetDefaultCall(2);  // capture multimedia
  std::string error;
  EXPECT_FALSE(manager->BeginCableSession("Headphones (USB)", "", "", nullptr, &error));
  EXPECT_EQ(error, "Windows rejected the default audio device change");
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  EXPECT_EQ(Defaults(kRender), All(speakers));
  AudioBackup backup = Backup();
  EXPECT_FALSE(backup.session_active);
  EXPECT_TRUE(backup.applied.endpoints.empty());
  EXPECT_EQ(backup.applied.saved_at, "");
  EXPECT_EQ(backup.current_session.endpoints.size(), 6u);
  EXPECT_TRUE(backup.last_known_good.has_value());
}

TEST_F(CableSessionTest, AFailingRollbackKeepsTheSessionActiveAndSaysWhy) {
  // The fourth set (render console) fails, then the rollback's first set back (the speakers,
  // gone meanwhile) fails too.
  bool armed = false;
  EventHook fail_rollback(world, [&] {
    if (world.SetCalls().size() == 3 && !armed) {
      armed = true;
      world.FailSetDefaultCall(1);
      world.RemoveEndpoint(speakers);
    }
  });
  std::string error;
  EXPECT_FALSE(manager->BeginCableSession("Headphones (USB)", "", "", nullptr, &error));
  EXPECT_EQ(error,
            "Windows rejected the default audio device change Rollback result: Windows rejected "
            "the default audio device change");
  EXPECT_TRUE(Backup().session_active) << "the next start offers the restore";
  EXPECT_TRUE(manager->HasActiveSession());
}

TEST_F(CableSessionTest, ABackupThatCannotBeUpdatedAfterTheChangesRollsBack) {
  EventHook block_second_write(world, [&] {
    if (world.SetCalls().size() == 6) BlockBackupWrites();
  });
  std::string error;
  EXPECT_FALSE(manager->BeginCableSession("Headphones (USB)", "", "", nullptr, &error));
  const std::string write_failure = kBackupWriteFailure + BackupPath().string() + ".zennic-";
  const size_t rollback = error.find(" Rollback result: ");
  ASSERT_NE(rollback, std::string::npos) << error;
  EXPECT_EQ(error.rfind(write_failure, 0), 0u) << error;
  EXPECT_EQ(error.find(write_failure, rollback), rollback + 18) << error;
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  EXPECT_EQ(Defaults(kRender), All(speakers));
  EXPECT_TRUE(Backup().session_active) << "the first write stays; Restore My Sound remains";
}

TEST_F(CableSessionTest, RollbackSetsBackEverySnapshotRoleButNeverACablePlayback) {
  AudioBackup backup;
  backup.session_active = true;
  backup.current_session.invalid_render_output = true;
  backup.current_session.endpoints = {
      {kRender, kConsole, cable_input, "CABLE Input (VB-Audio Virtual Cable)", true},
      {kCapture, kConsole, microphone, "Microphone (USB)", true},
      {kCapture, kMultimedia, "", "", false},
  };
  backup.applied.endpoints = {{kCapture, kConsole, cable_output, "CABLE Output", true}};
  Write(backup);
  world.SetDefaults(kCapture, cable_output);
  std::string error;
  ASSERT_TRUE(manager->RollbackCableSession(&error)) << error;
  EXPECT_EQ(world.DefaultId(kCapture, kConsole), microphone);
  EXPECT_EQ(world.DefaultId(kCapture, kMultimedia), cable_output) << "not present: left alone";
  EXPECT_EQ(Defaults(kRender), All(speakers));
  EXPECT_FALSE(Backup().session_active);

  std::filesystem::remove(BackupPath());
  EXPECT_FALSE(manager->RollbackCableSession(&error));
  EXPECT_NE(error.find("Unable to open file for reading: "), std::string::npos);
}

TEST_F(CableSessionTest, EveryBeginOverwritesTheLastKnownGood) {
  StartSessionWithHeadphones();
  std::string error;
  ASSERT_TRUE(manager->RestoreSession(nullptr, &error)) << error;
  std::string usb_speakers = world.AddEndpoint(kRender, "USB Speakers");
  world.SetDefaults(kRender, usb_speakers);
  ASSERT_TRUE(manager->BeginCableSession("", "", "", nullptr, &error)) << error;
  ASSERT_TRUE(Backup().last_known_good.has_value());
  EXPECT_EQ(Backup().last_known_good->endpoints[0].id, usb_speakers);
}

}  // namespace
}  // namespace zennic

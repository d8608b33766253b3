// The three restores and the choice of a safe device.

#include "windows_audio_fixture.h"

namespace zennic {
namespace {

using AudioRestoresTest = WindowsAudioTest;

constexpr char kNothingToRestore[] = "No active audio session backup needs restore.";

TEST_F(AudioRestoresTest, RestoreSessionPutsBackWhatTheSessionChanged) {
  StartSessionWithHeadphones();
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreSession(&result, &error)) << error;
  EXPECT_TRUE(result.restored);
  EXPECT_TRUE(result.messages.empty());
  EXPECT_EQ(Defaults(kRender), All(speakers));
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  AudioBackup backup = Backup();
  EXPECT_FALSE(backup.session_active);
  EXPECT_TRUE(backup.applied.endpoints.empty());
  EXPECT_EQ(backup.current_session.endpoints.size(), 6u) << "kept for Restore My Sound";
  EXPECT_FALSE(manager->HasActiveSession());
}

TEST_F(AudioRestoresTest, WithoutAnActiveSessionThereIsNothingToRestore) {
  AudioRestoreResult result;
  std::string error = "previous";
  ASSERT_TRUE(manager->RestoreSession(&result, &error));
  EXPECT_EQ(error, "");
  EXPECT_TRUE(result.restored);
  EXPECT_EQ(result.messages, std::vector<std::string>{kNothingToRestore});
  EXPECT_FALSE(std::filesystem::exists(BackupPath()));

  Write(AudioBackup{});
  ASSERT_TRUE(manager->RestoreSession(&result, &error));
  EXPECT_EQ(result.messages, std::vector<std::string>{kNothingToRestore});
  EXPECT_TRUE(world.SetCalls().empty());
}

TEST_F(AudioRestoresTest, ARoleTheUserChangedDuringTheRunIsLeftAsTheUserChoseIt) {
  StartSessionWithHeadphones();
  std::string usb_mic = world.AddEndpoint(kCapture, "Webcam Mic");
  world.SetDefaults(kCapture, usb_mic);
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreSession(&result, &error)) << error;
  EXPECT_EQ(result.messages,
            (std::vector<std::string>{
                "Skipped capture:console because it was changed outside Ruzerad.",
                "Skipped capture:multimedia because it was changed outside Ruzerad.",
                "Skipped capture:communications because it was changed outside Ruzerad."}));
  EXPECT_EQ(Defaults(kCapture), All(usb_mic));
  EXPECT_EQ(Defaults(kRender), All(speakers));
  EXPECT_FALSE(Backup().session_active);
  EXPECT_EQ(BuildAudioRestoreResultJson(result, {}).GetString("restore_status", ""), "full");
}

TEST_F(AudioRestoresTest, OnlyTheAppliedRolesAreSetBack) {
  std::string error;
  ASSERT_TRUE(manager->BeginCableSession("", "", "", nullptr, &error)) << error;
  // Someone else moved the playback default: not ours to touch.
  world.SetDefaults(kRender, headphones);
  size_t sets_before = world.SetCalls().size();
  ASSERT_TRUE(manager->RestoreSession(nullptr, &error)) << error;
  auto sets = world.SetCalls();
  ASSERT_EQ(sets.size() - sets_before, 3u);
  for (size_t i = sets_before; i < sets.size(); ++i) EXPECT_EQ(sets[i].first, microphone);
  EXPECT_EQ(Defaults(kRender), All(headphones));
}

TEST_F(AudioRestoresTest, ACablePlaybackDefaultInTheSnapshotIsNeverRestored) {
  AudioBackup backup;
  backup.session_active = true;
  backup.current_session.invalid_render_output = true;
  for (AudioRole role : kAudioRoleOrder) {
    backup.current_session.endpoints.push_back(
        {kRender, role, cable_input, "CABLE Input (VB-Audio Virtual Cable)", true});
  }
  for (AudioRole role : kAudioRoleOrder) {
    backup.applied.endpoints.push_back({kRender, role, headphones, "Headphones (USB)", true});
  }
  Write(backup);
  world.SetDefaults(kRender, headphones);
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreSession(&result, &error)) << error;
  ASSERT_EQ(result.messages.size(), 3u);
  EXPECT_EQ(result.messages[0],
            "Skipped restoring a VB-Cable playback default from the backup. Choose your real "
            "headphones or speakers in Windows Sound settings.");
  EXPECT_EQ(Defaults(kRender), All(headphones));
}

TEST_F(AudioRestoresTest, RestoreSessionFailuresLeaveTheSessionForALaterTry) {
  std::string error;
  std::filesystem::create_directory(BackupPath());
  EXPECT_FALSE(manager->RestoreSession(nullptr, &error));
  EXPECT_FALSE(error.empty());

  std::filesystem::remove(BackupPath());
  StartSessionWithHeadphones();
  world.FailDefaultQueries(audio_result::kFail);
  EXPECT_FALSE(manager->RestoreSession(nullptr, &error));
  EXPECT_EQ(error, "Windows audio default endpoint query failed (0x80004005)");
  world.FailDefaultQueries(audio_result::kOk);

  world.FailSetDefaultCall(2);
  EXPECT_FALSE(manager->RestoreSession(nullptr, &error));
  EXPECT_EQ(error, "Windows rejected the default audio device change");
  EXPECT_TRUE(Backup().session_active);

  BlockBackupWrites();
  EXPECT_FALSE(manager->RestoreSession(nullptr, &error));
  EXPECT_NE(error.find(kBackupWriteFailure), std::string::npos) << error;
  UnblockBackupWrites();
  AudioRestoreResult result;
  ASSERT_TRUE(manager->RestoreSession(&result, &error)) << error;
  EXPECT_TRUE(result.restored);
  EXPECT_FALSE(Backup().session_active);
}

TEST_F(AudioRestoresTest, ASessionThatCrashedBeforeApplyingOnlyEnds) {
  AudioBackup planned;
  planned.session_active = true;
  planned.current_session.endpoints = {{kCapture, kConsole, microphone, "Microphone (USB)", true}};
  Write(planned);
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreSession(&result, &error)) << error;
  EXPECT_TRUE(world.SetCalls().empty());
  EXPECT_FALSE(Backup().session_active);
}

TEST_F(AudioRestoresTest, RestoreMySoundWithoutABackupChoosesPhysicalDevices) {
  // Only the cable and USB speakers to play on; the defaults point at the cable.
  world.RemoveEndpoint(speakers);
  world.RemoveEndpoint(headphones);
  std::string usb_speakers = world.AddEndpoint(kRender, "Speakers (USB)");
  world.SetDefaults(kRender, cable_input);
  world.SetDefaults(kCapture, cable_output);
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  EXPECT_EQ(Defaults(kRender), All(usb_speakers));
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  EXPECT_TRUE(result.restored);
  EXPECT_TRUE(result.used_fallback_output);
  EXPECT_TRUE(result.used_fallback_input);
  EXPECT_EQ(result.messages,
            (std::vector<std::string>{
                "No audio backup is available. Trying active physical device fallback.",
                "Restored Windows output to Speakers (USB) using a physical fallback.",
                "Restored Windows input to Microphone (USB) using a physical fallback."}));
  EXPECT_FALSE(std::filesystem::exists(BackupPath())) << "no backup is made up";
}

TEST_F(AudioRestoresTest, RestoreMySoundPrefersTheSnapshotAndEndsTheSession) {
  StartSessionWithHeadphones();
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  EXPECT_EQ(Defaults(kRender), All(speakers)) << "the snapshot beats the better-ranked headphones";
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  EXPECT_FALSE(result.used_fallback_output);
  EXPECT_EQ(result.messages,
            (std::vector<std::string>{"Restored Windows output to Speakers (Realtek).",
                                      "Restored Windows input to Microphone (USB)."}));
  EXPECT_FALSE(Backup().session_active);
}

TEST_F(AudioRestoresTest, ADeviceBackUnderANewIdIsFoundByItsName) {
  StartSessionWithHeadphones();
  world.RemoveEndpoint(speakers);
  std::string replugged = world.AddEndpoint(kRender, "speakers (realtek)", "render:new-id");
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  EXPECT_EQ(Defaults(kRender), All(replugged));
  EXPECT_TRUE(result.used_fallback_output);
  EXPECT_FALSE(result.used_fallback_input);
}

TEST_F(AudioRestoresTest, APartialRestoreSaysWhichSideIsMissing) {
  world.RemoveEndpoint(microphone);
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  EXPECT_TRUE(result.output_restored);
  EXPECT_FALSE(result.input_restored);
  EXPECT_FALSE(result.restored);
  EXPECT_EQ(result.messages.back(), "No physical microphone was found to restore as Windows input.");
  JsonValue json = BuildAudioRestoreResultJson(result, {});
  EXPECT_EQ(json.GetString("restore_status", ""), "partial");
  EXPECT_TRUE(json.GetBool("partial_restore", false));

  world.RemoveEndpoint(speakers);
  world.RemoveEndpoint(headphones);
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  EXPECT_EQ(result.messages[1],
            "No physical headphones or speakers were found. Open Windows Sound settings and choose "
            "your headset or speakers as Output.");
  json = BuildAudioRestoreResultJson(result, {});
  EXPECT_EQ(json.GetString("restore_status", ""), "failed");
  EXPECT_FALSE(json.GetBool("partial_restore", true));
  EXPECT_EQ(json.Find("messages")->array_value.size(), 3u);
  EXPECT_EQ(json.Find("audio_management")->type, JsonValue::Type::Object);
}

TEST_F(AudioRestoresTest, RestoreMySoundGoesOnPastABrokenBackupButNotPastTheSystem) {
  testing::WriteFile(BackupPath(), "broken");
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  ASSERT_GE(result.messages.size(), 2u);
  EXPECT_EQ(result.messages[0],
            "Audio backup could not be read. Trying active physical device fallback.");
  EXPECT_EQ(result.messages[1],
            "audio_backup.json could not be read (Expected number) and was set aside as "
            "audio_backup.json.corrupted, so that a fresh backup can be kept.");
  EXPECT_EQ(testing::ReadFile(folder / "audio_backup.json.corrupted"), "broken");
  EXPECT_FALSE(std::filesystem::exists(BackupPath())) << "nothing was read to write back";

  world.FailEnumeration(audio_result::kFail);
  EXPECT_FALSE(manager->RestoreMySound(&result, &error));
  EXPECT_EQ(error, "Windows audio endpoint enumeration failed");
  world.FailEnumeration(audio_result::kOk);
  world.FailSetDefaultCall(1);
  EXPECT_FALSE(manager->RestoreMySound(&result, &error));
  EXPECT_EQ(error, "Windows rejected the default audio device change");
}

TEST_F(AudioRestoresTest, AnUnwritableMarkerIsReportedButTheRestoreStands) {
  StartSessionWithHeadphones();
  BlockBackupWrites();
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager->RestoreMySound(&result, &error)) << error;
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  EXPECT_EQ(result.messages.back().rfind(
                "Windows sound restore ran, but the audio backup marker could not be updated: ", 0),
            0u);
}

TEST_F(AudioRestoresTest, RestoreLastKnownGoodForcesTheSnapshotBack) {
  std::string error;
  EXPECT_FALSE(manager->RestoreLastKnownGood(nullptr, &error));
  EXPECT_NE(error.find("Unable to open file for reading"), std::string::npos);
  Write(AudioBackup{});
  EXPECT_FALSE(manager->RestoreLastKnownGood(nullptr, &error));
  EXPECT_EQ(error, "No last known good Windows audio backup is available");

  StartSessionWithHeadphones();
  // Unlike the session restore, a role the user changed is forced back too.
  std::string webcam = world.AddEndpoint(kCapture, "Webcam Mic");
  world.SetDefaults(kCapture, webcam);
  AudioRestoreResult result;
  ASSERT_TRUE(manager->RestoreLastKnownGood(&result, &error)) << error;
  EXPECT_TRUE(result.restored);
  EXPECT_EQ(Defaults(kCapture), All(microphone));
  EXPECT_EQ(Defaults(kRender), All(speakers));
  EXPECT_FALSE(Backup().session_active);
}

TEST_F(AudioRestoresTest, RestoreLastKnownGoodStopsAtTheFirstFailure) {
  StartSessionWithHeadphones();
  std::string error;
  world.FailSetDefaultCall(1);
  EXPECT_FALSE(manager->RestoreLastKnownGood(nullptr, &error));
  EXPECT_EQ(error, "Windows rejected the default audio device change");
  EXPECT_TRUE(Backup().session_active);

  BlockBackupWrites();
  AudioRestoreResult result;
  EXPECT_FALSE(manager->RestoreLastKnownGood(&result, &error));
  EXPECT_NE(error.find(kBackupWriteFailure), std::string::npos) << error;
  EXPECT_TRUE(result.restored) << "the defaults are back even though the marker is not";
  EXPECT_EQ(Defaults(kCapture), All(microphone));
}

TEST_F(AudioRestoresTest, ChoosingASafeEndpointSkipsTheCableAndRanksTheRest) {
  AudioEndpointInfo chosen;
  bool fallback = false;
  std::string error;
  EXPECT_FALSE(manager->ChooseSafeEndpoint(kRender, nullptr, nullptr, &fallback, &error));
  EXPECT_EQ(error, "Safe audio endpoint output pointer is null");

  ASSERT_TRUE(manager->ChooseSafeEndpoint(kRender, nullptr, &chosen, &fallback, &error));
  EXPECT_EQ(chosen.id, headphones) << "headphones rank before speakers";
  EXPECT_TRUE(fallback);

  // A snapshot whose console role is the cable: its next usable role decides.
  AudioDefaultsSnapshot snapshot;
  snapshot.endpoints = {{kRender, kConsole, cable_input, "CABLE Input", true},
                        {kRender, kMultimedia, speakers, "Speakers (Realtek)", true}};
  ASSERT_TRUE(manager->ChooseSafeEndpoint(kRender, &snapshot, &chosen, &fallback, &error));
  EXPECT_EQ(chosen.id, speakers);
  EXPECT_FALSE(fallback);

  WindowsAudioManager without(BackupPath(), AudioSystemFactory());
  error = "previous";
  EXPECT_FALSE(without.ChooseSafeEndpoint(kRender, nullptr, &chosen, &fallback, &error));
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace zennic

// The backup file's form, read leniently and written back, through the manager that owns it.

#include "windows_audio/audio_backup.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

using testing::TempFolder;
using testing::WriteFile;

class AudioBackupFile : public ::testing::Test {
 protected:
  bool Read(const std::string& text, AudioBackup* backup, std::string* error) {
    WriteFile(folder / "audio_backup.json", text);
    return manager.ReadBackup(backup, error);
  }

  TempFolder folder;
  WindowsAudioManager manager{folder / "audio_backup.json", AudioSystemFactory()};
};

TEST_F(AudioBackupFile, MissingMembersTakeTheirDefaults) {
  AudioBackup backup;
  std::string error;
  ASSERT_TRUE(Read(R"({"session_active": true})", &backup, &error)) << error;
  EXPECT_EQ(backup.version, 1);
  EXPECT_TRUE(backup.session_active);
  EXPECT_TRUE(backup.current_session.endpoints.empty());
  EXPECT_TRUE(backup.applied.endpoints.empty());
  EXPECT_FALSE(backup.last_known_good.has_value());
}

TEST_F(AudioBackupFile, EndpointTextsAreReadLeniently) {
  AudioBackup backup;
  std::string error;
  ASSERT_TRUE(Read(R"({
    "version": 7.9,
    "session_active": "yes",
    "current_session": {"saved_at": 5, "invalid_render_output": true, "endpoints": [
      {"flow": "CAPTURE", "role": "CommunicationS", "id": "mic", "name": "Microphone"},
      {"flow": "sideways", "role": "speakers", "id": "", "name": "Nothing"},
      7,
      {"role": "multimedia", "id": "spk", "present": false}
    ]},
    "applied": [],
    "last_known_good": null
  })", &backup, &error)) << error;
  EXPECT_EQ(backup.version, 7);
  EXPECT_FALSE(backup.session_active) << "a member of the wrong type counts as missing";
  const AudioDefaultsSnapshot& session = backup.current_session;
  EXPECT_EQ(session.saved_at, "");
  EXPECT_TRUE(session.invalid_render_output);
  ASSERT_EQ(session.endpoints.size(), 3u) << "a non-object element is skipped";
  EXPECT_EQ(session.endpoints[0], (AudioRoleEndpoint{AudioFlow::kCapture, AudioRole::kCommunications,
                                                     "mic", "Microphone", true}));
  EXPECT_EQ(session.endpoints[1], (AudioRoleEndpoint{AudioFlow::kRender, AudioRole::kConsole, "",
                                                     "Nothing", false}));
  EXPECT_EQ(session.endpoints[2], (AudioRoleEndpoint{AudioFlow::kRender, AudioRole::kMultimedia,
                                                     "spk", "", false}));
  EXPECT_TRUE(backup.applied.endpoints.empty());
  EXPECT_FALSE(backup.last_known_good.has_value());
}

TEST_F(AudioBackupFile, AHugeVersionSaturatesInsteadOfOverflowing) {
  AudioBackup backup;
  ASSERT_TRUE(Read(R"({"version": 1e300})", &backup, nullptr));
  EXPECT_EQ(backup.version, INT32_MAX);
}

TEST_F(AudioBackupFile, WhatIsWrittenReadsBackEqualWithVersionOne) {
  AudioBackup backup;
  backup.version = 3;
  backup.session_active = true;
  backup.current_session = {"2024-05-01 10:00:00",
                            {{AudioFlow::kRender, AudioRole::kConsole, "spk", "Speakers", true},
                             {AudioFlow::kCapture, AudioRole::kMultimedia, "mic", "Mic", false}},
                            true};
  backup.last_known_good = backup.current_session;
  backup.applied = {"2024-05-01 10:00:01",
                    {{AudioFlow::kCapture, AudioRole::kConsole, "cab", "CABLE Output", true}},
                    false};
  std::string error;
  ASSERT_TRUE(manager.WriteBackup(backup, &error)) << error;
  AudioBackup read;
  ASSERT_TRUE(manager.ReadBackup(&read, &error)) << error;
  backup.version = 1;
  EXPECT_EQ(read, backup);

  std::string text = testing::ReadFile(folder / "audio_backup.json");
  EXPECT_LT(text.find("\"applied\""), text.find("\"current_session\"")) << "members sorted by key";
  EXPECT_NE(text.find("\n  \"session_active\": true"), std::string::npos) << text;
  EXPECT_NE(text.find("\"flow\": \"capture\""), std::string::npos);
  EXPECT_NE(text.find("\"role\": \"multimedia\""), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder / "audio_backup.json.tmp"));
}

TEST_F(AudioBackupFile, AnAbsentLastKnownGoodIsWrittenAsNull) {
  std::string error;
  ASSERT_TRUE(manager.WriteBackup(AudioBackup{}, &error)) << error;
  EXPECT_NE(testing::ReadFile(folder / "audio_backup.json").find("\"last_known_good\": null"),
            std::string::npos);
}

TEST_F(AudioBackupFile, UnreadableFilesFailWithTheReason) {
  AudioBackup backup;
  std::string error;
  EXPECT_FALSE(manager.ReadBackup(&backup, &error));
  EXPECT_EQ(error, "Unable to open file for reading: " + (folder / "audio_backup.json").string());
  EXPECT_FALSE(Read("", &backup, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(Read("[1, 2]", &backup, &error));
  EXPECT_EQ(error, "audio_backup.json is not a valid JSON object");
  EXPECT_FALSE(Read("{\"session_active\": tru", &backup, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(manager.ReadBackup(nullptr, &error));
  EXPECT_EQ(error, "Audio backup output pointer is null");
}

TEST(AudioBackupTexts, FlowsAndRolesAreNamedForMessages) {
  EXPECT_EQ(DescribeFlowRole(AudioFlow::kCapture, AudioRole::kCommunications),
            "capture:communications");
  EXPECT_EQ(DescribeFlowRole(AudioFlow::kRender, AudioRole::kMultimedia), "render:multimedia");
  EXPECT_EQ(AudioRoleName(static_cast<AudioRole>(7)), "console");
  EXPECT_EQ(AudioFlowName(static_cast<AudioFlow>(5)), "capture");
  EXPECT_EQ(FormatBackupTimestamp().size(), 19u);
}

}  // namespace
}  // namespace zennic

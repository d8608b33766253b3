#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

#include "support/fake_audio_system.h"
#include "support/read_only_folder.h"
#include "support/temp_folder.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {

constexpr AudioFlow kRender = AudioFlow::kRender;
constexpr AudioFlow kCapture = AudioFlow::kCapture;
constexpr AudioRole kConsole = AudioRole::kConsole;
constexpr AudioRole kMultimedia = AudioRole::kMultimedia;
constexpr AudioRole kCommunications = AudioRole::kCommunications;

// A player's machine in memory: speakers, headphones, a USB microphone and the virtual cable,
// with the speakers and the microphone as every role's default, and a manager whose backup
// lives in a temporary folder.
class WindowsAudioTest : public ::testing::Test {
 protected:
  WindowsAudioTest() {
    speakers = world.AddEndpoint(kRender, "Speakers (Realtek)");
    cable_input = world.AddEndpoint(kRender, "CABLE Input (VB-Audio Virtual Cable)");
    headphones = world.AddEndpoint(kRender, "Headphones (USB)");
    microphone = world.AddEndpoint(kCapture, "Microphone (USB)");
    cable_output = world.AddEndpoint(kCapture, "CABLE Output (VB-Audio Virtual Cable)");
    world.SetDefaults(kRender, speakers);
    world.SetDefaults(kCapture, microphone);
    manager = std::make_unique<WindowsAudioManager>(BackupPath(), world.Factory());
  }

  std::filesystem::path BackupPath() const { return folder / "audio_backup.json"; }

  AudioBackup Backup() {
    AudioBackup backup;
    std::string error;
    EXPECT_TRUE(manager->ReadBackup(&backup, &error)) << error;
    return backup;
  }

  void Write(const AudioBackup& backup) {
    std::string error;
    ASSERT_TRUE(manager->WriteBackup(backup, &error)) << error;
  }

  // The defaults of a flow for the three roles, in role order.
  std::vector<std::string> Defaults(AudioFlow flow) const {
    return {world.DefaultId(flow, kConsole), world.DefaultId(flow, kMultimedia),
            world.DefaultId(flow, kCommunications)};
  }
  static std::vector<std::string> All(const std::string& id) { return {id, id, id}; }

  // A session as a begin with the headphones as monitor leaves it on disk, and the defaults
  // it leaves.
  void StartSessionWithHeadphones() {
    std::string error;
    ASSERT_TRUE(manager->BeginCableSession("Headphones (USB)", "", "", nullptr, &error)) << error;
  }

  // Runs `action` inside the fake's next endpoint notifications, as the system would deliver
  // them during a change.
  class EventHook : public AudioEndpointListener {
   public:
    EventHook(testing::FakeAudioWorld& world, std::function<void()> action)
        : connection_(world.Factory()(nullptr)), action_(std::move(action)) {
      connection_->RegisterEndpointListener(this);
    }
    void OnAudioEndpointEvent(AudioEndpointEvent) override { action_(); }

   private:
    std::unique_ptr<AudioSystem> connection_;
    std::function<void()> action_;
  };

  // Makes the backup's folder refuse new files, so backup writes fail until unblocked.
  void BlockBackupWrites() { backup_writes_blocked_.emplace(folder.path()); }
  void UnblockBackupWrites() { backup_writes_blocked_.reset(); }
  static constexpr char kBackupWriteFailure[] = "Unable to open temp file for writing: ";

  testing::FakeAudioWorld world;
  testing::TempFolder folder;
  std::string speakers, cable_input, headphones, microphone, cable_output;
  std::unique_ptr<WindowsAudioManager> manager;

 private:
  std::optional<testing::ReadOnlyFolder> backup_writes_blocked_;
};

}  // namespace zennic

#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/json_value.h"
#include "platform/audio_system.h"
#include "support/private_audio_server.h"
#include "support/program_process.h"
#include "support/temp_folder.h"

namespace zennic::testing {

// The built program on a private audio server of the test's own, reached over HTTP the way
// the web client reaches it: with the page's session cookie.
class MixerApiFixture : public ::testing::Test {
 protected:
  struct Reply {
    int status = 0;
    JsonValue body;
    std::string raw;
  };

  std::filesystem::path DataFolder() const { return folder_ / "data/Ruzerad"; }
  std::filesystem::path SettingsFile() const { return DataFolder() / "settings.json"; }

  // The settings the program starts with; `members` are set over a free port.
  void WriteSettings(const JsonValue& members = JsonValue::MakeObject());
  // Settings with the cable pair that the setup check verifies, and consent given.
  JsonValue VerifiedPairSettings() const;
  // The id the audio system gives the endpoint of that name.
  std::string EndpointId(AudioFlow flow, const std::string& name) const;

  // A "Default" profile on the clip's folder, selected, with the clip as the selected clip.
  static void SelectClipInProfile(JsonValue* settings, const std::filesystem::path& clip);
  // A 48 kHz stereo tone of `frequency` Hz at half of full scale, made by ffmpeg in the format
  // the file name says.
  static void MakeTone(const std::filesystem::path& path, int frequency, double seconds);
  // What the source carries over `seconds`, as 48 kHz mono samples.
  std::vector<float> RecordSource(const std::string& source, double seconds) const;

  void StartProgram();
  Reply Post(const std::string& path, const std::string& body = "") const;
  // SIGTERM; the program must end cleanly.
  void StopProgram();
  // What the engine logged (breaks by cause, margins), one line each, to tell its breaks apart.
  std::string EngineLog() const;

  PrivateAudioServer audio_;
  TempFolder folder_;
  ProgramProcess::Options options_ = IsolatedProgramOptions(folder_.path());
  std::unique_ptr<ProgramProcess> program_;
  uint16_t port_ = 0;
  std::string cookie_;
};

}  // namespace zennic::testing

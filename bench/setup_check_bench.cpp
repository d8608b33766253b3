// How long the Full Setup Check ("/api/mixer/audio/self-test") takes on a private audio server
// with the virtual devices: the whole check with the shortest and the default microphone time
// (target: about a second per cable pair plus the microphone time), and a cable search that
// tests four pairs before it finds the working one.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "engine/mixer_device_choice.h"
#include "model/runtime_state.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/wav_file.h"
#include "support/private_audio_server.h"
#include "support/temp_folder.h"
#include "windows_audio/windows_audio_manager.h"

namespace {

namespace fs = std::filesystem;
using namespace zennic;

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

// A new user's machine on an audio server of its own: the cable as "Send to game", the test
// microphone, and a one-second clip selected in the active profile.
class NewUserMachine {
 public:
  NewUserMachine() : analyzer_(AnalyzerServiceOptions{}) {
    fs::path clip = folder_ / "Sounds" / "tone.wav";
    fs::create_directories(clip.parent_path());
    std::vector<int16_t> tone(48000 * 2);
    for (size_t i = 0; i < tone.size(); ++i) {
      tone[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000.0 * (i / 2) / 48000));
    }
    WriteWavFile(clip, 48000, 2, tone, nullptr);
    state_ = std::make_unique<RuntimeState>(SettingsStore(FillAppPaths(folder_ / "data"), {}, {}));
    state_->SetSessionToken(kToken);
    state_->MutateSettings(
        [&](MixerSettings& settings) {
          settings.profiles = {Profile{"main", "Main", (folder_ / "Sounds").string()}};
          settings.selected_profile_id = "main";
          settings.file_path = clip.string();
          settings.out_name = "CABLE Input";
          settings.mic_name = "Microphone (Virtual)";
          settings.monitor_enabled = false;
        },
        /*persist=*/false, nullptr);
    manager_ = std::make_unique<WindowsAudioManager>(folder_ / "audio_backup.json");
    HttpApiConfig config;
    config.runtime_state = state_.get();
    config.session_cookie_name = "zennic_session";
    config.analyzer = &analyzer_;
    config.windows_audio_manager = manager_.get();
    config.device_enumeration = [](MixerDeviceList* devices, std::string*) {
      *devices = EnumerateMixerDevices(ConnectAudioSystem);
      return true;
    };
    api_ = std::make_unique<HttpApi>(std::move(config));
  }

  const testing::PrivateAudioServer& audio() const { return audio_; }

  // One check; aborts the run when the answer is not the expected verdict.
  void Check(const std::string& body, const std::string& expected_failure) {
    HttpRequest request;
    request.method = "POST";
    request.path = "/api/mixer/audio/self-test";
    request.headers["Cookie"] = std::string("zennic_session=") + kToken;
    request.body = body;
    HttpResponse response;
    api_->HandleRequest(request, &response);
    JsonValue answer;
    if (response.status != 200 || !JsonValue::Parse(response.body, &answer, nullptr) ||
        answer.Find("virtual_path")->GetString("failure_code", "-") != expected_failure) {
      std::abort();
    }
  }

 private:
  // The server stands before everything that connects to it.
  testing::PrivateAudioServer audio_;
  testing::TempFolder folder_;
  AnalyzerService analyzer_;
  std::unique_ptr<RuntimeState> state_;
  std::unique_ptr<WindowsAudioManager> manager_;
  std::unique_ptr<HttpApi> api_;
};

void UseVirtualAudioScript() {
  ::setenv("ZENNIC_VIRTUAL_AUDIO", ZENNIC_SOURCE_DIR "/scripts/virtual-audio", 0);
}

void BM_FullSetupCheck(benchmark::State& state) {
  UseVirtualAudioScript();
  NewUserMachine machine;
  std::string body = R"({"microphone_capture_ms":)" + std::to_string(state.range(0)) + "}";
  for (auto _ : state) machine.Check(body, "");
}
BENCHMARK(BM_FullSetupCheck)->Arg(250)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CableSearchOverFourPairs(benchmark::State& state) {
  UseVirtualAudioScript();
  NewUserMachine machine;
  machine.audio().AddCable("cable16_input", "cable16_output", "CABLE In 16 Ch", "CABLE Out 16 Ch",
                           "channels=16");
  machine.audio().Pactl("set-source-mute cable_output 1");
  for (auto _ : state) machine.Check(R"({"test_scope":"voice_path"})", "selected_pair_failed");
}
BENCHMARK(BM_CableSearchOverFourPairs)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

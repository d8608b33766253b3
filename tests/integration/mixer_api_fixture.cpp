#include "integration/mixer_api_fixture.h"

#include <signal.h>

#include <regex>
#include <sstream>

#include "support/http_test_client.h"
#include "support/run_command.h"

namespace zennic::testing {

using namespace std::chrono_literals;

void MixerApiFixture::WriteSettings(const JsonValue& members) {
  if (port_ == 0) port_ = FindFreeLoopbackPort();
  JsonValue settings = members;
  settings["version"] = 3.0;
  if (!settings.Find("server_port")) settings["server_port"] = static_cast<double>(port_);
  WriteFile(SettingsFile(), settings.Serialize(2));
}

std::string MixerApiFixture::EndpointId(AudioFlow flow, const std::string& name) const {
  AudioResult result = 0;
  std::unique_ptr<AudioSystem> system = ConnectAudioSystem(&result);
  std::vector<AudioEndpointDescription> endpoints;
  if (system) system->EnumerateEndpoints(flow, &endpoints);
  for (const AudioEndpointDescription& endpoint : endpoints) {
    if (endpoint.friendly_name == name) return endpoint.id;
  }
  ADD_FAILURE() << "no endpoint named " << name;
  return {};
}

JsonValue MixerApiFixture::VerifiedPairSettings() const {
  JsonValue settings = JsonValue::MakeObject();
  settings["audio_management_enabled"] = true;
  settings["audio_management_consent_granted"] = true;
  settings["mic_name"] = "Microphone (Virtual)";
  settings["out_name"] = "CABLE Input";
  settings["monitor_name"] = "Headphones (Virtual)";
  settings["verified_game_voice_output_id"] = EndpointId(AudioFlow::kRender, "CABLE Input");
  settings["verified_game_voice_output_name"] = "CABLE Input";
  settings["verified_game_voice_input_id"] = EndpointId(AudioFlow::kCapture, "CABLE Output");
  settings["verified_game_voice_input_name"] = "CABLE Output";
  return settings;
}

void MixerApiFixture::SelectClipInProfile(JsonValue* settings, const std::filesystem::path& clip) {
  JsonValue profile = JsonValue::MakeObject();
  profile["id"] = "default";
  profile["name"] = "Default";
  profile["audio_dir"] = clip.parent_path().string();
  (*settings)["profiles"].PushBack(profile);
  (*settings)["selected_profile_id"] = "default";
  (*settings)["file_path"] = clip.string();
}

void MixerApiFixture::MakeTone(const std::filesystem::path& path, int frequency, double seconds) {
  std::filesystem::create_directories(path.parent_path());
  std::string tone = "0.5*sin(2*PI*" + std::to_string(frequency) + "*t)";
  std::string output;
  ASSERT_EQ(RunCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "aevalsrc=" + tone + "|" + tone + ":s=48000:d=" + std::to_string(seconds),
                        path.string()},
                       &output),
            0)
      << output;
}

std::vector<float> MixerApiFixture::RecordSource(const std::string& source, double seconds) const {
  std::filesystem::path file = folder_ / ("recording-" + source + ".raw");
  std::string output;
  RunCommand({"timeout", std::to_string(seconds), "parec", "--device=" + source, "--raw",
              "--format=s16le", "--rate=48000", "--channels=1", "--latency-msec=20",
              file.string()},
             &output);
  std::string bytes = ReadFile(file);
  std::vector<float> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    int16_t sample = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    samples[i] = sample / 32768.0f;
  }
  return samples;
}

void MixerApiFixture::StartProgram() {
  if (!std::filesystem::exists(SettingsFile())) WriteSettings();
  static int run = 0;
  std::filesystem::path output = folder_ / ("run-" + std::to_string(++run));
  std::filesystem::create_directories(output);
  program_ = std::make_unique<ProgramProcess>(options_, output);
  ASSERT_TRUE(program_->Start());
  ASSERT_TRUE(program_->WaitForStderr("Ruzerad started", 10s)) << program_->Stderr();
  std::smatch match;
  std::string log = program_->Stderr();
  ASSERT_TRUE(std::regex_search(log, match,
                                std::regex(R"(Web client listening at http://127\.0\.0\.1:(\d+))")));
  port_ = static_cast<uint16_t>(std::stoi(match[1]));
  std::string set_cookie = HttpTestClient(port_).Send("GET", "/").headers["Set-Cookie"];
  cookie_ = set_cookie.substr(0, set_cookie.find(';'));
  ASSERT_FALSE(cookie_.empty());
}

MixerApiFixture::Reply MixerApiFixture::Post(const std::string& path,
                                             const std::string& body) const {
  HttpReply reply = HttpTestClient(port_).Send("POST", path, {{"Cookie", cookie_}}, body);
  Reply parsed;
  parsed.status = reply.status;
  parsed.raw = reply.body;
  EXPECT_TRUE(JsonValue::Parse(reply.body, &parsed.body, nullptr)) << path << ": " << reply.raw;
  return parsed;
}

void MixerApiFixture::StopProgram() {
  if (!program_) return;
  program_->Signal(SIGTERM);
  EXPECT_EQ(program_->WaitForExit(15s), 0) << program_->Stderr();
  program_.reset();
}

std::string MixerApiFixture::EngineLog() const {
  std::istringstream log(ReadFile(DataFolder() / "logs" / "app.log"));
  std::string lines;
  for (std::string line; std::getline(log, line);) {
    if (line.find("[MixerEngine]") != std::string::npos) lines += "\n  " + line;
  }
  return lines;
}

}  // namespace zennic::testing

#include "integration/mixer_api_fixture.h"

#include <signal.h>

#include <regex>

#include "support/http_test_client.h"

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

}  // namespace zennic::testing

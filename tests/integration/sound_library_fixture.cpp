#include "sound_library_fixture.h"

#include <signal.h>

#include <cmath>
#include <numbers>

#include "sound_files/audio_decoding.h"
#include "sound_files/wav_file.h"
#include "support/run_command.h"

namespace zennic::testing {

JsonValue Json(std::initializer_list<std::pair<std::string, JsonValue>> members) {
  JsonValue object = JsonValue::MakeObject();
  for (const auto& [key, value] : members) object[key] = value;
  return object;
}

void WriteToneWav(const std::filesystem::path& file, double seconds, double peak, int rate,
                  int channels) {
  const size_t frames = static_cast<size_t>(std::llround(seconds * rate));
  std::vector<int16_t> samples;
  samples.reserve(frames * channels);
  for (size_t frame = 0; frame < frames; ++frame) {
    double value = peak * std::sin(2 * std::numbers::pi * 440.0 * frame / rate);
    for (int channel = 0; channel < channels; ++channel) {
      samples.push_back(static_cast<int16_t>(std::lround(value * 32767.0)));
    }
  }
  std::filesystem::create_directories(file.parent_path());
  std::string error;
  ASSERT_TRUE(WriteWavFile(file, static_cast<uint32_t>(rate), channels, samples, &error)) << error;
}

std::string Base64Encode(const std::string& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    for (size_t k = 0; k < 4; ++k) {
      text += i + k <= bytes.size() ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

double PeakOf(const std::filesystem::path& file) {
  DecodedAudioData decoded;
  if (!DecodeAudioFile(file, &decoded, nullptr)) return -1;
  double peak = 0;
  for (float sample : decoded.samples) peak = std::max(peak, std::fabs(double{sample}));
  return peak;
}

SoundLibraryTest::SoundLibraryTest()
    : audio_(folder_ / "Sounds"),
      outside_(folder_ / "Outside"),
      data_folder_(folder_ / "program/data/Ruzerad"),
      temp_folder_(folder_ / "program/tmp") {
  for (const auto& folder : {audio_, outside_, temp_folder_, folder_ / "program/output"}) {
    std::filesystem::create_directories(folder);
  }
}

SoundLibraryTest::~SoundLibraryTest() {
  if (program_ && program_->Running()) {
    program_->Signal(SIGTERM);
    program_->WaitForExit(std::chrono::seconds(10));
  }
}

JsonValue SoundLibraryTest::ProfileSettings(const std::string& file_path,
                                            const std::string& panic_file_path) const {
  JsonValue profiles = JsonValue::MakeArray();
  profiles.PushBack(Json({{"id", "main"}, {"name", "Main"}, {"audio_dir", Text(audio_)}}));
  return Json({{"profiles", profiles},
               {"selected_profile_id", "main"},
               {"file_path", file_path},
               {"panic_file_path", panic_file_path}});
}

bool SoundLibraryTest::StartProgram(const JsonValue& settings) {
  port_ = FindFreeLoopbackPort();
  JsonValue file = settings;
  file["version"] = 3.0;
  file["server_port"] = static_cast<double>(port_);
  WriteFile(data_folder_ / "settings.json", file.Serialize(2));
  ProgramProcess::Options options = IsolatedProgramOptions(folder_ / "program");
  options.set_environment["TMPDIR"] = temp_folder_.string();
  program_ = std::make_unique<ProgramProcess>(options, folder_ / "program/output");
  if (!program_->Start() || !program_->WaitForStderr("Ruzerad started", std::chrono::seconds(10))) {
    return false;
  }
  HttpReply page = HttpTestClient(port_).Send("GET", "/");
  cookie_ = page.headers["Set-Cookie"].substr(0, page.headers["Set-Cookie"].find(';'));
  return page.status == 200 && !cookie_.empty();
}

ApiReply SoundLibraryTest::Post(const std::string& route, const JsonValue& body) const {
  ApiReply reply;
  reply.http = HttpTestClient(port_).Send("POST", route, {{"Cookie", cookie_}}, body.Serialize(0));
  reply.status = reply.http.status;
  // As a browser reads it: UTF-8 only.
  JsonParseRules strict;
  strict.require_utf8 = true;
  if (!JsonValue::Parse(reply.http.body, &reply.json, nullptr, strict)) reply.json = JsonValue();
  return reply;
}

JsonValue SoundLibraryTest::SavedSettings() const {
  JsonValue settings;
  JsonValue::Parse(ReadFile(data_folder_ / "settings.json"), &settings, nullptr);
  return settings;
}

long SoundLibraryTest::PeakMemoryKiB() const {
  std::string status = ReadFile("/proc/" + std::to_string(program_->pid()) + "/status");
  size_t field = status.find("VmHWM:");
  return field == std::string::npos ? -1 : std::stol(status.substr(field + 6));
}

}  // namespace zennic::testing

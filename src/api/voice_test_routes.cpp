#include <cmath>

#include "api/http_api.h"
#include "engine/mixer_engine.h"
#include "model/mixer_settings_json.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

constexpr char kEngineMissing[] = "Mixer engine is not configured";

// RFC 4648, padded, without line breaks.
std::string Base64Encode(const std::vector<uint8_t>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t at = 0; at < bytes.size(); at += 3) {
    size_t left = bytes.size() - at;
    uint32_t group = static_cast<uint32_t>(bytes[at]) << 16;
    if (left > 1) group |= static_cast<uint32_t>(bytes[at + 1]) << 8;
    if (left > 2) group |= bytes[at + 2];
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return text;
}

JsonValue BuildVoiceTestJson(const VoiceTestResult& result) {
  JsonValue test = JsonValue::MakeObject();
  test["channels"] = static_cast<double>(result.channels);
  test["custom_preset_id"] = result.voice_effect_custom_preset_id;
  test["custom_values"] = VoiceEffectCustomValuesToJson(result.voice_effect_custom_values);
  test["duration_seconds"] =
      result.sample_rate > 0 ? static_cast<double>(result.frames) / result.sample_rate : 0.0;
  test["effects_enabled"] = result.voice_effects_enabled;
  test["frame_count"] = static_cast<double>(result.frames);
  test["mime_type"] = "audio/wav";
  test["preset"] = result.voice_effect_preset;
  test["sample_rate"] = static_cast<double>(result.sample_rate);
  test["size_bytes"] = static_cast<double>(result.wav_bytes.size());
  test["strength"] = result.voice_effect_strength;
  test["wav_base64"] = Base64Encode(result.wav_bytes);
  return test;
}

HttpResponse TestReply(const VoiceTestResult& result) {
  JsonValue reply = JsonValue::MakeObject();
  reply["test"] = BuildVoiceTestJson(result);
  return MakeJsonResponse(reply);
}

}  // namespace

void HttpApi::RegisterVoiceTestRoutes() {
  routes_.emplace("/api/mixer/voice-test/record",
                  [this](const JsonValue& body) { return HandleVoiceTestRecord(body); });
  routes_.emplace("/api/mixer/voice-test/latest",
                  [this](const JsonValue&) { return HandleVoiceTestLatest(); });
  routes_.emplace("/api/mixer/voice-test/clear",
                  [this](const JsonValue&) { return HandleVoiceTestClear(); });
}

HttpResponse HttpApi::HandleVoiceTestRecord(const JsonValue& body) {
  const JsonValue* duration = body.Find("duration_seconds");
  if (duration == nullptr || duration->type != JsonValue::Type::Number ||
      !(std::fabs(duration->number_value - 5.0) <= 0.0001)) {
    return ApiRefusal(400, "invalid_voice_test_duration", "Voice test duration must be 5 seconds");
  }
  if (config_.mixer_engine == nullptr) {
    return ApiRefusal(500, "voice_test_unavailable", kEngineMissing);
  }
  VoiceTestResult result;
  std::string error;
  // Holds this request for the recording's five seconds, never a lock of the API.
  if (!config_.mixer_engine->RecordVoiceTest(5, &result, &error)) {
    return ApiRefusal(409, "voice_test_record_failed", error, "Voice test could not be recorded");
  }
  return TestReply(result);
}

HttpResponse HttpApi::HandleVoiceTestLatest() {
  if (config_.mixer_engine == nullptr) {
    return ApiRefusal(500, "voice_test_unavailable", kEngineMissing);
  }
  VoiceTestResult result;
  std::string error;
  if (!config_.mixer_engine->GetLatestVoiceTest(&result, &error)) {
    return ApiRefusal(404, "voice_test_not_found", error, "No voice test has been recorded yet");
  }
  return TestReply(result);
}

HttpResponse HttpApi::HandleVoiceTestClear() {
  if (config_.mixer_engine == nullptr) {
    return ApiRefusal(500, "voice_test_unavailable", kEngineMissing);
  }
  config_.mixer_engine->ClearVoiceTest();
  JsonValue reply = JsonValue::MakeObject();
  reply["cleared"] = true;
  return MakeJsonResponse(reply);
}

}  // namespace zennic

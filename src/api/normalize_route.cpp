// A louder or quieter copy of one clip, its peak brought to a chosen level by one gain.

#include <cmath>
#include <limits>

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "api/new_sound_file.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr double kSilentPeak = 1e-8;
constexpr char kOutputExists[] = "A normalized output file already exists";

// The largest magnitude among the finite samples; 0 when there is none.
double PeakAbsSample(const std::vector<float>& samples) {
  double peak = 0;
  for (float sample : samples) {
    if (std::isfinite(sample)) peak = std::max(peak, std::fabs(static_cast<double>(sample)));
  }
  return peak;
}

double GainToDbfs(double gain) {
  return gain > 0 ? 20 * std::log10(gain) : -std::numeric_limits<double>::infinity();
}

// Nothing, or the refusal of a target that is not -1, -3 or -6 dBFS.
std::optional<HttpResponse> ReadTargetPeak(const JsonValue& body, double* target) {
  const JsonValue* value = body.Find("target_peak_dbfs");
  *target = -1;
  if (value == nullptr) return std::nullopt;
  if (value->type != JsonValue::Type::Number) {
    return HttpApi::ErrorResponse(400, "invalid_target_peak", "target_peak_dbfs must be a number");
  }
  for (double allowed : {-1.0, -3.0, -6.0}) {
    if (std::fabs(value->number_value - allowed) <= 0.0001) {
      *target = value->number_value;
      return std::nullopt;
    }
  }
  return HttpApi::ErrorResponse(400, "invalid_target_peak",
                                "target_peak_dbfs must be -1, -3, or -6");
}

}  // namespace

HttpResponse HttpApi::HandleFilesNormalize(const JsonValue& body) {
  fs::path root = ProfileService::ActiveAudioDirectory(config_.runtime_state->GetSettings());
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  std::string text = Trim(ReadJsonString(body, "path"));
  if (text.empty()) return ErrorResponse(400, "path_invalid", "A file path is required");
  double target = -1;
  if (std::optional<HttpResponse> refusal = ReadTargetPeak(body, &target)) return *refusal;
  fs::path source = AbsoluteNormalPath(Utf8ToPath(text));
  if (std::optional<HttpResponse> refusal =
          CheckFileToEdit(root, source, "Normalize cannot use _originals folders",
                          /*require_sound_extension=*/true)) {
    return *refusal;
  }
  fs::path output;
  if (std::optional<HttpResponse> refusal = ChooseOutputPath(
          body, source.parent_path(), root,
          "Normalized file is outside the active profile audio folder",
          [&] {
            return MakeUniqueFilePath(source.parent_path() /
                                      (source.stem().string() + "_normalized.wav"));
          },
          &output)) {
    return *refusal;
  }

  std::vector<float> samples;
  std::string error;
  if (!DecodeToEngineFormat(source, &samples, &error)) {
    return ErrorResponse(409, "file_decode_failed", error);
  }
  const double peak_before = PeakAbsSample(samples);
  if (peak_before <= kSilentPeak) {
    return ErrorResponse(409, "silent_file",
                         "Selected file is silent or too quiet to normalize safely");
  }
  const double gain = std::pow(10.0, target / 20.0) / peak_before;
  for (float& sample : samples) {
    sample = std::isfinite(sample) ? static_cast<float>(sample * gain) : 0.0f;
  }
  const double peak_after = PeakAbsSample(samples);
  std::vector<int16_t> pcm = FloatToPcm16(samples);
  samples = std::vector<float>();

  HttpResponse taken = ErrorResponse(409, "destination_exists", kOutputExists);
  if (std::optional<HttpResponse> refusal =
          RefuseTakenPath(output, "Normalized output file", taken)) {
    return *refusal;
  }
  JsonValue reply = JsonValue::MakeObject();
  if (std::optional<HttpResponse> refusal =
          WriteNewClip(root, output, pcm, taken, "normalize_failed",
                       "Normalized WAV file could not be written", &reply)) {
    return *refusal;
  }
  reply["target_peak_dbfs"] = target;
  reply["peak_before_dbfs"] = GainToDbfs(peak_before);
  reply["peak_after_dbfs"] = GainToDbfs(peak_after);
  reply["gain_db"] = 20 * std::log10(gain);
  return MakeJsonResponse(reply);
}

}  // namespace zennic

// A louder or quieter copy of one clip, its peak brought to a chosen level by one gain.

#include <algorithm>
#include <cmath>
#include <limits>

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "api/new_sound_file.h"
#include "model/mixer_settings_json.h"
#include "core/confined_paths.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr double kSilentPeak = 1e-8;
constexpr char kOutputExists[] = "A normalized output file already exists";

// The largest magnitude among the finite samples, or `peak` when that is larger.
double PeakAbsSample(const float* samples, size_t count, double peak) {
  for (size_t i = 0; i < count; ++i) {
    if (std::isfinite(samples[i])) {
      peak = std::max(peak, std::fabs(static_cast<double>(samples[i])));
    }
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

  // Refused by the length the header declares before anything is decoded; the decode itself
  // stops at the same length, for a header that says nothing or lies.
  const HttpResponse too_long = ErrorResponse(413, "normalize_too_large",
                                              "Selected file is too long to normalize safely");
  OpenFile file;
  if (int error = OpenFileInside(root, source, &file)) return ConfinementRefusal(error);
  if (DeclaredEngineFrames(file, source).value_or(0) > kMaxClipFrames) return too_long;
  DecodedAudioData decoded;
  bool beyond_limit = false;
  std::string error;
  if (!DecodeClip(file, source, &decoded, &beyond_limit, &error)) {
    return beyond_limit ? too_long : ErrorResponse(409, "file_decode_failed", error);
  }
  // Two passes over the 48 kHz stereo stream, a block at a time: the peak, then the gain
  // applied on the way to the file. Only the decoded source is ever held whole.
  double peak_before = 0;
  StreamEngineFormat(decoded, [&](const float* stereo, size_t frames) {
    peak_before = PeakAbsSample(stereo, frames * 2, peak_before);
  });
  if (peak_before <= kSilentPeak) {
    return ErrorResponse(409, "silent_file",
                         "Selected file is silent or too quiet to normalize safely");
  }
  const double gain = std::pow(10.0, target / 20.0) / peak_before;

  HttpResponse taken = ErrorResponse(409, "destination_exists", kOutputExists);
  if (std::optional<HttpResponse> refusal =
          RefuseTakenPath(output, "Normalized output file", taken)) {
    return *refusal;
  }
  double peak_after = 0;
  const auto write = [&](const fs::path& file, std::string* write_error) {
    Pcm16WavWriter writer;
    if (!writer.Open(file, kEngineSampleRate, 2, EngineFrameCount(decoded) * 2, write_error)) {
      return false;
    }
    std::vector<float> scaled;
    std::vector<int16_t> pcm;
    bool appended = true;
    StreamEngineFormat(decoded, [&](const float* stereo, size_t frames) {
      scaled.resize(frames * 2);
      for (size_t i = 0; i < scaled.size(); ++i) {
        scaled[i] = std::isfinite(stereo[i]) ? static_cast<float>(stereo[i] * gain) : 0.0f;
      }
      peak_after = PeakAbsSample(scaled.data(), scaled.size(), peak_after);
      pcm.resize(scaled.size());
      FloatToPcm16(scaled.data(), scaled.size(), pcm.data());
      appended = appended && writer.Append(pcm.data(), pcm.size());
    });
    return writer.Finish(write_error) && appended;
  };
  JsonValue reply = JsonValue::MakeObject();
  if (std::optional<HttpResponse> refusal =
          WriteNewClip(root, output, write, taken, "normalize_failed",
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

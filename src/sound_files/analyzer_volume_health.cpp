#include "sound_files/analyzer_volume_health.h"

#include <cerrno>
#include <cmath>

#include "core/text.h"
#include "platform/file_sync.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/sample_conversion.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr int kMixerSampleRate = 48000;

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

// The largest finite magnitude of what the converter would produce, the samples at 48,000 Hz
// in stereo; NaN and infinite samples are left out. A stereo mix can peak above every channel.
double StereoPeakOf(const DecodedAudioData& decoded, uint64_t* frames) {
  double peak = 0.0;
  *frames = 0;
  StreamToStereo(decoded.samples, decoded.channels, decoded.channel_mask,
                 static_cast<int>(decoded.sample_rate), kMixerSampleRate,
                 [&](const float* stereo, size_t count) {
                   *frames += count;
                   for (size_t i = 0; i < count * 2; ++i) {
                     if (std::isfinite(stereo[i])) {
                       peak = std::max(peak, std::fabs(static_cast<double>(stereo[i])));
                     }
                   }
                 });
  return peak;
}

void Classify(double peak, AnalyzerVolumeHealth* health) {
  health->peak_dbfs = peak > 0.0 ? std::max(20.0 * std::log10(peak), -120.0) : -120.0;
  health->error_code.clear();
  health->recommended_target_peak_dbfs = -3.0;
  health->normalize_recommended = false;
  health->can_normalize = true;
  if (peak == 0.0 || health->peak_dbfs <= -60.0) {
    health->state = "silent";
    health->can_normalize = false;
  } else if (health->peak_dbfs <= -24.0) {
    health->state = "very_quiet";
    health->normalize_recommended = true;
  } else if (health->peak_dbfs <= -12.0) {
    health->state = "quiet";
    health->normalize_recommended = true;
  } else if (health->peak_dbfs > -0.3) {
    health->state = "near_clipping";
  } else {
    health->state = "volume_ok";
    health->recommended_target_peak_dbfs = -1.0;
  }
}

}  // namespace

JsonValue BuildVolumeHealthJson(const AnalyzerVolumeHealth& health) {
  JsonValue json = JsonValue::MakeObject();
  json["path"] = health.path;
  json["relative_path"] = health.relative_path;
  json["state"] = health.state;
  json["peak_dbfs"] = health.peak_dbfs;
  json["normalize_recommended"] = health.normalize_recommended;
  json["recommended_target_peak_dbfs"] = health.recommended_target_peak_dbfs;
  json["can_normalize"] = health.can_normalize;
  if (!health.error_code.empty()) json["error_code"] = health.error_code;
  return json;
}

bool AnalyzerService::CheckVolumeHealth(const fs::path& root, const fs::path& path,
                                        AnalyzerVolumeHealth* out, std::string* error) {
  if (out == nullptr) return Fail(error, "AnalyzerVolumeHealth output pointer is null");
  try {
    const FileStamp stamp = StampFile(path);
    bool outside = false;
    if (FindCachedInsideRoot(volume_health_cache_, stamp, root, out, &outside)) return true;

    AnalyzerVolumeHealth verdict;
    verdict.path = WideToUtf8(stamp.path);
    verdict.relative_path = RelativePathForRoot(root, stamp.path);
    // Verdicts that do not come from decoding are worked out afresh each time.
    const auto uncached = [&](const char* code) {
      verdict.error_code = code;
      *out = verdict;
    };
    if (!stamp.size_readable) {
      uncached("path_unavailable");
      return Fail(error, "Audio file could not be checked: " + stamp.size_error.message());
    }
    if (outside) {
      uncached("path_outside_profile_root");
      return Fail(error, "Path is outside the active profile folder");
    }
    if (!IsSupportedAudioExtension(stamp.path)) {
      uncached("file_unsupported");
      return true;
    }
    if (!media_foundation_available_ && IsMediaFoundationExtension(stamp.path)) {
      uncached("media_feature_pack_required");
      return true;
    }

    // Decoding failures are cached like measurements, so an unchanged file is not decoded again.
    const auto measured = [&] {
      std::lock_guard<std::mutex> lock(mutex_);
      StoreCached(&volume_health_cache_, stamp, root, verdict);
      *out = verdict;
      return true;
    };
    OpenFile file;
    DecodeOptions read_as;
    if (const int opened = OpenToRead(root, stamp.path, &file, &read_as)) {
      const bool outside = opened == ELOOP || opened == ENOTDIR;
      uncached(outside ? "path_outside_profile_root" : "path_unavailable");
      return Fail(error, outside ? "Path is outside the active profile folder"
                                 : "Audio file could not be opened: " + SystemErrorText(opened));
    }
    DecodedAudioData decoded;
    std::string decode_error;
    if (!DecodeAudioFile(file.ReopenPath(), &decoded, &decode_error, read_as) ||
        decoded.channels < 1 ||
        decoded.sample_rate < 1 || decoded.samples.empty()) {
      verdict.error_code = "file_decode_failed";
      if (error != nullptr) {
        *error = decode_error.empty() ? "Audio file could not be decoded" : decode_error;
      }
      return measured();
    }
    uint64_t stereo_frames = 0;
    const double peak = StereoPeakOf(decoded, &stereo_frames);
    if (stereo_frames == 0) {
      verdict.error_code = "file_decode_failed";
      if (error != nullptr) *error = "Audio file did not contain decodable samples";
      return measured();
    }
    Classify(peak, &verdict);
    return measured();
  } catch (...) {
    return FailWithCurrentException(
        "Audio file is unavailable: ", "Unknown volume health analysis failure", error);
  }
}

bool AnalyzerService::GetCachedVolumeHealth(const fs::path& path, AnalyzerVolumeHealth* out) {
  if (out == nullptr) return false;
  try {
    const FileStamp stamp = StampFile(path);
    std::lock_guard<std::mutex> lock(mutex_);
    return FindCached(volume_health_cache_, stamp, nullptr, out);
  } catch (...) {
    return false;
  }
}

}  // namespace zennic

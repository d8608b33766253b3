#include "api/new_sound_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "api/audio_folder_rules.h"
#include "api/file_name_validation.h"
#include "api/http_api.h"
#include "core/confined_paths.h"
#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/sample_conversion.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr char kNoSamples[] = "Selected file did not contain decodable audio samples";

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

}  // namespace

std::vector<int16_t> FloatToPcm16(const std::vector<float>& samples) {
  std::vector<int16_t> pcm(samples.size());
  FloatToPcm16(samples.data(), samples.size(), pcm.data());
  return pcm;
}

void FloatToPcm16(const float* samples, size_t count, int16_t* pcm) {
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(samples[i])) {
      pcm[i] = 0;
      continue;
    }
    double value = std::clamp(static_cast<double>(samples[i]), -1.0, 1.0);
    double scaled = std::nearbyint(value < 0 ? value * 32768.0 : value * 32767.0);
    pcm[i] = static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
  }
}

std::optional<uint64_t> DeclaredEngineFrames(const OpenFile& file, const fs::path& name) {
  AudioFormatInfo format;
  DecodeOptions options;
  options.named_as = name;
  if (!AnalyzeAudioFile(file.ReopenPath(), &format, nullptr, options) || format.sample_rate == 0 ||
      format.frame_count == 0) {
    return std::nullopt;
  }
  unsigned __int128 frames =
      (static_cast<unsigned __int128>(format.frame_count) * kEngineSampleRate +
       format.sample_rate / 2) /
      format.sample_rate;
  return frames > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(frames);
}

bool DecodeClip(const OpenFile& file, const fs::path& name, DecodedAudioData* decoded,
                bool* too_long, std::string* error) {
  std::string message;
  *too_long = false;
  DecodeOptions options;
  options.max_seconds = kMaxClipSeconds;
  options.named_as = name;
  if (!DecodeAudioFile(file.ReopenPath(), decoded, &message, options)) {
    *too_long = message == kAudioTooLong;
    return Fail(error, message.empty() ? "Selected file could not be decoded" : message);
  }
  if (decoded->channels < 1 || decoded->sample_rate < 1 || decoded->samples.empty() ||
      EngineFrameCount(*decoded) == 0) {
    return Fail(error, kNoSamples);
  }
  return true;
}

void StreamEngineFormat(const DecodedAudioData& decoded,
                        const std::function<void(const float* stereo, size_t frames)>& consume) {
  StreamToStereo(decoded.samples, decoded.channels, decoded.channel_mask,
                 static_cast<int>(decoded.sample_rate), kEngineSampleRate, consume);
}

uint64_t EngineFrameCount(const DecodedAudioData& decoded) {
  if (decoded.channels < 1) return 0;
  return ResampledFrameCount(decoded.samples.size() / static_cast<size_t>(decoded.channels),
                             static_cast<int>(decoded.sample_rate), kEngineSampleRate);
}

HttpResponse OutputNameTakenResponse() {
  return HttpApi::ErrorResponse(409, "destination_exists",
                                "An output file with that name already exists");
}

std::optional<HttpResponse> ChooseOutputPath(const JsonValue& body, const fs::path& folder,
                                             const fs::path& root,
                                             const std::string& outside_message,
                                             const std::function<fs::path()>& default_output,
                                             fs::path* output) {
  const auto refuse = &HttpApi::ErrorResponse;
  const JsonValue* name = body.Find("output_filename");
  if (name != nullptr && name->type != JsonValue::Type::String) {
    return refuse(400, "filename_invalid", "output_filename must be a string");
  }
  if (name == nullptr || Trim(name->string_value).empty()) {
    *output = default_output();
    if (output->empty()) return OutputNameTakenResponse();
  } else {
    fs::path accepted;
    std::string code;
    std::string message;
    if (!ValidateOutputFilename(name->string_value, &accepted, &code, &message)) {
      return refuse(400, code.empty() ? "filename_invalid" : code, message);
    }
    *output = AbsoluteNormalPath(folder / accepted);
  }
  const bool outside = !IsInsideAudioRoot(*output, root) || IsUnderOriginalsFolder(root, *output);
  if (!root.empty() && outside) return refuse(403, "path_outside_root", outside_message);
  return std::nullopt;
}

std::optional<HttpResponse> WriteNewClip(const fs::path& root, const fs::path& output,
                                         const ClipWriter& write, const HttpResponse& taken,
                                         const std::string& failure_code,
                                         const std::string& failure_message, JsonValue* reply) {
  ConfinedFolder folder;
  if (int opened = OpenFolderInside(root, output.parent_path(), &folder)) {
    return ConfinementRefusal(opened);
  }
  const std::string name = output.filename().string();
  std::string error;
  WorkFile work;
  bool written = CreateExclusiveWorkFile(folder, name, &work, &error);
  if (written && !write(work.path(), &error)) {
    DiscardWorkFile(work);
    written = false;
  }
  int published = 0;
  if (written && !PublishWorkFile(work, name, /*replace_existing=*/false, &error, &published)) {
    if (published == EEXIST) return taken;
    written = false;
  }
  if (!written) {
    return HttpApi::ErrorResponse(500, failure_code, error.empty() ? failure_message : error);
  }
  (*reply)["new_path"] = WideToUtf8(output);
  (*reply)["relative_path"] = RelativeUtf8Path(root, output);
  (*reply)["new_filename"] = WideToUtf8(output.filename());
  return std::nullopt;
}

}  // namespace zennic

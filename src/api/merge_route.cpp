// Two clips joined into one new WAV file, with an optional gap of silence between them.

#include <cmath>

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "api/new_sound_file.h"
#include "core/confined_paths.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr uint64_t kMaxInputBytes = 128ull << 20;
constexpr char kTooLarge[] = "Selected files are too large to merge safely";

HttpResponse TooLarge() { return HttpApi::ErrorResponse(413, "merge_too_large", kTooLarge); }

// Whether the lengths fit one merged clip; a gap that rounds below zero never fits.
bool FitsOneClip(uint64_t first, int64_t gap, uint64_t second) {
  const uint64_t gap_frames = static_cast<uint64_t>(gap);
  return first <= kMaxClipFrames && second <= kMaxClipFrames && gap_frames <= kMaxClipFrames &&
         first + gap_frames + second <= kMaxClipFrames;
}

// Nothing, or the refusal of a gap other than 0, 0.5, 1 or 2 seconds.
std::optional<HttpResponse> ReadGap(const JsonValue& body, double* gap) {
  const JsonValue* value = body.Find("gap_seconds");
  *gap = 0;
  if (value == nullptr) return std::nullopt;
  if (value->type == JsonValue::Type::Number) {
    for (double allowed : {0.0, 0.5, 1.0, 2.0}) {
      if (std::fabs(value->number_value - allowed) <= 0.0001) {
        *gap = value->number_value;
        return std::nullopt;
      }
    }
  }
  return HttpApi::ErrorResponse(400, "invalid_gap", "gap_seconds must be 0, 0.5, 1, or 2");
}

fs::path MakeMergedOutputName(const fs::path& first, const fs::path& second) {
  fs::path name = first.stem();
  name += "_plus_";
  name += second.stem();
  name += ".wav";
  return MakeUniqueFilePath(first.parent_path() / name);
}

}  // namespace

bool HttpApi::ValidateMergeInputs(const JsonValue& body, const fs::path& root, HttpResponse* reply,
                                  const std::string& key, const std::string& label, fs::path* path,
                                  uint64_t* size) {
  const auto refuse = [reply](int status, const std::string& code, const std::string& message) {
    *reply = ErrorResponse(status, code, message);
    return false;
  };
  const JsonValue* value = body.Find(key);
  std::string text = value != nullptr && value->type == JsonValue::Type::String
                         ? Trim(value->string_value)
                         : std::string();
  if (text.empty()) return refuse(400, "path_invalid", label + " is required");
  *path = AbsoluteNormalPath(Utf8ToPath(text));
  if (!IsInsideAudioRoot(*path, root)) {
    return refuse(403, "path_outside_root", label + " is outside the active profile audio folder");
  }
  if (IsUnderOriginalsFolder(root, *path)) {
    return refuse(403, "originals_folder_forbidden", "Merge cannot use _originals folders");
  }
  std::error_code code;
  fs::file_status status = fs::status(*path, code);
  if (code && code != std::errc::no_such_file_or_directory) {
    return refuse(409, "path_unavailable", label + " could not be checked: " + code.message());
  }
  if (!fs::exists(status)) return refuse(404, "file_not_found", label + " does not exist");
  if (!fs::is_regular_file(status)) return refuse(400, "path_invalid", label + " is not a file");
  if (!IsSupportedAudioExtension(*path)) {
    return refuse(409, "file_unsupported", label + " is not playable in the current build");
  }
  std::string reason;
  if (!ResolvePathInsideActiveRoot(*path, root, &reason)) {
    return refuse(403, "path_outside_root", reason);
  }
  uintmax_t bytes = fs::file_size(*path, code);
  if (code) {
    return refuse(409, "path_unavailable", label + " size could not be checked: " + code.message());
  }
  *size = bytes;
  return true;
}

HttpResponse HttpApi::HandleFilesMerge(const JsonValue& body) {
  fs::path root = ProfileService::ActiveAudioDirectory(config_.runtime_state->GetSettings());
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  fs::path first;
  fs::path second;
  uint64_t first_size = 0;
  uint64_t second_size = 0;
  HttpResponse refused;
  if (!ValidateMergeInputs(body, root, &refused, "first_path", "first_path", &first, &first_size) ||
      !ValidateMergeInputs(body, root, &refused, "second_path", "second_path", &second,
                           &second_size)) {
    return refused;
  }
  if (first_size > kMaxInputBytes || second_size > kMaxInputBytes ||
      first_size + second_size > kMaxInputBytes) {
    return TooLarge();
  }
  double gap_seconds = 0;
  if (std::optional<HttpResponse> refusal = ReadGap(body, &gap_seconds)) return *refusal;
  const int64_t gap = std::llround(gap_seconds * kEngineSampleRate);
  fs::path output;
  if (std::optional<HttpResponse> refusal = ChooseOutputPath(
          body, first.parent_path(), root,
          "Merged output is outside the active profile audio folder",
          [&] { return MakeMergedOutputName(first, second); }, &output)) {
    return *refusal;
  }
  const HttpResponse taken = OutputNameTakenResponse();
  if (std::optional<HttpResponse> refusal = RefuseTakenPath(output, "Merged output file", taken)) {
    return *refusal;
  }
  // Read where they were checked, whatever their folders' names lead to by now.
  OpenFile first_file;
  OpenFile second_file;
  if (int error = OpenFileInside(root, first, &first_file)) return ConfinementRefusal(error);
  if (int error = OpenFileInside(root, second, &second_file)) return ConfinementRefusal(error);
  if (!FitsOneClip(DeclaredEngineFrames(first_file, first).value_or(0), gap,
                   DeclaredEngineFrames(second_file, second).value_or(0))) {
    return TooLarge();
  }

  DecodedAudioData first_clip;
  DecodedAudioData second_clip;
  std::string error;
  bool too_long = false;
  if (!DecodeClip(first_file, first, &first_clip, &too_long, &error) ||
      !DecodeClip(second_file, second, &second_clip, &too_long, &error)) {
    return too_long ? TooLarge() : ErrorResponse(409, "file_decode_failed", error);
  }
  const uint64_t first_frames = EngineFrameCount(first_clip);
  const uint64_t second_frames = EngineFrameCount(second_clip);
  if (!FitsOneClip(first_frames, gap, second_frames)) return TooLarge();
  std::vector<float> merged;
  merged.reserve((first_frames + static_cast<uint64_t>(gap) + second_frames) * 2);
  const auto append = [&merged](const float* block, size_t frames) {
    merged.insert(merged.end(), block, block + frames * 2);
  };
  StreamEngineFormat(first_clip, append);
  merged.resize(merged.size() + static_cast<size_t>(gap) * 2, 0.0f);
  StreamEngineFormat(second_clip, append);
  first_clip = DecodedAudioData();
  second_clip = DecodedAudioData();
  const uint64_t total_frames = merged.size() / 2;
  std::vector<int16_t> pcm = FloatToPcm16(merged);
  merged = std::vector<float>();

  JsonValue reply = JsonValue::MakeObject();
  const auto write = [&pcm](const fs::path& file, std::string* write_error) {
    return WriteWavFile(file, kEngineSampleRate, 2, pcm, write_error);
  };
  if (std::optional<HttpResponse> refusal =
          WriteNewClip(root, output, write, taken, "merge_failed",
                       "Merged WAV file could not be written", &reply)) {
    return *refusal;
  }
  reply["first_path"] = WideToUtf8(first);
  reply["second_path"] = WideToUtf8(second);
  reply["gap_seconds"] = gap_seconds;
  reply["duration_seconds"] = static_cast<double>(total_frames) / kEngineSampleRate;
  return MakeJsonResponse(reply);
}

}  // namespace zennic

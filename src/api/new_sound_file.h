#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/json_value.h"
#include "platform/confined_folder.h"
#include "sound_files/audio_decoding.h"
#include "server/http_message.h"

namespace zennic {

// What the merge, normalise and trim-export routes share: the mixer's 48,000 Hz stereo form,
// the output name a request asks for, and a new WAV file that never replaces another one.

inline constexpr int kEngineSampleRate = 48000;
// The longest clip these routes take or make: ten minutes. Held at once as floats, that is
// already 230 MB.
inline constexpr double kMaxClipSeconds = 600;
inline constexpr uint64_t kMaxClipFrames = 600ull * kEngineSampleRate;

// Each sample clamped to full scale and rounded to the nearest step (ties to even); a sample
// that is not a finite number becomes silence. No dither: a level the user chose stays exact.
std::vector<int16_t> FloatToPcm16(const std::vector<float>& samples);
void FloatToPcm16(const float* samples, size_t count, int16_t* pcm);

// A clip is read from the file opened where it was checked (OpenFileInside); `name` is the
// clip's own path, whose extension tells its format.

// The length the file's header declares, in frames at 48,000 Hz; nothing when the header does
// not say. Read before decoding: a long file of few bytes would otherwise be decoded whole.
std::optional<uint64_t> DeclaredEngineFrames(const OpenFile& file,
                                             const std::filesystem::path& name);

// The file decoded at its own rate, at most kMaxClipSeconds long. False with an English
// sentence when it cannot be decoded or holds no samples; `too_long` tells a sound beyond the
// limit apart.
bool DecodeClip(const OpenFile& file, const std::filesystem::path& name, DecodedAudioData* decoded,
                bool* too_long, std::string* error);
// A decoded clip as interleaved 48,000 Hz stereo, handed on a block at a time.
void StreamEngineFormat(const DecodedAudioData& decoded,
                        const std::function<void(const float* stereo, size_t frames)>& consume);
// The number of 48,000 Hz frames StreamEngineFormat makes of the clip.
uint64_t EngineFrameCount(const DecodedAudioData& decoded);

// 409 "destination_exists": another file holds the output's name.
HttpResponse OutputNameTakenResponse();

// The output a request names in "output_filename" inside `folder`, or `default_output` when it
// names none (absent, or blank). Nothing, or the refusal: 400 for a name that is not a string
// or not a valid output name, 409 "destination_exists" when no default name is free, 403
// "path_outside_root" with `outside_message` when the output lies outside `root` or under its
// "_originals" (an empty root, where the route allows one, sets no bound).
std::optional<HttpResponse> ChooseOutputPath(
    const JsonValue& body, const std::filesystem::path& folder, const std::filesystem::path& root,
    const std::string& outside_message,
    const std::function<std::filesystem::path()>& default_output, std::filesystem::path* output);

// Writes a clip into the file at the path it is given.
using ClipWriter = std::function<bool(const std::filesystem::path& file, std::string* error)>;

// Has `write` fill a work file beside `output`, in its folder opened below the root, and
// publishes it only where nothing is; no work file is left behind. Nothing, with "new_path",
// "relative_path" and "new_filename" set in `reply`; or the refusal: `taken` when another file
// got there first, else 500 with `failure_code` and the writer's sentence (or
// `failure_message`).
std::optional<HttpResponse> WriteNewClip(const std::filesystem::path& root,
                                         const std::filesystem::path& output,
                                         const ClipWriter& write, const HttpResponse& taken,
                                         const std::string& failure_code,
                                         const std::string& failure_message, JsonValue* reply);

}  // namespace zennic

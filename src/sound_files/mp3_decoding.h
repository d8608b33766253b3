#pragma once

#include <filesystem>
#include <string>

#include "sound_files/audio_decoding.h"

namespace zennic {

// MP3 files for the decoding front end, which resets `out` first and routes by extension.
bool DecodeMp3File(const std::filesystem::path& path, DecodedAudioData* out,
                   std::string* error, const DecodeOptions& options);
bool ProbeMp3File(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error,
                const DecodeOptions& options);

}  // namespace zennic

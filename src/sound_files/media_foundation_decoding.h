#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/media_source_reader.h"
#include "sound_files/audio_decoding.h"

namespace zennic {

// Shown whenever AAC, M4A, WMA and ASF decoding is unavailable and no other text is at hand.
inline constexpr char kMediaFeaturePackMessage[] =
    "AAC/M4A/WMA files require Windows Media Feature Pack. Install it from Settings > Apps > "
    "Optional features.";

struct MediaFoundationStatus {
  bool available = false;
  std::string message;  // empty when available
};

// Starts the media framework on the first call from any thread; later calls return the stored
// outcome. The framework is never stopped.
MediaFoundationStatus EnsureMediaFoundation();
bool TryStartMediaFoundation();

// Both expect `out` already reset by the caller.
bool DecodeWithMediaFoundation(const std::filesystem::path& path, DecodedAudioData* out,
                               std::string* error, const DecodeOptions& options);
bool ProbeWithMediaFoundation(const std::filesystem::path& path, AudioFormatInfo* out,
                              std::string* error,
                const DecodeOptions& options);

// Container and codec come from the extension, not from the stream.
void FillFormatFromMediaType(const std::filesystem::path& path, const MediaAudioType& type,
                             uint64_t duration_100ns, AudioFormatInfo* out);

}  // namespace zennic

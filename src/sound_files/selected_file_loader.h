#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sound_files/analyzer_service.h"

namespace zennic {

// A clip decoded and ready for the mixer; a plain value that refers to nothing else.
struct LoadedAudioFile {
  std::string path;            // absolute, lexically normalised
  uint64_t size_bytes = 0;     // at load time
  int64_t modified_ticks = 0;  // last-write time (see FileTimeToTicks); 0 when unreadable
  uint32_t sample_rate = 0;
  uint32_t channels = 0;
  int32_t duration_ms = 0;
  std::vector<float> samples;  // interleaved, `channels` per frame
  AnalyzerFileMetadata metadata;
};

// Turns the clip the settings name into samples the mixer can play as they are: only files the
// analyzer rates "compatible" are accepted, so nothing is resampled at play time. The last clip
// is kept, so a repeated press replays an unchanged file without reading it again.
class SelectedFileLoader {
 public:
  explicit SelectedFileLoader(AnalyzerService* analyzer);
  SelectedFileLoader(const SelectedFileLoader&) = delete;
  SelectedFileLoader& operator=(const SelectedFileLoader&) = delete;

  // `root` is the active profile's audio folder (may be empty); `path` the setting as stored.
  // On failure `out` is left incomplete and `error` says why.
  bool Load(const std::filesystem::path& root, const std::string& path, LoadedAudioFile* out,
            std::string* error);
  // The same, sharing the kept clip instead of copying its samples.
  bool LoadShared(const std::filesystem::path& root, const std::string& path,
            std::shared_ptr<const LoadedAudioFile>* out, std::string* error);
  // Drops the kept clip.
  void Clear();

 private:
  // Steps that may throw; `Load` turns what they raise into its messages.
  bool LoadFile(const std::filesystem::path& root, const std::string& path,
                std::shared_ptr<const LoadedAudioFile>* out, std::string* error);

  AnalyzerService* analyzer_;
  std::mutex mutex_;  // guards cached_
  std::shared_ptr<const LoadedAudioFile> cached_;
};

}  // namespace zennic

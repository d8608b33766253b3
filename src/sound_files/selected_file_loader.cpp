#include "sound_files/selected_file_loader.h"

#include <system_error>
#include <utility>

#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

}  // namespace

SelectedFileLoader::SelectedFileLoader(AnalyzerService* analyzer) : analyzer_(analyzer) {}

bool SelectedFileLoader::Load(const fs::path& root, const std::string& path,
                              LoadedAudioFile* out, std::string* error) {
  if (out == nullptr) return Fail(error, "LoadedAudioFile output pointer is null");
  std::shared_ptr<const LoadedAudioFile> shared;
  if (!LoadShared(root, path, &shared, error)) return false;
  *out = *shared;
  return true;
}

bool SelectedFileLoader::LoadShared(const fs::path& root, const std::string& path,
                                    std::shared_ptr<const LoadedAudioFile>* out,
                                    std::string* error) {
  if (out == nullptr) return Fail(error, "LoadedAudioFile output pointer is null");
  if (analyzer_ == nullptr) return Fail(error, "AnalyzerService is not configured");
  if (path.empty()) return Fail(error, "No file has been selected");
  try {
    return LoadFile(root, path, out, error);
  } catch (const fs::filesystem_error& failure) {
    return Fail(error, std::string("Selected audio file is unavailable: ") + failure.what());
  } catch (const std::exception& failure) {
    return Fail(error, failure.what());
  } catch (...) {
    return Fail(error, "Unknown audio file load failure");
  }
}

bool SelectedFileLoader::LoadFile(const fs::path& root, const std::string& path,
                                  std::shared_ptr<const LoadedAudioFile>* out,
                                  std::string* error) {
  const fs::path file = AbsoluteNormalPath(Utf8ToPath(path));
  std::error_code code;
  if (!fs::exists(file, code)) {
    if (code) throw fs::filesystem_error("exists", file, code);
    return Fail(error, "Selected file does not exist");
  }
  const uint64_t size = fs::file_size(file);
  const fs::file_time_type written = fs::last_write_time(file, code);
  const int64_t ticks = code ? 0 : FileTimeToTicks(written);
  const std::string file_text = WideToUtf8(file);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cached_ && cached_->path == file_text && cached_->size_bytes == size &&
        cached_->modified_ticks == ticks) {
      *out = cached_;
      return true;
    }
  }

  AnalyzerFileMetadata metadata;
  std::string message;
  if (!analyzer_->AnalyzeFile(root, file, &metadata, &message)) {
    return Fail(error, message.empty() ? "Selected file could not be analyzed" : message);
  }
  if (metadata.compatibility_state != "compatible") {
    return Fail(error, metadata.issue_messages.empty() ? "Selected file is not compatible"
                                                       : metadata.issue_messages.front());
  }
  DecodedWavData decoded;
  if (!DecodeWavFile(file, &decoded, &message)) {
    return Fail(error, message.empty() ? "Selected file could not be decoded" : message);
  }
  // The mixer plays samples as they are: what was decoded must itself be the target format,
  // whatever the analysis said of the file before.
  AnalyzerFileMetadata decoded_format;
  decoded_format.container = "WAV";
  decoded_format.codec = decoded.codec;
  decoded_format.sample_rate = static_cast<int32_t>(decoded.sample_rate);
  decoded_format.channels = decoded.channels;
  decoded_format.bits_per_sample = static_cast<int32_t>(decoded.bits_per_sample);
  const std::vector<TargetFormatIssue> issues = FindTargetFormatIssues(decoded_format);
  if (!issues.empty()) return Fail(error, issues.front().message);

  auto clip = std::make_shared<LoadedAudioFile>();
  clip->path = file_text;
  clip->size_bytes = size;
  clip->modified_ticks = ticks;
  clip->sample_rate = decoded.sample_rate;
  clip->channels = static_cast<uint32_t>(decoded.channels);
  clip->duration_ms = metadata.duration_ms;
  clip->samples = std::move(decoded.samples);
  clip->metadata = std::move(metadata);
  *out = clip;
  std::shared_ptr<const LoadedAudioFile> replaced;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    replaced = std::exchange(cached_, std::move(clip));
  }
  return true;
}

void SelectedFileLoader::Clear() {
  std::shared_ptr<const LoadedAudioFile> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped = std::move(cached_);
}

}  // namespace zennic

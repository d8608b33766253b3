#include "sound_files/converter_service.h"

#include <cerrno>

#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/file_sync.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/sample_conversion.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr uint32_t kTargetSampleRate = 48000;
constexpr int32_t kTargetChannels = 2;
constexpr char kTargetExists[] = "Conversion target exists and overwrite is disabled";
constexpr char kTargetChanged[] = "Conversion target was written by another conversion meanwhile";

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

// A move that may cross file systems by copying, and never replaces: returns 0 or an errno.
int MoveFileAllowingCopy(const fs::path& from, const fs::path& to) {
  const int moved = MoveFileWithoutReplacing(from, to);
  if (moved != EXDEV) return moved;
  std::error_code code;
  fs::copy_file(from, to, fs::copy_options::none, code);
  if (code) return code.value();
  if (SyncFileToDisk(to) != 0 || !fs::remove(from, code)) {
    std::error_code ignored;
    fs::remove(to, ignored);
    return code ? code.value() : EIO;
  }
  return 0;
}

// What a path held, to tell whether another conversion wrote it meanwhile.
struct PathState {
  bool exists = false;
  uintmax_t size = 0;
  fs::file_time_type written{};
  bool operator==(const PathState&) const = default;
};

PathState ReadPathState(const fs::path& path) {
  PathState state;
  std::error_code code;
  state.size = fs::file_size(path, code);
  if (code) return PathState();
  state.exists = true;
  state.written = fs::last_write_time(path, code);
  return state;
}

}  // namespace

ConverterService::ConverterService(AnalyzerService* analyzer) : analyzer_(analyzer) {}

bool ConverterService::Convert(const fs::path& root, const std::vector<fs::path>& paths,
                               bool keep_originals, bool overwrite_existing, ConvertResult* result,
                               std::string* error) {
  if (result == nullptr) return Fail(error, "ConvertResult output pointer is null");
  *result = ConvertResult();
  for (const fs::path& path : paths) {
    ConvertItemResult item;
    if (!ConvertFile(root, path, keep_originals, overwrite_existing, &item)) {
      ++result->failed;
    } else if (item.status == "converted") {
      ++result->converted;
    } else {
      ++result->skipped;
    }
    result->results.push_back(std::move(item));
  }
  return true;
}

bool ConverterService::ConvertFile(const fs::path& root, const fs::path& source,
                                   bool keep_originals, bool overwrite_existing,
                                   ConvertItemResult* item) {
  if (item == nullptr) return false;
  item->source_path = WideToUtf8(AbsoluteNormalPath(source));
  item->status = "failed";
  item->code = "conversion_failed";
  if (analyzer_ == nullptr) {
    item->message = "AnalyzerService is not configured";
    return false;
  }
  AnalyzerFileMetadata metadata;
  std::string error;
  if (!analyzer_->AnalyzeFile(root, source, &metadata, &error)) {
    item->message = error.empty() ? "Failed to analyze file before conversion" : error;
    return false;
  }
  if (metadata.compatibility_state == "compatible") {
    item->status = "skipped";
    item->code.clear();
    item->message = "File is already compatible";
    item->target_path = metadata.path;
    return true;
  }
  if (!metadata.convertible) {
    const bool has_issue = !metadata.issue_codes.empty();
    item->code = has_issue ? metadata.issue_codes.front() : "decoder_unavailable";
    item->message = has_issue ? metadata.issue_messages.front()
                              : "This file format cannot be converted in the current build";
    if (item->code != "media_feature_pack_required") return false;
    item->status = "skipped";
    item->target_path = metadata.path;
    return true;
  }

  const fs::path target = ConvertTargetPath(source);
  const PathState target_before = ReadPathState(target);
  DecodedAudioData decoded;
  if (!DecodeAudioFile(source, &decoded, &error)) {
    item->message = error.empty() ? "Audio file could not be decoded" : error;
    return false;
  }
  // A sound that decodes to nothing never takes the place of its source.
  if (decoded.samples.empty()) {
    item->message = "Audio file did not contain decodable samples";
    return false;
  }
  const auto rate = static_cast<int>(decoded.sample_rate);
  const uint64_t frames = ResampledFrameCount(
      decoded.samples.size() / static_cast<size_t>(decoded.channels), rate, kTargetSampleRate);
  if (frames * kTargetChannels > kMaxAudioSamples) {
    item->message = "WAV output is too large";
    return false;
  }
  std::vector<int16_t> samples = ToStereoPcm16(decoded.samples, decoded.channels,
                                               decoded.channel_mask, rate, kTargetSampleRate);
  decoded = DecodedAudioData();
  fs::path work;
  if (!CreateExclusiveWorkFile(target, &work, &error)) {
    item->message = error;
    return false;
  }
  if (!WriteWavFile(work, kTargetSampleRate, kTargetChannels, samples, &error)) {
    RemoveFileIfPresent(work, nullptr);
    item->message = error.empty() ? "Converted WAV file could not be written" : error;
    return false;
  }
  if (!ValidateConvertedWav(work, &error)) {
    RemoveFileIfPresent(work, nullptr);
    item->message = error.empty() ? "Converted WAV file failed validation" : error;
    return false;
  }
  fs::path backup;
  {
    std::lock_guard<std::mutex> lock(publish_mutex_);
    if (ReadPathState(target) != target_before) {
      RemoveFileIfPresent(work, nullptr);
      item->code = "target_exists";
      item->message = kTargetChanged;
      return false;
    }
    if (!FinalizeConvertedFile(root, source, target, work, keep_originals, overwrite_existing,
                               &backup, &error)) {
      RemoveFileIfPresent(work, nullptr);
      item->code = error.find("target exists") != std::string::npos ? "target_exists"
                                                                    : "conversion_failed";
      item->message = error;
      return false;
    }
  }
  item->status = "converted";
  item->code.clear();
  item->message = "Converted to 48000 Hz stereo PCM WAV";
  item->target_path = WideToUtf8(AbsoluteNormalPath(target));
  item->backup_path = backup.empty() ? "" : WideToUtf8(AbsoluteNormalPath(backup));
  return true;
}

fs::path ConvertTargetPath(const fs::path& source) {
  if (LowerCaseExtension(source) == ".wav") return source;
  return source.parent_path() / (source.stem().string() + ".wav");
}

fs::path BuildOriginalsBackupPath(const fs::path& root, const fs::path& source) {
  // Without a root the originals are kept beside the source, never in the working folder.
  const fs::path base = root.empty() ? AbsoluteNormalPath(source).parent_path() : root;
  std::error_code source_error;
  std::error_code root_error;
  const fs::path canonical_source = fs::weakly_canonical(source, source_error);
  const fs::path canonical_root = fs::weakly_canonical(base, root_error);
  fs::path relative;
  if (!source_error && !root_error) relative = canonical_source.lexically_relative(canonical_root);
  // A source outside the root keeps only its name, so the backup never leaves "_originals".
  if (relative.empty() || *relative.begin() == "..") relative = source.filename();
  return MakeUniqueFilePath(AbsoluteNormalPath(base) / "_originals" / relative);
}

bool RemoveFileIfPresent(const fs::path& path, std::string* error) {
  std::error_code code;
  fs::remove(path, code);
  if (!code) return true;
  return Fail(error, "Failed to remove existing file: " + code.message());
}

bool MoveConvertedFile(const fs::path& temp, const fs::path& target, bool replace_existing,
                       std::string* error) {
  std::string reason;
  int code = 0;
  if (PublishWorkFile(temp, target, replace_existing, &reason, &code)) return true;
  if (code == EEXIST && !replace_existing) return Fail(error, kTargetExists);
  return Fail(error, "Failed to finalize converted file: " + reason);
}

bool ReplaceWithConverted(const fs::path& target, const fs::path& temp, const fs::path* backup,
                          std::string* error) {
  const std::string failure = "Failed to replace original with converted file: ";
  if (backup != nullptr) {
    // The old file gets its backup name before the swap: a second link costs no copy, and
    // a copy serves where links cannot be made.
    std::error_code code;
    fs::create_hard_link(target, *backup, code);
    if (code && code != std::errc::file_exists) {
      code.clear();
      fs::copy_file(target, *backup, fs::copy_options::none, code);
    }
    if (code) return Fail(error, failure + code.message());
  }
  std::string reason;
  if (!PublishWorkFile(temp, target, /*replace_existing=*/true, &reason)) {
    if (backup != nullptr) {
      std::error_code ignored;
      fs::remove(*backup, ignored);
    }
    return Fail(error, failure + reason);
  }
  return true;
}

bool ValidateConvertedWav(const fs::path& path, std::string* error) {
  WavFormatInfo format;
  std::string message;
  if (!ReadWavFormatInfo(path, &format, &message)) {
    return Fail(error, message.empty() ? "Converted WAV file could not be validated" : message);
  }
  if (!format.parsed || !format.decodable || format.sample_rate != kTargetSampleRate ||
      format.channels != kTargetChannels || format.bits_per_sample != 16) {
    return Fail(error, "Converted WAV file failed validation");
  }
  return true;
}

bool FinalizeConvertedFile(const fs::path& root, const fs::path& source, const fs::path& target,
                           const fs::path& temp, bool keep_originals, bool overwrite_existing,
                           fs::path* backup, std::string* error) {
  if (backup != nullptr) backup->clear();
  if (AbsoluteNormalPath(target) == AbsoluteNormalPath(source)) {
    fs::path backup_path;
    if (keep_originals) {
      backup_path = BuildOriginalsBackupPath(root, source);
      if (backup_path.empty()) {
        return Fail(error,
                    "Failed to replace original with converted file: " + SystemErrorText(EEXIST));
      }
      if (!EnsureParentDirectory(backup_path, error)) return false;
    }
    if (!ReplaceWithConverted(target, temp, keep_originals ? &backup_path : nullptr, error)) {
      return false;
    }
    if (backup != nullptr) *backup = backup_path;
    return true;
  }

  if (fs::exists(target) && !overwrite_existing) return Fail(error, kTargetExists);
  if (!fs::exists(temp)) return Fail(error, "Converted temporary file is missing");
  // The move replaces an existing target in one step, the converted file on the disk before
  // the source goes; nothing is deleted beforehand.
  if (!MoveConvertedFile(temp, target, overwrite_existing, error)) return false;
  if (!keep_originals) {
    std::error_code code;
    fs::remove(source, code);
    if (code) {
      return Fail(error,
                  "Converted file written, but failed to delete original: " + code.message());
    }
    return true;
  }
  const fs::path backup_path = BuildOriginalsBackupPath(root, source);
  if (backup_path.empty()) {
    return Fail(error, "Failed to move original file to backup: " + SystemErrorText(EEXIST));
  }
  if (!EnsureParentDirectory(backup_path, error)) return false;
  const int moved = MoveFileAllowingCopy(source, backup_path);
  if (moved != 0) {
    return Fail(error, "Failed to move original file to backup: " + SystemErrorText(moved));
  }
  if (backup != nullptr) *backup = backup_path;
  return true;
}

JsonValue BuildConvertResultJson(const ConvertResult& result) {
  JsonValue json = JsonValue::MakeObject();
  JsonValue& summary = json["summary"];
  summary = JsonValue::MakeObject();
  summary["converted"] = static_cast<double>(result.converted);
  summary["skipped"] = static_cast<double>(result.skipped);
  summary["failed"] = static_cast<double>(result.failed);
  JsonValue items = JsonValue::MakeArray();
  for (const ConvertItemResult& item : result.results) {
    JsonValue entry = JsonValue::MakeObject();
    entry["source_path"] = item.source_path;
    entry["target_path"] = item.target_path;
    entry["backup_path"] = JsonValue::StringOrNull(item.backup_path);
    entry["status"] = item.status;
    entry["code"] = JsonValue::StringOrNull(item.code);
    entry["message"] = item.message;
    items.PushBack(entry);
  }
  json["results"] = std::move(items);
  return json;
}

}  // namespace zennic

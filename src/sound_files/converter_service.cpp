#include "sound_files/converter_service.h"

#include <cerrno>

#include "core/confined_paths.h"
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

// The source's backup under "_originals" (BuildOriginalsBackupPath), its folders made below
// the root; without a root the originals are kept beside the source.
bool OpenBackupPlace(const fs::path& root, const fs::path& source, FilePlace* backup,
                     fs::path* backup_path, std::string* error) {
  *backup_path = BuildOriginalsBackupPath(root, source);
  if (backup_path->empty()) return Fail(error, SystemErrorText(EEXIST));
  const fs::path base = root.empty() ? AbsoluteNormalPath(source).parent_path() : root;
  backup->name = backup_path->filename().string();
  if (int made = CreateFolderInside(base, backup_path->parent_path(), &backup->folder)) {
    return Fail(error, "Failed to create directory: " + SystemErrorText(made));
  }
  return true;
}

// Publishes the checked work file in place of the source or beside it, and keeps the source
// under "_originals" or deletes it. Nothing is deleted before its replacement is in place, so
// a failed step loses no file.
bool FinalizeConvertedFile(const fs::path& root, const fs::path& source, const FilePlace& place,
                           const WorkFile& work, bool keep_originals, bool overwrite_existing,
                           fs::path* backup, std::string* error) {
  backup->clear();
  const std::string target = ConvertTargetPath(place.name).string();
  FilePlace kept;
  fs::path kept_path;
  if (target == place.name) {
    const std::string failure = "Failed to replace original with converted file: ";
    if (keep_originals) {
      std::string reason;
      if (!OpenBackupPlace(root, source, &kept, &kept_path, &reason)) {
        return Fail(error, failure + reason);
      }
      // The old file gets its backup name before the swap: a second link costs no copy, and a
      // copy serves where links cannot be made.
      int kept_as = place.folder.Link(place.name, kept.folder, kept.name);
      if (kept_as != 0 && kept_as != EEXIST) kept_as = CopyFileToPlace(place, kept);
      if (kept_as != 0) return Fail(error, failure + SystemErrorText(kept_as));
    }
    std::string reason;
    if (!PublishWorkFile(work, target, /*replace_existing=*/true, &reason)) {
      if (keep_originals) kept.folder.RemoveFile(kept.name);
      return Fail(error, failure + reason);
    }
    *backup = kept_path;
    return true;
  }

  if (place.folder.TypeOf(target) != EntryType::Missing && !overwrite_existing) {
    return Fail(error, kTargetExists);
  }
  // The move replaces an existing target in one step, the converted file on the disk before
  // the source goes; nothing is deleted beforehand.
  std::string reason;
  int published = 0;
  if (!PublishWorkFile(work, target, overwrite_existing, &reason, &published)) {
    if (published == EEXIST && !overwrite_existing) return Fail(error, kTargetExists);
    return Fail(error, "Failed to finalize converted file: " + reason);
  }
  if (!keep_originals) {
    if (int removed = place.folder.RemoveFile(place.name)) {
      return Fail(error, "Converted file written, but failed to delete original: " +
                             SystemErrorText(removed));
    }
    return true;
  }
  if (!OpenBackupPlace(root, source, &kept, &kept_path, &reason)) {
    return Fail(error, "Failed to move original file to backup: " + reason);
  }
  if (int moved = MoveFileToPlace(place, kept)) {
    return Fail(error, "Failed to move original file to backup: " + SystemErrorText(moved));
  }
  *backup = kept_path;
  return true;
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
  // Read, written and moved in the folder the root allows, whatever a folder's name leads to
  // by now.
  OpenFile file;
  FilePlace place;
  int opened = OpenFileInside(root, source, &file);
  if (opened != 0 || (opened = OpenParentInside(root, source, &place)) != 0) {
    item->code = opened == ELOOP || opened == ENOTDIR ? "path_outside_root" : "conversion_failed";
    item->message = "Audio file could not be opened: " + SystemErrorText(opened);
    return false;
  }
  DecodeOptions read_as;
  read_as.named_as = source;
  DecodedAudioData decoded;
  if (!DecodeAudioFile(file.ReopenPath(), &decoded, &error, read_as)) {
    if (!decoded.issue_code.empty()) item->code = decoded.issue_code;
    item->message = error.empty() ? "Audio file could not be decoded" : error;
    return false;
  }
  // A sound that decodes to nothing, or to part of itself, never takes the place of its source.
  if (decoded.samples.empty()) {
    item->message = "Audio file did not contain decodable samples";
    return false;
  }
  if (IsCutOff(decoded, &item->message)) {
    item->code = kAudioCutOffCode;
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
  WorkFile work;
  if (!CreateExclusiveWorkFile(place.folder, target.filename().string(), &work, &error)) {
    item->message = error;
    return false;
  }
  if (!WriteWavFile(work.path(), kTargetSampleRate, kTargetChannels, samples, &error)) {
    DiscardWorkFile(work);
    item->message = error.empty() ? "Converted WAV file could not be written" : error;
    return false;
  }
  if (!ValidateConvertedWav(work.path(), &error)) {
    DiscardWorkFile(work);
    item->message = error.empty() ? "Converted WAV file failed validation" : error;
    return false;
  }
  fs::path backup;
  {
    std::lock_guard<std::mutex> lock(publish_mutex_);
    if (ReadPathState(target) != target_before) {
      DiscardWorkFile(work);
      item->code = "target_exists";
      item->message = kTargetChanged;
      return false;
    }
    if (!FinalizeConvertedFile(root, source, place, work, keep_originals, overwrite_existing,
                               &backup, &error)) {
      DiscardWorkFile(work);
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

#include "sound_files/analyzer_service.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <tuple>
#include <unordered_set>

#include "core/confined_paths.h"
#include "core/paths.h"
#include "core/text.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/media_foundation_decoding.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr char kOutsideRoot[] = "Path is outside the active profile folder";

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

std::string FormatModifiedUtc(const fs::path& path) {
  std::error_code code;
  const fs::file_time_type written = fs::last_write_time(path, code);
  if (code) return "";
  const auto seconds =
      std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(written));
  const std::time_t time = std::chrono::system_clock::to_time_t(seconds);
  std::tm parts{};
  if (::gmtime_r(&time, &parts) == nullptr) return "";
  char buffer[32];
  const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(buffer, length);
}

void AddIssue(AnalyzerFileMetadata* out, const std::string& code, const std::string& message) {
  out->issue_codes.push_back(code);
  out->issue_messages.push_back(message);
}

// The record listed for a file whose analysis failed.
AnalyzerFileMetadata FailedFileRecord(const fs::path& path, const std::string& message) {
  AnalyzerFileMetadata record;
  const fs::path normal = AbsoluteNormalPath(path);
  record.path = WideToUtf8(normal);
  record.name = WideToUtf8(normal.filename());
  record.extension = ToLower(normal.extension().string());
  record.compatibility_state = "error";
  AddIssue(&record, "file_corrupt", message.empty() ? "Failed to analyze file" : message);
  return record;
}

void SortAndCount(AnalyzeResult* result) {
  std::vector<std::pair<std::string, AnalyzerFileMetadata>> keyed;
  keyed.reserve(result->files.size());
  for (AnalyzerFileMetadata& file : result->files) {
    std::string key = ToLower(file.relative_path.empty() ? file.name : file.relative_path);
    keyed.emplace_back(std::move(key), std::move(file));
  }
  // The path breaks ties, so names that differ only in case keep one order.
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first, a.second.path) < std::tie(b.first, b.second.path);
  });
  result->files.clear();
  result->summary = AnalyzeSummary();
  for (auto& [key, file] : keyed) {
    AnalyzeSummary& summary = result->summary;
    ++summary.total;
    if (file.compatibility_state == "compatible") {
      ++summary.compatible;
    } else if (file.compatibility_state == "needs_conversion") {
      ++summary.needs_conversion;
    } else if (file.compatibility_state == "unsupported") {
      ++summary.unsupported;
    } else {
      ++summary.error;
    }
    result->files.push_back(std::move(file));
  }
}

JsonValue StringArray(const std::vector<std::string>& texts) {
  JsonValue array = JsonValue::MakeArray();
  for (const std::string& text : texts) array.PushBack(text);
  return array;
}

}  // namespace

std::vector<TargetFormatIssue> FindTargetFormatIssues(const AnalyzerFileMetadata& format) {
  const AnalyzerTargetFormat& target = format.target;
  std::vector<TargetFormatIssue> issues;
  if (format.container != target.container) {
    issues.push_back({"container_not_wav", "Container must be WAV"});
  }
  if (format.sample_rate != target.sample_rate) {
    issues.push_back({"sample_rate_not_48000", "Sample rate must be 48000 Hz"});
  }
  if (format.channels != target.channels) {
    issues.push_back({"channel_count_not_stereo", "Channel count must be stereo"});
  }
  if (format.bits_per_sample != target.bits_per_sample || format.codec != target.codec) {
    issues.push_back({"codec_not_pcm16", "Codec must be 16-bit PCM"});
  }
  return issues;
}

bool IsSupportedAudioExtension(const fs::path& path) {
  static const std::unordered_set<std::string> kExtensions = {
      ".wav", ".mp3", ".ogg", ".flac", ".aac", ".adts", ".m4a", ".wma", ".asf"};
  return kExtensions.count(ToLower(path.extension().string())) > 0;
}

AnalyzerService::AnalyzerService(AnalyzerServiceOptions options) {
  if (options.preset) {
    media_foundation_available_ = options.media_foundation_available;
    media_foundation_message_ = std::move(options.media_foundation_message);
    return;
  }
  const MediaFoundationStatus status = EnsureMediaFoundation();
  media_foundation_available_ = status.available;
  media_foundation_message_ = status.message;
}

AnalyzerService::FileStamp AnalyzerService::StampFile(const fs::path& path) {
  FileStamp stamp;
  stamp.path = AbsoluteNormalPath(path);
  // Exact, as the file system compares names here: "Horn.wav" and "horn.wav" are two files.
  stamp.key = stamp.path.string();
  const uintmax_t size = fs::file_size(stamp.path, stamp.size_error);
  stamp.size_readable = !stamp.size_error;
  stamp.size = stamp.size_readable ? size : UINT64_MAX;
  std::error_code time_error;
  const fs::file_time_type written = fs::last_write_time(stamp.path, time_error);
  stamp.ticks = time_error ? 0 : written.time_since_epoch().count();
  return stamp;
}

bool AnalyzerService::FailWithCurrentException(const char* filesystem_prefix, const char* unknown,
                                               std::string* error) {
  try {
    throw;
  } catch (const fs::filesystem_error& failure) {
    return Fail(error, filesystem_prefix + std::string(failure.what()));
  } catch (const std::exception& failure) {
    return Fail(error, failure.what());
  } catch (...) {
    return Fail(error, unknown);
  }
}

std::string AnalyzerService::RootText(const fs::path& root) {
  return WideToUtf8(AbsoluteNormalPath(root));
}

int AnalyzerService::OpenToRead(const fs::path& root, const fs::path& path, OpenFile* file,
                                DecodeOptions* options) {
  options->named_as = path;
  return OpenFileInside(root, path, file);
}

bool AnalyzerService::IsOutsideRoot(const fs::path& root, const fs::path& path) {
  return !RootText(root).empty() && !IsPathInsideRoot(path, root);
}

std::string AnalyzerService::RelativePathForRoot(const fs::path& root, const fs::path& path) {
  if (!RootText(root).empty()) {
    std::error_code path_error;
    std::error_code root_error;
    const fs::path canonical_path = fs::weakly_canonical(path, path_error);
    const fs::path canonical_root = fs::weakly_canonical(root, root_error);
    if (!path_error && !root_error)
      return WideToUtf8(canonical_path.lexically_relative(canonical_root));
  }
  return WideToUtf8(AbsoluteNormalPath(path).filename());
}

bool AnalyzerService::AnalyzeFile(const fs::path& root, const fs::path& path,
                                  AnalyzerFileMetadata* out, std::string* error) {
  if (out == nullptr) return Fail(error, "AnalyzeFile metadata pointer is null");
  try {
    const FileStamp stamp = StampFile(path);
    bool outside = false;
    if (FindCachedInsideRoot(metadata_cache_, stamp, root, out, &outside)) return true;
    AnalyzerFileMetadata record;
    if (!ReadFileMetadata(root, stamp.path, &record, error)) return false;
    if (stamp.size_readable) {
      std::lock_guard<std::mutex> lock(mutex_);
      StoreCached(&metadata_cache_, stamp, root, record);
    }
    *out = std::move(record);
    return true;
  } catch (...) {
    return FailWithCurrentException("Audio file is unavailable: ", "Unknown analyzer failure",
                                    error);
  }
}

bool AnalyzerService::ReadFileMetadata(const fs::path& root, const fs::path& path,
                                       AnalyzerFileMetadata* out, std::string* error) {
  if (out == nullptr) return Fail(error, "AnalyzerFileMetadata output pointer is null");
  *out = AnalyzerFileMetadata();
  const fs::path normal = AbsoluteNormalPath(path);
  out->path = WideToUtf8(normal);
  out->name = WideToUtf8(normal.filename());
  out->extension = ToLower(normal.extension().string());
  out->container = ContainerNameForExtension(LowerCaseExtension(normal));
  out->codec = "Unknown";
  out->modified_utc = FormatModifiedUtc(normal);

  std::error_code size_error;
  const uintmax_t size = fs::file_size(normal, size_error);
  if (size_error) {
    out->size_bytes = UINT64_MAX;
    AddIssue(out, "file_not_found", "File could not be read");
    return Fail(error, "File could not be read");
  }
  out->size_bytes = size;
  if (IsOutsideRoot(root, normal)) {
    AddIssue(out, "path_outside_profile_root", kOutsideRoot);
    return Fail(error, kOutsideRoot);
  }
  out->relative_path = RelativePathForRoot(root, normal);

  if (!IsSupportedAudioExtension(normal)) {
    out->compatibility_state = "unsupported";
    AddIssue(out, "codec_unsupported", "File extension is not supported by the analyzer");
    return true;
  }
  if (!media_foundation_available_ && IsMediaFoundationExtension(normal)) {
    out->compatibility_state = "unsupported";
    AddIssue(
        out, "media_feature_pack_required",
        media_foundation_message_.empty() ? kMediaFeaturePackMessage : media_foundation_message_);
    return true;
  }

  OpenFile file;
  DecodeOptions read_as;
  if (const int opened = OpenToRead(root, normal, &file, &read_as)) {
    const bool outside = opened == ELOOP || opened == ENOTDIR;
    AddIssue(out, outside ? "path_outside_profile_root" : "file_not_found",
             outside ? kOutsideRoot : "File could not be read");
    return Fail(error, outside ? kOutsideRoot : "File could not be read");
  }
  // The size of what is read, not of whatever the name leads to by now.
  file.Size(&out->size_bytes);
  AudioFormatInfo probe;
  std::string probe_message;
  if (!AnalyzeAudioFile(file.ReopenPath(), &probe, &probe_message, read_as)) {
    AddIssue(out, "file_corrupt",
             probe_message.empty() ? "Audio metadata could not be read" : probe_message);
    return Fail(error, probe_message);
  }
  out->container = probe.container;
  out->codec = probe.codec;
  out->sample_rate = static_cast<int32_t>(probe.sample_rate);
  out->channels = probe.channels;
  out->bits_per_sample = static_cast<int32_t>(probe.bits_per_sample);
  out->duration_ms = probe.sample_rate < 1
                         ? 0
                         : static_cast<int32_t>(probe.frame_count * 1000 / probe.sample_rate);

  if (!probe.decodable) {
    out->compatibility_state = "unsupported";
    AddIssue(out, probe.issue_code.empty() ? "codec_unsupported" : probe.issue_code,
             probe.issue_message.empty() ? "This audio codec is not supported for conversion"
                                         : probe.issue_message);
    return true;
  }
  out->convertible = true;
  out->compatibility_state = "compatible";
  for (const TargetFormatIssue& issue : FindTargetFormatIssues(*out)) {
    out->compatibility_state = "needs_conversion";
    AddIssue(out, issue.code, issue.message);
  }
  out->playable_now = out->compatibility_state == "compatible";
  return true;
}

bool AnalyzerService::AnalyzeFolder(const fs::path& folder, const std::string& selected_path,
                                    AnalyzeResult* out, std::string* error) {
  if (out == nullptr) return Fail(error, "AnalyzeFolder result pointer is null");
  try {
    const fs::path root = AbsoluteNormalPath(folder);
    out->root_dir = WideToUtf8(root);
    out->files.clear();
    out->summary = AnalyzeSummary();
    if (root.empty() || !fs::is_directory(fs::status(root))) return true;

    for (auto it =
             fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it) {
      const fs::file_status status = fs::status(it->path());
      if (fs::is_directory(status)) {
        // Replaced source files are kept there; they are not part of the library.
        if (EqualsIgnoreCase(it->path().filename().string(), "_originals")) {
          it.disable_recursion_pending();
        }
        continue;
      }
      if (!fs::is_regular_file(status) || !IsSupportedAudioExtension(it->path())) continue;
      AnalyzerFileMetadata record;
      std::string message;
      if (!AnalyzeFile(root, it->path(), &record, &message)) {
        record = FailedFileRecord(it->path(), message);
      }
      if (record.path == selected_path) {
        record.playable_now = record.compatibility_state == "compatible";
      }
      out->files.push_back(std::move(record));
    }
    SortAndCount(out);
    return true;
  } catch (...) {
    return FailWithCurrentException("Audio folder is unavailable: ", "Unknown analyzer failure",
                                    error);
  }
}

bool AnalyzerService::AnalyzePaths(const fs::path& root, const std::vector<fs::path>& paths,
                                   AnalyzeResult* out, std::string* error) {
  if (out == nullptr) return Fail(error, "AnalyzePaths result pointer is null");
  try {
    out->root_dir = RootText(root);
    out->files.clear();
    out->summary = AnalyzeSummary();
    for (const fs::path& path : paths) {
      AnalyzerFileMetadata record;
      std::string message;
      if (!AnalyzeFile(root, path, &record, &message)) record = FailedFileRecord(path, message);
      out->files.push_back(std::move(record));
    }
    SortAndCount(out);
    return true;
  } catch (...) {
    return FailWithCurrentException("Audio path is unavailable: ", "Unknown analyzer failure",
                                    error);
  }
}

JsonValue BuildAnalyzeResultJson(const AnalyzeResult& result) {
  JsonValue json = JsonValue::MakeObject();
  json["root_dir"] = result.root_dir;
  JsonValue& summary = json["summary"];
  summary = JsonValue::MakeObject();
  summary["total"] = static_cast<double>(result.summary.total);
  summary["compatible"] = static_cast<double>(result.summary.compatible);
  summary["needs_conversion"] = static_cast<double>(result.summary.needs_conversion);
  summary["unsupported"] = static_cast<double>(result.summary.unsupported);
  summary["error"] = static_cast<double>(result.summary.error);
  JsonValue files = JsonValue::MakeArray();
  for (const AnalyzerFileMetadata& file : result.files) {
    JsonValue item = JsonValue::MakeObject();
    item["path"] = file.path;
    item["relative_path"] = file.relative_path;
    item["name"] = file.name;
    item["extension"] = file.extension;
    item["size_bytes"] = static_cast<double>(file.size_bytes);
    item["modified_utc"] = file.modified_utc;
    item["container"] = file.container;
    item["codec"] = file.codec;
    item["sample_rate"] = static_cast<double>(file.sample_rate);
    item["channels"] = static_cast<double>(file.channels);
    item["bits_per_sample"] = static_cast<double>(file.bits_per_sample);
    item["duration_ms"] = static_cast<double>(file.duration_ms);
    item["compatibility_state"] = file.compatibility_state;
    item["convertible"] = file.convertible;
    item["playable_now"] = file.playable_now;
    item["issue_codes"] = StringArray(file.issue_codes);
    item["issue_messages"] = StringArray(file.issue_messages);
    JsonValue& target = item["target"];
    target = JsonValue::MakeObject();
    target["container"] = file.target.container;
    target["codec"] = file.target.codec;
    target["sample_rate"] = static_cast<double>(file.target.sample_rate);
    target["channels"] = static_cast<double>(file.target.channels);
    target["bits_per_sample"] = static_cast<double>(file.target.bits_per_sample);
    files.PushBack(item);
  }
  json["files"] = std::move(files);
  return json;
}

}  // namespace zennic

#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/json_value.h"

namespace zennic {

class AnalyzerService;
struct ImportedSoundResult;

struct ConvertItemResult {
  std::string source_path;
  std::string target_path;
  std::string backup_path;
  std::string status;  // "converted", "skipped" or "failed"
  std::string code;    // empty on success and for an already compatible file
  std::string message;
};

struct ConvertResult {
  int32_t converted = 0;
  int32_t skipped = 0;
  int32_t failed = 0;
  std::vector<ConvertItemResult> results;  // in input order
};

// Converts sound files into the one format the mixer plays, 48,000 Hz stereo 16-bit PCM WAV,
// next to the source, then keeps the source under "_originals", or deletes it. Holds no state
// of its own between calls; conversions may run at once, each through its own work file.
class ConverterService {
 public:
  explicit ConverterService(AnalyzerService* analyzer);

  // False only for a null result; each file's outcome is an item. An empty root skips the
  // inside-the-root test.
  bool Convert(const std::filesystem::path& root, const std::vector<std::filesystem::path>& paths,
               bool keep_originals, bool overwrite_existing, ConvertResult* result,
               std::string* error);
  // True for "converted" and "skipped". Overwriting replaces only what the target held when
  // the conversion began, never a file another conversion wrote meanwhile.
  bool ConvertFile(const std::filesystem::path& root, const std::filesystem::path& source,
                   bool keep_originals, bool overwrite_existing, ConvertItemResult* item);
  // Turns a downloaded sound into a ready clip in `destination` (the active profile's audio
  // folder) with `silence_seconds` of silence appended, and keeps a copy of the source under
  // "_originals/_inbox"; the source itself is never changed. A `max_bytes` of 0 and a
  // `max_seconds` of 0 or less mean no limit. On failure `code` and `message` say why.
  bool PrepareInboxSound(const std::filesystem::path& destination,
                         const std::filesystem::path& source, double silence_seconds,
                         int64_t max_bytes, double max_seconds, ImportedSoundResult* result,
                         std::string* code, std::string* message);

 private:
  AnalyzerService* analyzer_;
  // Taken while a finished file is put in place, so that checking a target and replacing it
  // are one step for every conversion of this service.
  std::mutex publish_mutex_;
};

// A WAV source is converted in place; any other becomes "<stem>.wav" beside it.
std::filesystem::path ConvertTargetPath(const std::filesystem::path& source);
// The source's place under "<root>/_originals", mirroring its path below the root, made
// unique; empty when every name is taken.
std::filesystem::path BuildOriginalsBackupPath(const std::filesystem::path& root,
                                               const std::filesystem::path& source);

// A readable 48,000 Hz stereo PCM16 WAV.
bool ValidateConvertedWav(const std::filesystem::path& path, std::string* error);

JsonValue BuildConvertResultJson(const ConvertResult& result);

}  // namespace zennic

#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "core/json_value.h"
#include "platform/confined_folder.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/analyzer_volume_health.h"

namespace zennic {

// The one format the mixer plays.
struct AnalyzerTargetFormat {
  std::string container = "WAV";
  std::string codec = "PCM16";
  int32_t sample_rate = 48000;
  int32_t channels = 2;
  int32_t bits_per_sample = 16;
};

// The analysis of one sound file.
struct AnalyzerFileMetadata {
  std::string path;           // absolute, lexically normalised
  std::string relative_path;  // relative to the analysis root, else the file name
  std::string name;
  std::string extension;     // with its dot, ASCII lower-cased
  uint64_t size_bytes = 0;   // all bits set when the size is unreadable
  std::string modified_utc;  // "%Y-%m-%dT%H:%M:%SZ"; empty when unreadable
  std::string container;
  std::string codec;
  int32_t sample_rate = 0;
  int32_t channels = 0;
  int32_t bits_per_sample = 0;
  int32_t duration_ms = 0;
  // "compatible", "needs_conversion", "unsupported" or "error".
  std::string compatibility_state = "error";
  bool convertible = false;
  bool playable_now = false;
  std::vector<std::string> issue_codes;
  std::vector<std::string> issue_messages;  // one per code, same order
  AnalyzerTargetFormat target;
};

struct AnalyzeSummary {
  int32_t total = 0;
  int32_t compatible = 0;
  int32_t needs_conversion = 0;
  int32_t unsupported = 0;
  int32_t error = 0;
};

struct AnalyzeResult {
  std::string root_dir;
  AnalyzeSummary summary;
  std::vector<AnalyzerFileMetadata> files;  // by relative path (else name), ASCII case folded
};

struct AnalyzerServiceOptions {
  bool media_foundation_available = false;
  bool preset = false;  // use the two values instead of asking the media framework
  std::string media_foundation_message;
};

// Tells what a sound file is and whether the mixer can play it as it stands, and judges its
// peak level. Both answers are cached per file while its size and last-write time stay the
// same; files are probed and decoded outside the lock.
class AnalyzerService {
 public:
  explicit AnalyzerService(AnalyzerServiceOptions options);
  AnalyzerService(const AnalyzerService&) = delete;
  AnalyzerService& operator=(const AnalyzerService&) = delete;

  // An empty root skips the inside-the-root test.
  bool AnalyzeFile(const std::filesystem::path& root, const std::filesystem::path& path,
                   AnalyzerFileMetadata* out, std::string* error);
  // The uncached analysis.
  bool ReadFileMetadata(const std::filesystem::path& root, const std::filesystem::path& path,
                        AnalyzerFileMetadata* out, std::string* error);
  // Every sound file below the folder; "_originals" folders are skipped. The file whose path
  // equals `selected_path` is the selected clip.
  bool AnalyzeFolder(const std::filesystem::path& folder, const std::string& selected_path,
                     AnalyzeResult* out, std::string* error);
  // Exactly the listed files, in the file order.
  bool AnalyzePaths(const std::filesystem::path& root,
                    const std::vector<std::filesystem::path>& paths, AnalyzeResult* out,
                    std::string* error);

  // True when `out` holds a verdict, which may be a failure verdict with an error code; false
  // when the check itself failed.
  bool CheckVolumeHealth(const std::filesystem::path& root, const std::filesystem::path& path,
                         AnalyzerVolumeHealth* out, std::string* error);
  // The cached verdict for the file as it is now, without decoding; false on a miss.
  bool GetCachedVolumeHealth(const std::filesystem::path& path, AnalyzerVolumeHealth* out);

  bool media_foundation_available() const { return media_foundation_available_; }
  const std::string& media_foundation_message() const { return media_foundation_message_; }

 private:
  // A file as the caches see it.
  struct FileStamp {
    std::filesystem::path path;  // absolute, lexically normalised
    std::string key;             // the path's UTF-8 form
    bool size_readable = false;
    uint64_t size = UINT64_MAX;
    std::error_code size_error;
    int64_t ticks = 0;  // last-write time; 0 when unreadable
  };
  template <typename T>
  struct CacheEntry {
    uint64_t size = 0;
    int64_t ticks = 0;
    std::string root;  // the root the relative path was taken against
    T value;
  };
  template <typename T>
  using Cache = std::unordered_map<std::string, CacheEntry<T>>;

  static FileStamp StampFile(const std::filesystem::path& path);
  // Turns the exception being handled into `error`; always false. A file-system error is
  // prefixed with `filesystem_prefix`, an unknown one reported as `unknown`.
  static bool FailWithCurrentException(const char* filesystem_prefix, const char* unknown,
                                       std::string* error);
  static std::string RootText(const std::filesystem::path& root);
  // A root is given and the path does not lie inside it.
  static bool IsOutsideRoot(const std::filesystem::path& root, const std::filesystem::path& path);
  // Opens the file for reading where the root allows (OpenFileInside), so that what is read
  // never comes from beyond a folder swapped for a link meanwhile; `options` then read it
  // through the open file under its own name. 0, or the error number (ELOOP: outside).
  static int OpenToRead(const std::filesystem::path& root, const std::filesystem::path& path,
                        OpenFile* file, DecodeOptions* options);
  // The weakly canonical path relative to the weakly canonical root; the file name when there
  // is no root or either cannot be resolved.
  static std::string RelativePathForRoot(const std::filesystem::path& root,
                                         const std::filesystem::path& path);

  // Copies a cached value that still matches the file; with a root, the relative path is taken
  // again when the value was cached for another root. Called under the mutex.
  template <typename T>
  static bool FindCached(const Cache<T>& cache, const FileStamp& stamp,
                         const std::filesystem::path* root, T* out) {
    if (!stamp.size_readable) return false;
    auto found = cache.find(stamp.key);
    if (found == cache.end() || found->second.size != stamp.size ||
        found->second.ticks != stamp.ticks) {
      return false;
    }
    *out = found->second.value;
    if (root != nullptr && found->second.root != RootText(*root)) {
      out->relative_path = RelativePathForRoot(*root, stamp.path);
    }
    return true;
  }
  // Answers from the cache only for a file inside the root: the folder check runs on every
  // call, as a cached value may have been worked out for another root, or for none.
  template <typename T>
  bool FindCachedInsideRoot(const Cache<T>& cache, const FileStamp& stamp,
                            const std::filesystem::path& root, T* out, bool* outside) {
    *outside = IsOutsideRoot(root, stamp.path);
    if (*outside) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return FindCached(cache, stamp, &root, out);
  }
  template <typename T>
  static void StoreCached(Cache<T>* cache, const FileStamp& stamp,
                          const std::filesystem::path& root, const T& value) {
    (*cache)[stamp.key] = CacheEntry<T>{stamp.size, stamp.ticks, RootText(root), value};
  }

  // Fixed at construction.
  bool media_foundation_available_ = false;
  std::string media_foundation_message_;
  std::mutex mutex_;  // guards both caches
  Cache<AnalyzerFileMetadata> metadata_cache_;
  Cache<AnalyzerVolumeHealth> volume_health_cache_;
};

// What keeps a format from being the target format, as issue codes and messages in the order
// the analysis reports them; empty for the target format itself.
struct TargetFormatIssue {
  const char* code;
  const char* message;
};
std::vector<TargetFormatIssue> FindTargetFormatIssues(const AnalyzerFileMetadata& format);

// The one test of whether a file is a sound file, by its extension.
bool IsSupportedAudioExtension(const std::filesystem::path& path);

JsonValue BuildAnalyzeResultJson(const AnalyzeResult& result);

}  // namespace zennic

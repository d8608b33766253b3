#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace zennic {

// The system's media framework, reduced to the steps that decoding one audio stream takes:
// start the framework once per process, join it on the calling thread, open a file, choose
// and read the stream's format, read decoded blocks until the end, close.

// Starts the framework; false when it is missing or cannot start. Called once per process.
bool StartMediaFramework();

// Joins the calling thread to the framework for one decode or probe and leaves it again on
// destruction, undoing only what it did.
class MediaThreadScope {
 public:
  MediaThreadScope();
  ~MediaThreadScope();
  MediaThreadScope(const MediaThreadScope&) = delete;
  MediaThreadScope& operator=(const MediaThreadScope&) = delete;
  bool joined() const { return joined_; }

 private:
  bool joined_ = false;
};

// The sample layout a reader delivers: interleaved 32-bit floats or signed 16-bit integers.
enum class MediaSampleFormat { Float32, Pcm16 };

struct MediaAudioType {
  uint32_t samples_per_second = 0;
  uint32_t channels = 0;
  uint32_t bits_per_sample = 0;  // 0 when the type declares none
  // The channels' speakers as a WAV channel mask, in whose bit order the samples come; 0 when
  // the stream does not say.
  uint32_t channel_mask = 0;
};

enum class MediaReadStatus {
  Sample,       // `data` holds one block of decoded samples
  EndOfStream,  // the stream is exhausted
  Failed,
};

// Reads the first audio stream of one file. Each step is a separate call so that each can
// fail on its own, as the framework's do.
class MediaSourceReader {
 public:
  ~MediaSourceReader();
  MediaSourceReader(const MediaSourceReader&) = delete;
  MediaSourceReader& operator=(const MediaSourceReader&) = delete;

  // Null when the file cannot be opened as media.
  static std::unique_ptr<MediaSourceReader> Open(const std::filesystem::path& path);

  // The stream's own (compressed) type; false when the file has no audio stream.
  bool GetNativeType(MediaAudioType* type);
  // Asks for decoded output in `format`; false when the stream cannot be decoded so.
  bool SetOutputType(MediaSampleFormat format);
  // The decoded output type chosen by SetOutputType.
  bool GetCurrentType(MediaAudioType* type);
  // The whole file's duration in 100-nanosecond units; false when it is unknown.
  bool GetDuration(uint64_t* duration);
  // The length the container states for the stream, in frames of the decoded output type;
  // false when it states none (a length estimated from the bit rate is none).
  bool GetStatedLength(uint64_t* frames);
  // Replaces `data` with the next block of decoded, interleaved samples. Damaged packets are
  // skipped; a file that cannot be read further is a failure, not the end of the stream.
  MediaReadStatus ReadSample(std::vector<uint8_t>* data);

 private:
  struct Impl;
  explicit MediaSourceReader(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace zennic

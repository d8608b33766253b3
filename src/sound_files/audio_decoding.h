#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zennic {

// The format facts of a probed or decoded sound file.
struct AudioFormatInfo {
  bool probed = false;     // the format was recognised and its header read
  bool decodable = false;  // this program can decode the file to samples
  std::string container;   // "WAV", "MP3", "FLAC", "Ogg", "AAC", "M4A", "ASF" or "Unknown"
  std::string codec;       // "PCM16", "Float32", "MP3", "FLAC", "Vorbis", "AAC", "WMA", "Unknown"
  uint32_t sample_rate = 0;
  int32_t channels = 0;
  uint32_t bits_per_sample = 0;  // 0 for MP3 and Ogg Vorbis
  uint64_t frame_count = 0;      // frames per channel
  // The length the file's own header states, in frames; 0 when it states none (a length only
  // estimated from the file's size or bit rate is none).
  uint64_t stated_frame_count = 0;
  // The channels' speakers as a WAV channel mask, the samples in the order of its bits; 0 when
  // the file does not say.
  uint32_t channel_mask = 0;
  std::string issue_code;
  std::string issue_message;
};

// A whole file's samples as interleaved floats (channel c of frame f at f * channels + c),
// integer sources scaled to -1..1, float sources passed through unclamped.
struct DecodedAudioData : AudioFormatInfo {
  std::vector<float> samples;
};

// How a file is read.
struct DecodeOptions {
  // The most samples a decode may hold: kMaxAudioSamples, and with `max_seconds` above 0 no
  // more than that long at the file's own rate, so that a caller that will work on the whole
  // sound at once never has more of it than it can take.
  double max_seconds = 0;
  // The file's own name, whose extension tells its format, when the path read is not that name
  // (an opened file read through its ReopenPath).
  std::filesystem::path named_as;

  uint64_t SamplesFor(uint32_t sample_rate, int32_t channels) const;
  const std::filesystem::path& NameOf(const std::filesystem::path& path) const {
    return named_as.empty() ? path : named_as;
  }
};

// Both choose their route by the file's extension. A failed call leaves a default record, but
// for an issue code that says why where one is known. Sample rates outside 1,000 to 768,000 Hz
// and files without channels are not decodable: a damaged header must not make a tiny file
// stand for hours of audio. A sound beyond the limit fails with kAudioTooLong. A file cut off
// decodes to what it holds (IsCutOff tells), but a WAV's data chunk must be whole: one that
// ends well inside it fails with kAudioCutOffCode.
bool DecodeAudioFile(const std::filesystem::path& path, DecodedAudioData* out, std::string* error,
                     const DecodeOptions& options = {});
// True, with the reason in `message`, when a decode ends well short of the length its file
// states: the file is cut off or damaged, and what it holds is not the sound it stands for.
bool IsCutOff(const DecodedAudioData& decoded, std::string* message);
// False only when the file cannot be read or opened at all; a file that was read but cannot be
// decoded gives true with `decodable` false and an issue.
bool AnalyzeAudioFile(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error,
                      const DecodeOptions& options = {});

// The most samples a decoded or converted sound may hold (1 GiB of floats, 46 minutes of
// 48 kHz stereo): no clip is that long, and a small damaged or hostile file can claim any
// length. Decoders fail with kAudioTooLong rather than go beyond it.
constexpr uint64_t kMaxAudioSamples = uint64_t{1} << 28;
inline constexpr char kAudioTooLong[] = "Audio file is too long to decode";
inline constexpr char kAudioCutOffCode[] = "audio_truncated";

// The extension of the file name with its dot, ASCII letters lower-cased; empty when the name
// has none (a name whose only dot is its first character has none). A ":" ends the name.
std::string LowerCaseExtension(const std::filesystem::path& path);
bool IsMediaFoundationExtension(const std::filesystem::path& path);
std::string ContainerNameForExtension(const std::string& extension);
std::string CodecNameForMediaFoundationExtension(const std::string& extension);

// The most decoded samples a file of this size is trusted to hold before it is decoded: a
// header can lie, so room beyond this is only made as the audio actually comes.
uint64_t PlausibleDecodedSamples(uint64_t file_size);
// Reserves room for the sample count a file's header declares, but never more than is
// plausible for the file's size; the array grows while decoding anyway.
void ReserveDecodedSamples(std::vector<float>* samples, uint64_t declared_samples,
                           uint64_t file_size);

// The speakers FLAC and Vorbis assign to 1 to 8 channels (after Vorbis' own order is brought
// into the mask's); 0 beyond.
uint32_t StandardChannelMask(int channels);

bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>* out,
                   std::string* error);

}  // namespace zennic

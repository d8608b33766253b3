#include "sound_files/audio_decoding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "sound_files/flac_decoding.h"
#include "sound_files/media_foundation_decoding.h"
#include "sound_files/mp3_decoding.h"
#include "sound_files/ogg_vorbis_decoding.h"
#include "sound_files/sample_conversion.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace {

// Decoded floats per byte of file beyond which a declared length is not trusted for reserving.
constexpr uint64_t kMaxReservedSamplesPerByte = 64;

constexpr uint32_t kMinSampleRate = 1000;
constexpr uint32_t kMaxSampleRate = 768000;

// How far a decode may end short of the length its file states before the file counts as cut
// off or damaged. Whole files of every format at 8 to 96 kHz decoded to their stated length,
// WMA to within its last packet (32 to 64 ms); a damaged frame skipped inside a long file costs
// less than a hundredth of it.
constexpr double kCutOffMinSeconds = 0.25;
constexpr double kCutOffMinShare = 0.01;
// A WAV data chunk of this size declares no length: streaming writers put it there.
constexpr uint64_t kWavUnknownDataSize = 0xFFFFFFFFu;

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

// Why a recognised file cannot be decoded although its codec can: its header declares a rate
// or channel count no sound has. False when there is nothing to object to.
bool FindFormatProblem(const AudioFormatInfo& format, std::string* code, std::string* message) {
  if (format.sample_rate < kMinSampleRate || format.sample_rate > kMaxSampleRate) {
    *code = "sample_rate_unsupported";
    *message = "Sample rate must be between 1000 and 768000 Hz";
    return true;
  }
  if (format.channels < 1) {
    *code = "channel_count_unsupported";
    *message = "File declares no audio channels";
    return true;
  }
  return false;
}

std::string Seconds(uint64_t frames, uint32_t rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(frames) / rate);
  return text;
}

// True, with the reason in `message`, when `decoded` frames end well short of `stated`.
bool CutOff(uint64_t decoded, uint64_t stated, uint32_t rate, std::string* message) {
  if (stated <= decoded || rate == 0) return false;
  const double missing = static_cast<double>(stated - decoded);
  if (missing < kCutOffMinSeconds * rate || missing < kCutOffMinShare * stated) return false;
  if (message != nullptr) {
    *message = "Audio file holds " + Seconds(decoded, rate) + " s of the " +
               Seconds(stated, rate) + " s it states: it is cut off or damaged";
  }
  return true;
}

void CopyWavFormat(const WavFormatInfo& wav, AudioFormatInfo* out) {
  out->probed = true;
  out->decodable = wav.decodable;
  out->container = "WAV";
  out->codec = wav.codec;
  out->sample_rate = wav.sample_rate;
  out->channels = wav.channels;
  out->bits_per_sample = wav.bits_per_sample;
  out->frame_count = wav.frame_count;
  out->channel_mask = wav.channel_mask;
  if (wav.data_size != kWavUnknownDataSize) out->stated_frame_count = wav.frame_count;
}

bool DecodeWav(const std::filesystem::path& path, DecodedAudioData* out, std::string* error,
               const DecodeOptions& options) {
  DecodedWavData wav;
  if (!DecodeWavFile(path, &wav, error, options)) {
    // A data chunk that the file ends inside: the frames that are there, against the stated.
    std::error_code size_error;
    const uint64_t size = std::filesystem::file_size(path, size_error);
    if (wav.decodable && wav.block_align > 0 && wav.data_size != kWavUnknownDataSize &&
        !size_error && wav.data_offset <= size && wav.data_size > size - wav.data_offset) {
      if (CutOff((size - wav.data_offset) / wav.block_align, wav.frame_count, wav.sample_rate,
                 error)) {
        out->issue_code = kAudioCutOffCode;
      }
    }
    return false;
  }
  CopyWavFormat(wav, out);
  out->samples = std::move(wav.samples);
  return true;
}

bool ProbeWav(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error,
              const DecodeOptions&) {
  WavFormatInfo wav;
  if (!ReadWavFormatInfo(path, &wav, error)) return false;
  CopyWavFormat(wav, out);
  if (!wav.decodable) {
    out->issue_code = "codec_unsupported";
    out->issue_message = "WAV codec is not supported for conversion";
  }
  return true;
}

// How files of one extension are decoded and probed.
struct DecoderRoute {
  bool (*decode)(const std::filesystem::path&, DecodedAudioData*, std::string*,
                 const DecodeOptions&);
  bool (*probe)(const std::filesystem::path&, AudioFormatInfo*, std::string*,
                const DecodeOptions&);
};

const DecoderRoute* FindRoute(const std::filesystem::path& path) {
  static constexpr DecoderRoute kWav{DecodeWav, ProbeWav};
  static constexpr DecoderRoute kMp3{DecodeMp3File, ProbeMp3File};
  static constexpr DecoderRoute kFlac{DecodeFlacFile, ProbeFlacFile};
  static constexpr DecoderRoute kOggVorbis{DecodeOggVorbisFile, ProbeOggVorbisFile};
  static constexpr DecoderRoute kMediaFoundation{DecodeWithMediaFoundation,
                                                 ProbeWithMediaFoundation};
  const std::string extension = LowerCaseExtension(path);
  if (extension == ".wav") return &kWav;
  if (extension == ".mp3") return &kMp3;
  if (extension == ".flac") return &kFlac;
  if (extension == ".ogg") return &kOggVorbis;
  if (IsMediaFoundationExtension(path)) return &kMediaFoundation;
  return nullptr;
}

}  // namespace

std::string LowerCaseExtension(const std::filesystem::path& path) {
  // Only "/" separates names here, and a ":" is an ordinary character: backslash separators
  // and alternate data streams exist on Windows alone.
  const std::string text = path.string();
  const size_t slash = text.find_last_of('/');
  const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return "";
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string extension = name.substr(dot);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

bool IsMediaFoundationExtension(const std::filesystem::path& path) {
  const std::string extension = LowerCaseExtension(path);
  return extension == ".aac" || extension == ".adts" || extension == ".m4a" ||
         extension == ".wma" || extension == ".asf";
}

std::string ContainerNameForExtension(const std::string& extension) {
  if (extension == ".wav") return "WAV";
  if (extension == ".mp3") return "MP3";
  if (extension == ".flac") return "FLAC";
  if (extension == ".ogg") return "Ogg";
  if (extension == ".aac" || extension == ".adts") return "AAC";
  if (extension == ".m4a") return "M4A";
  if (extension == ".wma" || extension == ".asf") return "ASF";
  return "Unknown";
}

std::string CodecNameForMediaFoundationExtension(const std::string& extension) {
  if (extension == ".aac" || extension == ".adts" || extension == ".m4a") return "AAC";
  if (extension == ".wma" || extension == ".asf") return "WMA";
  return "Unknown";
}

uint32_t StandardChannelMask(int channels) {
  using namespace speaker;
  constexpr uint32_t kFront = kFrontLeft | kFrontRight;
  constexpr uint32_t kBack = kBackLeft | kBackRight;
  constexpr uint32_t kSide = kSideLeft | kSideRight;
  switch (channels) {
    case 1: return kFrontCenter;
    case 2: return kFront;
    case 3: return kFront | kFrontCenter;
    case 4: return kFront | kBack;
    case 5: return kFront | kFrontCenter | kBack;
    case 6: return kFront | kFrontCenter | kLowFrequency | kBack;
    case 7: return kFront | kFrontCenter | kLowFrequency | kBackCenter | kSide;
    case 8: return kFront | kFrontCenter | kLowFrequency | kBack | kSide;
    default: return 0;
  }
}

uint64_t PlausibleDecodedSamples(uint64_t file_size) {
  // An unknown size (an error gives all bits set) is trusted with nothing.
  return file_size > UINT64_MAX / kMaxReservedSamplesPerByte
             ? 0
             : file_size * kMaxReservedSamplesPerByte;
}

void ReserveDecodedSamples(std::vector<float>* samples, uint64_t declared_samples,
                           uint64_t file_size) {
  samples->reserve(std::min(declared_samples, PlausibleDecodedSamples(file_size)));
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>* out,
                   std::string* error) {
  if (out == nullptr) return Fail(error, "Byte buffer output pointer is null");
  out->clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return Fail(error, "Failed to open audio file");
  if (::fseeko(file.get(), 0, SEEK_END) != 0)
    return Fail(error, "Failed to determine audio file size");
  const off_t size = ::ftello(file.get());
  if (size < 0) return Fail(error, "Failed to determine audio file size");
  ::fseeko(file.get(), 0, SEEK_SET);
  out->resize(static_cast<size_t>(size));
  if (std::fread(out->data(), 1, out->size(), file.get()) < out->size()) {
    out->clear();
    return Fail(error, "Unexpected end of audio file");
  }
  return true;
}

uint64_t DecodeOptions::SamplesFor(uint32_t sample_rate, int32_t channels) const {
  if (max_seconds <= 0 || channels < 1) return kMaxAudioSamples;
  const double samples = std::ceil(max_seconds * sample_rate) * channels;
  return samples >= static_cast<double>(kMaxAudioSamples) ? kMaxAudioSamples
                                                          : static_cast<uint64_t>(samples);
}

bool DecodeAudioFile(const std::filesystem::path& path, DecodedAudioData* out, std::string* error,
                     const DecodeOptions& options) {
  if (out == nullptr) return Fail(error, "DecodedAudioData output pointer is null");
  *out = DecodedAudioData();
  const DecoderRoute* route = FindRoute(options.NameOf(path));
  if (route == nullptr) return Fail(error, "Decoder support for this format has not been linked");
  std::string code;
  std::string message;
  bool decoded = route->decode(path, out, error, options);
  if (decoded && FindFormatProblem(*out, &code, &message)) decoded = Fail(error, message);
  if (!decoded) {
    // Why, where it is known, stays for the caller to tell the user; the rest goes.
    DecodedAudioData failed;
    failed.issue_code = std::move(out->issue_code);
    *out = std::move(failed);
  }
  return decoded;
}

bool IsCutOff(const DecodedAudioData& decoded, std::string* message) {
  return decoded.channels > 0 &&
         CutOff(decoded.samples.size() / static_cast<size_t>(decoded.channels),
                decoded.stated_frame_count, decoded.sample_rate, message);
}

bool AnalyzeAudioFile(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error,
                      const DecodeOptions& options) {
  if (out == nullptr) return Fail(error, "AudioFormatInfo output pointer is null");
  *out = AudioFormatInfo();
  const DecoderRoute* route = FindRoute(options.NameOf(path));
  if (route == nullptr) {
    out->probed = true;
    out->container = ContainerNameForExtension(LowerCaseExtension(options.NameOf(path)));
    out->codec = "Unknown";
    out->issue_code = "codec_unsupported";
    out->issue_message = "File extension is not supported by the analyzer";
    return true;
  }
  const bool probed = route->probe(path, out, error, options);
  if (!probed) {
    *out = AudioFormatInfo();
  } else if (out->decodable && FindFormatProblem(*out, &out->issue_code, &out->issue_message)) {
    out->decodable = false;
  }
  return probed;
}

}  // namespace zennic

#include "sound_files/wav_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/files.h"
#include "sound_files/audio_decoding.h"

namespace zennic {
namespace {

static_assert(std::endian::native == std::endian::little,
              "WAV samples are read and written in the machine's byte order");

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

bool Fail(std::string* error, const char* message) {
  if (error != nullptr) *error = message;
  return false;
}

uint16_t ReadLe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void WriteLe16(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

void WriteLe32(uint8_t* bytes, uint32_t value) {
  WriteLe16(bytes, value);
  WriteLe16(bytes + 2, value >> 16);
}

uint64_t OpenFileSize(std::FILE* file) {
  struct stat status {};
  if (::fstat(::fileno(file), &status) != 0 || status.st_size < 0) return 0;
  return static_cast<uint64_t>(status.st_size);
}

bool IsDecodableFormat(uint16_t format_tag, uint32_t bits) {
  if (format_tag == 1) return bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (format_tag == 3) return bits == 32 || bits == 64;
  return false;
}

// Converts `count` samples stored back to back in `bytes`.
void ConvertSamples(const uint8_t* bytes, size_t count, const WavFormatInfo& format, float* out) {
  if (format.format_tag == 3 && format.bits_per_sample == 32) {
    std::memcpy(out, bytes, count * sizeof(float));
    return;
  }
  if (format.format_tag == 3) {
    for (size_t i = 0; i < count; ++i) {
      double value;
      std::memcpy(&value, bytes + i * 8, sizeof value);
      out[i] = static_cast<float>(value);
    }
    return;
  }
  switch (format.bits_per_sample) {
    case 8:
      for (size_t i = 0; i < count; ++i) out[i] = (static_cast<int>(bytes[i]) - 128) / 128.0f;
      break;
    case 16:
      for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<int16_t>(ReadLe16(bytes + i * 2)) * (1.0f / 32768.0f);
      }
      break;
    case 24:
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes + i * 3;
        // Shift the three bytes to the top of an int32 so the arithmetic shift sign-extends.
        int32_t value = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                             static_cast<uint32_t>(p[1]) << 16 |
                                             static_cast<uint32_t>(p[2]) << 24) >>
                        8;
        out[i] = static_cast<float>(value) * (1.0f / 8388608.0f);
      }
      break;
    default:
      for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(static_cast<int32_t>(ReadLe32(bytes + i * 4))) *
                 (1.0f / 2147483648.0f);
      }
      break;
  }
}

}  // namespace

bool ParseWavFmtChunk(const std::vector<uint8_t>& fmt, WavFormatInfo* out, std::string* error) {
  if (out == nullptr) return Fail(error, "WavFormatInfo output pointer is null");
  if (fmt.size() < 16) return Fail(error, "WAV fmt chunk is too small");
  out->format_tag = ReadLe16(&fmt[0]);
  out->channels = ReadLe16(&fmt[2]);
  out->sample_rate = ReadLe32(&fmt[4]);
  out->block_align = ReadLe16(&fmt[12]);
  out->bits_per_sample = ReadLe16(&fmt[14]);
  if (out->format_tag == 0xFFFE && fmt.size() >= 40) {
    out->channel_mask = ReadLe32(&fmt[20]);
    out->format_tag = ReadLe16(&fmt[24]);
  }
  out->parsed = true;
  out->decodable = IsDecodableFormat(out->format_tag, out->bits_per_sample);
  if (out->format_tag == 1) {
    out->codec = "PCM" + std::to_string(out->bits_per_sample);
  } else if (out->format_tag == 3) {
    out->codec = "Float" + std::to_string(out->bits_per_sample);
  } else {
    out->codec = "Unknown";
  }
  return true;
}

bool ReadWavFormatInfo(const std::filesystem::path& path, WavFormatInfo* out, std::string* error) {
  if (out == nullptr) return Fail(error, "WavFormatInfo output pointer is null");
  *out = WavFormatInfo();
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return Fail(error, "Failed to open WAV file");
  const uint64_t file_size = OpenFileSize(file.get());

  uint8_t riff[12];
  if (std::fread(riff, 1, sizeof riff, file.get()) < sizeof riff) {
    return Fail(error, "WAV file is too small");
  }
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return Fail(error, "File is not a RIFF/WAVE file");
  }

  std::vector<uint8_t> fmt;
  bool have_fmt = false;
  bool have_data = false;
  uint64_t position = sizeof riff;
  while (!std::ferror(file.get())) {
    uint8_t header[8];
    size_t got = std::fread(header, 1, sizeof header, file.get());
    if (got == 0) break;
    if (got < sizeof header) return Fail(error, "Unexpected end of WAV chunk header");
    position += sizeof header;
    const uint32_t size = ReadLe32(header + 4);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      // The size is checked against the file before any buffer is sized from it.
      if (size > file_size - std::min(position, file_size)) {
        return Fail(error, "Unexpected end of WAV fmt chunk");
      }
      fmt.resize(size);
      if (std::fread(fmt.data(), 1, size, file.get()) < size) {
        return Fail(error, "Unexpected end of WAV fmt chunk");
      }
      have_fmt = true;
    } else if (std::memcmp(header, "data", 4) == 0) {
      out->data_offset = position;
      out->data_size = size;
      have_data = true;
    }
    position += static_cast<uint64_t>(size) + (size & 1u);
    if (position > file_size) break;
    if (::fseeko(file.get(), static_cast<off_t>(position), SEEK_SET) != 0) break;
  }
  if (!have_fmt || !have_data) return Fail(error, "WAV file is missing fmt or data chunks");
  if (!ParseWavFmtChunk(fmt, out, error)) return false;
  // A frame narrower than its samples would make the decoder read past the data chunk.
  const uint64_t sample_bytes =
      static_cast<uint64_t>(std::max(out->channels, 0)) * (out->bits_per_sample / 8);
  if (out->block_align == 0 || (out->decodable && out->block_align < sample_bytes)) {
    return Fail(error, "Invalid WAV block alignment");
  }
  out->frame_count = out->data_size / out->block_align;
  return true;
}

bool DecodeWavFile(const std::filesystem::path& path, DecodedWavData* out, std::string* error,
                   const DecodeOptions& options) {
  if (out == nullptr) return Fail(error, "DecodedWavData output pointer is null");
  out->samples.clear();
  if (!ReadWavFormatInfo(path, out, error)) return false;
  if (!out->decodable) return Fail(error, "WAV codec is not supported for decoding");
  if (out->channels < 1) return true;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return Fail(error, "Failed to reopen WAV file for decoding");
  const uint64_t file_size = OpenFileSize(file.get());
  if (out->frame_count == 0) {
    const bool data_follows = out->data_size == 0 && out->data_offset < file_size &&
                              file_size - out->data_offset >= out->block_align;
    return !data_follows || Fail(error, "WAV data chunk is empty, but data follows it");
  }
  // A declared size beyond the file is refused before anything is sized from it.
  if (out->data_offset > file_size || out->data_size > file_size - out->data_offset ||
      ::fseeko(file.get(), static_cast<off_t>(out->data_offset), SEEK_SET) != 0) {
    return Fail(error, "Unexpected end of WAV data chunk");
  }
  if (static_cast<uint64_t>(out->channels) * out->frame_count >
      options.SamplesFor(out->sample_rate, out->channels)) {
    return Fail(error, kAudioTooLong);
  }

  const size_t bytes_per_sample = out->bits_per_sample / 8;
  const size_t sample_count = static_cast<size_t>(out->channels) * out->frame_count;
  out->samples.resize(sample_count);
  constexpr size_t kChunkSamples = 16384;
  std::vector<uint8_t> chunk(kChunkSamples * bytes_per_sample);
  for (size_t done = 0; done < sample_count;) {
    const size_t count = std::min(kChunkSamples, sample_count - done);
    if (std::fread(chunk.data(), bytes_per_sample, count, file.get()) < count) {
      return Fail(error, "Unexpected end of WAV data chunk");
    }
    ConvertSamples(chunk.data(), count, *out, out->samples.data() + done);
    done += count;
  }
  return true;
}

bool WriteWavFile(const std::filesystem::path& path, uint32_t sample_rate, int32_t channels,
                  const std::vector<int16_t>& samples, std::string* error) {
  Pcm16WavWriter writer;
  return writer.Open(path, sample_rate, channels, samples.size(), error) &&
         writer.Append(samples.data(), samples.size()) && writer.Finish(error);
}

Pcm16WavWriter::~Pcm16WavWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool Pcm16WavWriter::Open(const std::filesystem::path& path, uint32_t sample_rate,
                          int32_t channels, uint64_t sample_count, std::string* error) {
  if (static_cast<int32_t>(sample_rate) < 1 || channels < 1) {
    return Fail(error, "Invalid WAV output format");
  }
  if (!EnsureParentDirectory(path, error)) return false;
  const uint64_t data_bytes = sample_count * 2;
  if (sample_count > 0xFFFFFFFFull || data_bytes + 36 > 0xFFFFFFFFull) {
    return Fail(error, "WAV output is too large");
  }
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Fail(error, "Failed to open WAV output path");
  remaining_ = sample_count;
  const auto frame_bytes = static_cast<uint32_t>(channels) * 2;
  uint8_t header[44];
  std::memcpy(header, "RIFF", 4);
  WriteLe32(header + 4, static_cast<uint32_t>(data_bytes + 36));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  WriteLe32(header + 16, 16);
  WriteLe16(header + 20, 1);
  WriteLe16(header + 22, static_cast<uint32_t>(channels));
  WriteLe32(header + 24, sample_rate);
  WriteLe32(header + 28, sample_rate * frame_bytes);
  WriteLe16(header + 32, frame_bytes);
  WriteLe16(header + 34, 16);
  std::memcpy(header + 36, "data", 4);
  WriteLe32(header + 40, static_cast<uint32_t>(data_bytes));
  failed_ = std::fwrite(header, 1, sizeof header, file_) != sizeof header;
  return true;
}

bool Pcm16WavWriter::Append(const int16_t* samples, size_t count) {
  // No samples have no address to write from, which fwrite may not be given.
  if (count == 0 || failed_ || file_ == nullptr) return !failed_ && file_ != nullptr;
  failed_ = count > remaining_ || std::fwrite(samples, 2, count, file_) != count;
  if (!failed_) remaining_ -= count;
  return !failed_;
}

bool Pcm16WavWriter::Finish(std::string* error) {
  if (file_ == nullptr) return Fail(error, "Failed to open WAV output path");
  // Closing flushes; a full disk may only show here.
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (failed_ || !closed || remaining_ != 0) return Fail(error, "Failed while writing WAV output");
  return true;
}

}  // namespace zennic

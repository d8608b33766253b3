#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zennic::testing {

// Sound files byte by byte: hand-made headers, and the damage a download can suffer.

// Little-endian bytes, for hand-made files.
std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
// The 16 bytes of a plain fmt chunk body.
std::string FmtBody(uint16_t format_tag, uint16_t channels, uint32_t sample_rate, uint16_t bits,
                    uint16_t block_align);
struct RiffChunk {
  std::string id;
  std::string body;
  uint32_t declared_size = UINT32_MAX;  // the body's size unless set
};
// "RIFF" <size> "WAVE" and the chunks, each padded to an even length.
std::string RiffWave(const std::vector<RiffChunk>& chunks);
std::string FloatBytes(const std::vector<float>& samples);

// Cuts the file to the given fraction of its length.
void TruncateFile(const std::filesystem::path& path, double fraction);

// Makes an Ogg Vorbis file's comment header claim a vendor text longer than the file, with
// the page's checksum made right again, so that only the header's content is wrong.
void DamageOggVorbisComment(const std::filesystem::path& path);
// Makes an Ogg file's last page claim `frames` frames of audio, checksum made right again.
void ClaimOggLength(const std::filesystem::path& path, uint64_t frames);
// Overwrites a tenth of the file, from `fraction` of its length on, with bytes from a fixed
// seed.
void OverwriteWithNoise(const std::filesystem::path& path, double fraction);

}  // namespace zennic::testing

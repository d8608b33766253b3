#include "support/sound_file_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/temp_folder.h"

namespace zennic::testing {
namespace {

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, neither reflected nor inverted.
uint32_t OggChecksum(const std::string& page) {
  uint32_t crc = 0;
  for (unsigned char byte : page) {
    crc ^= static_cast<uint32_t>(byte) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// Makes the checksum of the page at `page` right again after its bytes were changed.
void ResealOggPage(std::string* bytes, size_t page) {
  ASSERT_NE(page, std::string::npos) << "no Ogg page";
  const auto segments = static_cast<unsigned char>((*bytes)[page + 26]);
  size_t length = 27 + segments;
  for (size_t i = 0; i < segments; ++i) {
    length += static_cast<unsigned char>((*bytes)[page + 27 + i]);
  }
  ASSERT_LE(page + length, bytes->size());
  bytes->replace(page + 22, 4, Le32(0));
  bytes->replace(page + 22, 4, Le32(OggChecksum(bytes->substr(page, length))));
}

}  // namespace

std::string Le16(uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string Le32(uint32_t value) {
  return Le16(static_cast<uint16_t>(value & 0xFFFF)) + Le16(static_cast<uint16_t>(value >> 16));
}

std::string FmtBody(uint16_t format_tag, uint16_t channels, uint32_t sample_rate, uint16_t bits,
                    uint16_t block_align) {
  return Le16(format_tag) + Le16(channels) + Le32(sample_rate) + Le32(sample_rate * block_align) +
         Le16(block_align) + Le16(bits);
}

std::string RiffWave(const std::vector<RiffChunk>& chunks) {
  std::string body = "WAVE";
  for (const RiffChunk& chunk : chunks) {
    const uint32_t size = chunk.declared_size != UINT32_MAX
                              ? chunk.declared_size
                              : static_cast<uint32_t>(chunk.body.size());
    body += chunk.id + Le32(size) + chunk.body;
    if (chunk.body.size() % 2 == 1) body += '\0';
  }
  return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

std::string FloatBytes(const std::vector<float>& samples) {
  std::string bytes(samples.size() * sizeof(float), '\0');
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

void TruncateFile(const std::filesystem::path& path, double fraction) {
  const auto size = std::filesystem::file_size(path);
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size * fraction));
}

void DamageOggVorbisComment(const std::filesystem::path& path) {
  std::string bytes = ReadFile(path);
  const size_t comment = bytes.find("\x03vorbis");
  ASSERT_NE(comment, std::string::npos) << path << " holds no Vorbis comment header";
  bytes.replace(comment + 7, 4, Le32(0xFFFFFFF0u));
  ResealOggPage(&bytes, bytes.rfind("OggS", comment));
  WriteFile(path, bytes);
}

void ClaimOggLength(const std::filesystem::path& path, uint64_t frames) {
  std::string bytes = ReadFile(path);
  const size_t page = bytes.rfind("OggS");
  for (int i = 0; i < 8; ++i) bytes[page + 6 + i] = static_cast<char>(frames >> (8 * i));
  ResealOggPage(&bytes, page);
  WriteFile(path, bytes);
}

void OverwriteWithNoise(const std::filesystem::path& path, double fraction) {
  std::string bytes = ReadFile(path);
  std::mt19937 noise(12345);
  const auto begin = static_cast<size_t>(static_cast<double>(bytes.size()) * fraction);
  for (size_t i = begin; i < std::min(bytes.size(), begin + bytes.size() / 10); ++i) {
    bytes[i] = static_cast<char>(noise());
  }
  WriteFile(path, bytes);
}

}  // namespace zennic::testing

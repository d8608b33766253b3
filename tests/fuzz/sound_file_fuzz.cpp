// Feeds arbitrary bytes to one decoding road as a file with that road's extension (chosen at
// build time), probes and decodes it the way the analyzer and the converter do, and brings what
// decodes to the mixer's stereo form. Any crash, hang, leak or broken promise is a finding.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sound_files/audio_decoding.h"
#include "sound_files/sample_conversion.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool RateIsDecodable(uint32_t rate) { return rate >= 1000 && rate <= 768000; }

// The file every input goes through, removed when the run ends so that runs leave nothing behind.
struct InputFile {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("zennic-fuzz-" + std::to_string(::getpid()) + ZENNIC_FUZZ_EXTENSION);
  ~InputFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const InputFile input;
  const std::filesystem::path& path = input.path;
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  zennic::AudioFormatInfo probe;
  std::string error;
  if (zennic::AnalyzeAudioFile(path, &probe, &error)) {
    Require(probe.probed);
    if (probe.decodable) Require(RateIsDecodable(probe.sample_rate) && probe.channels >= 1);
    if (!probe.decodable) Require(!probe.issue_code.empty() && !probe.issue_message.empty());
  } else {
    Require(!error.empty() && !probe.probed);
  }

  zennic::DecodedAudioData decoded;
  error.clear();
  if (!zennic::DecodeAudioFile(path, &decoded, &error)) {
    Require(!error.empty() && decoded.samples.empty() && !decoded.probed);
    return 0;
  }
  Require(decoded.probed && decoded.decodable);
  Require(RateIsDecodable(decoded.sample_rate) && decoded.channels >= 1);
  Require(decoded.samples.size() == decoded.frame_count * static_cast<uint64_t>(decoded.channels));
  Require(decoded.samples.size() <= zennic::kMaxAudioSamples);

  const auto rate = static_cast<int>(decoded.sample_rate);
  const uint64_t frames = zennic::ResampledFrameCount(decoded.frame_count, rate, 48000);
  if (frames * 2 > zennic::kMaxAudioSamples) return 0;
  const std::vector<int16_t> stereo = zennic::ToStereoPcm16(
      decoded.samples, decoded.channels, decoded.channel_mask, rate, 48000);
  Require(stereo.size() == frames * 2);
  return 0;
}

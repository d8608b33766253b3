#include "sound_files/inbox_sound_preparation.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

#include "core/files.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/file_sync.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/converter_service.h"
#include "sound_files/sample_conversion.h"
#include "sound_files/wav_file.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr uint32_t kPreparedSampleRate = 48000;
constexpr int32_t kPreparedChannels = 2;
constexpr char kTooLong[] = "Inbox audio file is too long to prepare safely";

// Sets both outputs; always false.
bool Refuse(std::string* code, std::string* message, const std::string& code_text,
            const std::string& message_text) {
  if (code != nullptr) *code = code_text;
  if (message != nullptr) *message = message_text;
  return false;
}

bool IsForbiddenNameByte(unsigned char byte) {
  if (byte < 32) return true;
  switch (byte) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string SanitizeInboxStem(const fs::path& source) {
  std::string stem = Trim(WideToUtf8(source.stem()));
  for (char& c : stem) {
    if (IsForbiddenNameByte(static_cast<unsigned char>(c))) c = '_';
  }
  while (!stem.empty() && (stem.back() == '.' || stem.back() == ' ')) stem.pop_back();
  if (stem.empty() || stem == "." || stem == "..") return "inbox_sound";
  return stem;
}

bool CopyImportedOriginal(const fs::path& source, const fs::path& backup, std::string* error) {
  if (!EnsureParentDirectory(backup, error)) return false;
  const auto fail = [error](int error_number) {
    if (error != nullptr) {
      *error = "Failed to copy imported original: " + SystemErrorText(error_number);
    }
    return false;
  };
  std::error_code code;
  if (fs::exists(backup, code)) return fail(EEXIST);
  // Copied under a work name first: a copy cut short must not pass for the original.
  fs::path work;
  std::string reason;
  if (!CreateExclusiveWorkFile(backup, &work, &reason)) {
    if (error != nullptr) *error = "Failed to copy imported original: " + reason;
    return false;
  }
  fs::copy_file(source, work, fs::copy_options::overwrite_existing, code);
  if (code) {
    DiscardWorkFile(work);
    return fail(code.value());
  }
  int published = 0;
  return PublishWorkFile(work, backup, /*replace_existing=*/false, nullptr, &published) ||
         fail(published);
}

bool ConverterService::PrepareInboxSound(const fs::path& destination, const fs::path& source,
                                         double silence_seconds, int64_t max_bytes,
                                         double max_seconds, ImportedSoundResult* result,
                                         std::string* code, std::string* message) {
  if (result == nullptr) {
    return Refuse(code, message, "prepare_failed", "Imported sound result pointer is null");
  }
  *result = ImportedSoundResult();
  const fs::path source_path = AbsoluteNormalPath(source);
  result->source_path = WideToUtf8(source_path);

  const fs::path folder = AbsoluteNormalPath(destination);
  // Only a missing folder is an answer here; any other failure to look is raised.
  if (folder.empty() || !fs::is_directory(fs::status(folder))) {
    return Refuse(code, message, "path_unavailable",
                  "The active profile audio folder is not available");
  }
  std::error_code status_error;
  if (!fs::is_regular_file(source_path, status_error)) {
    return Refuse(code, message, "path_unavailable", "The inbox audio file is no longer available");
  }
  std::error_code size_error;
  const uintmax_t size = fs::file_size(source_path, size_error);
  if (size_error) {
    return Refuse(code, message, "path_unavailable",
                  "Could not read inbox audio file size: " + size_error.message());
  }
  if (max_bytes != 0 && size > static_cast<uintmax_t>(max_bytes)) {
    return Refuse(code, message, "sound_inbox_too_large",
                  "Inbox audio file is too large to prepare safely");
  }

  AudioFormatInfo probe;
  std::string error;
  if (!AnalyzeAudioFile(source_path, &probe, &error) || !probe.probed || !probe.decodable) {
    std::string reason = probe.issue_message.empty() ? error : probe.issue_message;
    if (reason.empty()) reason = "Inbox audio file is not a supported audio source";
    return Refuse(code, message, probe.issue_code.empty() ? "unsupported_source" : probe.issue_code,
                  reason);
  }
  if (max_seconds > 0 && probe.sample_rate > 0 && probe.frame_count > 0 &&
      static_cast<double>(probe.frame_count) / probe.sample_rate > max_seconds) {
    return Refuse(code, message, "sound_inbox_too_large", kTooLong);
  }

  DecodedAudioData decoded;
  if (!DecodeAudioFile(source_path, &decoded, &error)) {
    return Refuse(code, message, decoded.issue_code.empty() ? "decode_failed" : decoded.issue_code,
                  error.empty() ? "Inbox audio file could not be decoded" : error);
  }
  if (decoded.sample_rate == 0 || decoded.channels <= 0) {
    return Refuse(code, message, "decode_failed",
                  "Inbox audio decoder returned invalid audio format");
  }
  const uint64_t frames = decoded.samples.size() / static_cast<uint64_t>(decoded.channels);
  // A sound that decodes to nothing would become a clip of silence alone.
  if (frames == 0) {
    return Refuse(code, message, "decode_failed", "Audio file did not contain decodable samples");
  }
  // A download cut short is refused as such; once complete it is a new file and comes again.
  std::string cut_off;
  if (IsCutOff(decoded, &cut_off)) return Refuse(code, message, kAudioCutOffCode, cut_off);
  const double duration = static_cast<double>(frames) / decoded.sample_rate;
  if (max_seconds > 0 && duration > max_seconds) {
    return Refuse(code, message, "sound_inbox_too_large", kTooLong);
  }
  const double silence = silence_seconds > 0 ? silence_seconds : 0.0;
  const auto silence_frames = static_cast<uint64_t>(
      std::min(silence * kPreparedSampleRate + 0.5, static_cast<double>(kMaxAudioSamples)));
  const auto rate = static_cast<int>(decoded.sample_rate);
  if ((ResampledFrameCount(frames, rate, kPreparedSampleRate) + silence_frames) *
          kPreparedChannels >
      kMaxAudioSamples) {
    return Refuse(code, message, "write_failed", "WAV output is too large");
  }

  std::vector<int16_t> samples = ToStereoPcm16(decoded.samples, decoded.channels,
                                               decoded.channel_mask, rate, kPreparedSampleRate);
  decoded.samples = std::vector<float>();
  samples.resize(samples.size() + silence_frames * kPreparedChannels, 0);

  const fs::path target = MakeUniqueFilePath(folder / (SanitizeInboxStem(source_path) + ".wav"));
  if (target.empty()) {
    return Refuse(code, message, "destination_exists",
                  "Could not find a unique inbox output filename");
  }
  const fs::path backup =
      MakeUniqueFilePath(folder / "_originals" / "_inbox" / source_path.filename());
  if (backup.empty()) {
    return Refuse(code, message, "backup_failed",
                  "Failed to copy imported original: " + SystemErrorText(EEXIST));
  }
  if (!CopyImportedOriginal(source_path, backup, &error)) {
    return Refuse(code, message, "backup_failed", error);
  }

  fs::path work;
  if (!CreateExclusiveWorkFile(target, &work, &error) ||
      !WriteWavFile(work, kPreparedSampleRate, kPreparedChannels, samples, &error)) {
    if (!work.empty()) DiscardWorkFile(work);
    return Refuse(code, message, "write_failed",
                  error.empty() ? "Prepared inbox WAV could not be written" : error);
  }
  if (!ValidateConvertedWav(work, &error)) {
    DiscardWorkFile(work);
    return Refuse(code, message, "write_failed",
                  error.empty() ? "Prepared inbox WAV failed validation" : error);
  }
  // Never over a file that appeared under the chosen name meanwhile.
  if (!PublishWorkFile(work, target, /*replace_existing=*/false, &error)) {
    return Refuse(code, message, "write_failed", "Failed to finalize prepared inbox WAV: " + error);
  }

  result->prepared_path = WideToUtf8(AbsoluteNormalPath(target));
  result->backup_path = WideToUtf8(AbsoluteNormalPath(backup));
  result->file_name = WideToUtf8(target.filename());
  result->duration_seconds = duration + silence;
  if (code != nullptr) code->clear();
  if (message != nullptr) message->clear();
  return true;
}

}  // namespace zennic

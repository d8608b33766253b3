// The trim editor's two routes: a clip's raw bytes, and the edited WAV saved as a new clip.

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "api/audio_folder_rules.h"
#include "api/base64_decode.h"
#include "api/file_move.h"
#include "api/http_api.h"
#include "api/new_sound_file.h"
#include "core/confined_paths.h"
#include "core/files.h"
#include "platform/file_sync.h"
#include "platform/process_ids.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/converter_service.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr char kSourceGone[] =
    "The selected audio file is no longer available. Refresh the file list and try again.";
constexpr char kTargetFolderGone[] =
    "The selected target folder is no longer available. Refresh the file list and try again.";
constexpr char kSourceOutside[] =
    "Trim export source must stay inside the active profile audio folder";
constexpr char kTargetOutside[] =
    "Trim export target folder must stay inside the active profile audio folder";
constexpr char kTrimExportOriginals[] = "Trim export cannot use _originals folders";

HttpResponse PathInvalid(const std::string& message) {
  return HttpApi::ErrorResponse(400, "path_invalid", message);
}

// 413 "<route>_too_large": the request holds the whole clip more than once, so there is a bound.
HttpResponse TrimClipTooLarge(const std::string& route) {
  return HttpApi::ErrorResponse(
      413, route + "_too_large",
      "The clip is larger than " + std::to_string(HttpApi::kMaxTrimClipBytes >> 20) +
          " MiB, too large for the trim editor");
}

// "wav_base64" trimmed, without a copy of what may be a whole clip.
std::string_view UploadText(const JsonValue& body) {
  const JsonValue* member = body.Find("wav_base64");
  if (member == nullptr || member->type != JsonValue::Type::String) return {};
  std::string_view text = member->string_value;
  const size_t first = text.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\n\v\f\r") - first + 1);
}

constexpr char kTrimUploadPrefix[] = "zennic-trim-";

// Whether a number in an upload's name is the id of another running process. The clip's name
// before the writer's id may hold numbers too, so each is taken as the possible writer.
bool NamesAnotherRunningProcess(const std::string& name) {
  const int own = CurrentProcessId();
  for (size_t at = name.find_first_of("0123456789"); at != std::string::npos;
       at = name.find_first_of("0123456789", at)) {
    const size_t end = std::min(name.find_first_not_of("0123456789", at), name.size());
    int writer = 0;
    std::from_chars(name.data() + at, name.data() + end, writer);
    if (writer != own && IsProcessRunning(writer)) return true;
    at = end;
  }
  return false;
}

// Inside the root by text and, once it exists, by the file system's resolution; an empty root
// leaves the request to choose any folder.
bool StaysInsideRoot(const fs::path& path, const fs::path& root) {
  return root.empty() || (IsInsideAudioRoot(path, root) &&
                          HttpApi::ResolvePathInsideActiveRoot(path, root, nullptr));
}

// The upload, written to a new file of the system's temporary folder named after the clip,
// "zennic-trim-<slug>-<process id>.wav" (then "-2", "-3", ...). Created exclusively, so two
// exports of one clip never share it.
bool WriteTrimTempFile(const std::string& stem, const std::string& bytes, fs::path* temp,
                       std::string* error) {
  const std::string base =
      std::string(kTrimUploadPrefix) + MakeSlug(stem) + "-" + std::to_string(CurrentProcessId());
  const fs::path folder = fs::temp_directory_path();
  for (int n = 1; n <= 999; ++n) {
    fs::path candidate = folder / (base + (n == 1 ? "" : "-" + std::to_string(n)) + ".wav");
    std::FILE* file = std::fopen(candidate.c_str(), "wbx");
    if (file == nullptr) {
      if (errno == EEXIST) continue;
      break;
    }
    *temp = candidate;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written && error) *error = "Failed to write file contents";
    return written;
  }
  if (error) *error = "Failed to open file for writing";
  return false;
}

}  // namespace

void HttpApi::SweepAbandonedTrimExports() {
  std::error_code no_folder;
  const fs::path folder = fs::temp_directory_path(no_folder);
  ConfinedFolder opened;
  if (no_folder || ConfinedFolder::Open(folder, &opened) != 0) return;
  // The conversion of an upload leaves a work file of its own beside it.
  SweepAbandonedWorkFiles(opened, /*including_own=*/true);
  std::vector<std::pair<std::string, EntryType>> entries;
  if (opened.List(&entries) != 0) return;
  for (const auto& [name, type] : entries) {
    if (type == EntryType::File && name.starts_with(kTrimUploadPrefix) && name.ends_with(".wav") &&
        !NamesAnotherRunningProcess(name)) {
      opened.RemoveFile(name);
    }
  }
}

HttpResponse HttpApi::HandleTrimSource(const JsonValue& body) {
  std::optional<HttpResponse> refusal;
  fs::path root = ResolveRequestAudioDir(config_.runtime_state->GetSettings(), body, &refusal);
  if (refusal) return *refusal;
  std::string text = Trim(ReadJsonString(body, "path"));
  if (text.empty()) return PathInvalid("path is required");
  fs::path path = AbsoluteNormalPath(Utf8ToPath(text));
  constexpr char kOutside[] = "Trim source must stay inside the active profile audio folder";
  if (!root.empty() && !IsInsideAudioRoot(path, root)) return PathInvalid(kOutside);
  if (!root.empty() && IsUnderOriginalsFolder(root, path)) {
    return ErrorResponse(403, "originals_folder_forbidden", "Trim cannot use _originals folders");
  }
  if (!fs::exists(path) || !fs::is_regular_file(path)) return PathUnavailableResponse(kSourceGone);
  if (!StaysInsideRoot(path, root)) return PathInvalid(kOutside);
  if (!IsSupportedAudioExtension(path)) {
    return ErrorResponse(409, "file_unsupported",
                         "Selected file is not playable in the current build");
  }
  // Read from the folder that was checked, straight into the reply: the clip is held once.
  OpenFile file;
  if (int error = OpenFileInside(root, path, &file)) {
    if (error == ELOOP || error == ENOTDIR) return PathInvalid(kOutside);
    if (error == ENOENT) return PathUnavailableResponse(kSourceGone);
    return ErrorResponse(500, "trim_source_failed",
                         "Failed to open file for reading: " + SystemErrorText(error));
  }
  uint64_t size = 0;
  if (file.Size(&size) == 0 && size > kMaxTrimClipBytes) return TrimClipTooLarge("trim_source");
  std::string bytes;
  if (int error = file.ReadAll(&bytes)) {
    return ErrorResponse(500, "trim_source_failed",
                         "Failed to read file contents: " + SystemErrorText(error));
  }
  return BinaryResponse("application/octet-stream", std::move(bytes));
}

HttpResponse HttpApi::HandleTrimExport(const JsonValue& body) {
  if (config_.converter == nullptr) {
    return ErrorResponse(500, "converter_unavailable", "ConverterService is not configured");
  }
  std::optional<HttpResponse> refusal;
  fs::path root = ResolveRequestAudioDir(config_.runtime_state->GetSettings(), body, &refusal);
  if (refusal) return *refusal;
  const std::string_view upload = UploadText(body);
  const std::string original_name = Trim(ReadJsonString(body, "original_filename"));
  const std::string source_text = Trim(ReadJsonString(body, "source_path"));
  const std::string target_text = Trim(ReadJsonString(body, "target_folder_path"));
  if (upload.empty()) return PathInvalid("wav_base64 is required");
  if (source_text.empty() && original_name.empty()) {
    return PathInvalid("original_filename or source_path is required");
  }

  fs::path source;
  if (!source_text.empty()) {
    source = AbsoluteNormalPath(Utf8ToPath(source_text));
    if (!root.empty() && !IsInsideAudioRoot(source, root)) return PathInvalid(kSourceOutside);
    if (!root.empty() && IsUnderOriginalsFolder(root, source)) {
      return ErrorResponse(403, "originals_folder_forbidden", kTrimExportOriginals);
    }
    if (!fs::exists(source) || !fs::is_regular_file(source)) {
      return PathUnavailableResponse(kSourceGone);
    }
    if (!StaysInsideRoot(source, root)) return PathInvalid(kSourceOutside);
  }
  fs::path folder =
      !target_text.empty() ? AbsoluteNormalPath(Utf8ToPath(target_text)) : source.parent_path();
  if (folder.empty()) return PathInvalid("target_folder_path is required");
  if (!root.empty() && !IsInsideAudioRoot(folder, root)) return PathInvalid(kTargetOutside);
  if (!root.empty() && IsUnderOriginalsFolder(root, folder)) {
    return ErrorResponse(403, "originals_folder_forbidden", kTrimExportOriginals);
  }
  if (!source.empty() && !SamePathIgnoreCase(source.parent_path(), folder)) {
    return PathInvalid("Trim export must save into the same folder as the original file");
  }
  if (!fs::exists(folder) || !fs::is_directory(folder)) {
    return PathUnavailableResponse(kTargetFolderGone);
  }
  if (!StaysInsideRoot(folder, root)) return PathInvalid(kTargetOutside);

  const fs::path name_source = source.empty() ? Utf8ToPath(original_name) : source;
  fs::path output;
  if (std::optional<HttpResponse> refusal = ChooseOutputPath(
          body, folder, root, "Trim export output is outside the active profile audio folder",
          [&] {
            fs::path name = name_source.stem();
            name += "_trimmed.wav";
            return MakeUniqueFilePath(folder / name);
          },
          &output)) {
    return *refusal;
  }
  const HttpResponse taken = OutputNameTakenResponse();
  if (std::optional<HttpResponse> refusal = RefuseTakenPath(output, "Output file", taken)) {
    return *refusal;
  }
  // Four characters stand for at most three bytes: a clip too large is refused undecoded.
  if (upload.size() / 4 * 3 > kMaxTrimClipBytes) return TrimClipTooLarge("trim_export");
  std::string bytes;
  if (!Base64Decode(upload, &bytes) || bytes.empty()) {
    return ErrorResponse(400, "invalid_json", "wav_base64 did not contain valid base64 WAV data");
  }

  fs::path temp;
  std::string error;
  if (!WriteTrimTempFile(WideToUtf8(name_source.stem()), bytes, &temp, &error)) {
    if (!temp.empty()) DiscardWorkFile(temp);
    return ErrorResponse(500, "trim_export_failed",
                         error.empty() ? "The trimmed WAV data could not be stored" : error);
  }
  bytes = std::string();
  // A WAV is converted in place, so the temporary file then holds the playable clip.
  ConvertResult converted;
  const bool ran = config_.converter->Convert({}, {temp}, /*keep_originals=*/false,
                                              /*overwrite_existing=*/true, &converted, &error);
  if (!ran || converted.results.empty() || converted.results.front().status == "failed") {
    DiscardWorkFile(temp);
    if (ran && converted.results.empty()) {
      return ErrorResponse(500, "trim_export_failed",
                           "The trim export did not produce a converted file");
    }
    if (ran) error = converted.results.front().message;
    return ErrorResponse(500, "conversion_failed", error.empty() ? "Conversion failed" : error);
  }
  // Into the folder that was checked, wherever its name leads by now.
  FilePlace from{{}, temp.filename().string()};
  FilePlace to{{}, output.filename().string()};
  if (int opened = ConfinedFolder::Open(temp.parent_path(), &from.folder)) {
    DiscardWorkFile(temp);
    return ErrorResponse(500, "trim_export_failed", SystemErrorText(opened));
  }
  if (int opened = OpenFolderInside(root, folder, &to.folder)) {
    DiscardWorkFile(temp);
    return ConfinementRefusal(opened);
  }
  if (!MoveFileWithMessage(from, to, &error)) {
    DiscardWorkFile(temp);
    std::error_code code;
    if (fs::exists(fs::symlink_status(output, code))) return taken;
    return ErrorResponse(
        500, "trim_export_failed",
        error.empty() ? "The trimmed file could not be saved into the target folder" : error);
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["new_filename"] = WideToUtf8(output.filename());
  reply["new_path"] = WideToUtf8(output);
  return MakeJsonResponse(reply);
}

}  // namespace zennic

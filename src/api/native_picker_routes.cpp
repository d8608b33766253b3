// The desktop's folder and file choosers for the web client, which cannot browse the disk: a
// folder for a profile or the Sound Inbox, and a panic sound inside the active audio folder,
// converted to a playable clip when it needs to be.

#include <thread>

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "platform/file_chooser.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

constexpr char kPanicSoundGeneralMessage[] =
    "Could not prepare this Panic sound. Choose another file or prepare the folder first.";

// What a picker says when it cannot give an answer.
struct PickerTexts {
  const char* unavailable;
  const char* failed_to_open;
  const char* unresolved;
  const char* no_path;
  const char* failed;
  const char* null_output;
};

constexpr PickerTexts kFolderPickerTexts = {
    "Folder picker dialog is unavailable", "Folder picker dialog failed to open",
    "Folder picker could not resolve the selected folder",
    "Folder picker returned no filesystem path", "Folder picker failed",
    "Folder picker output pointer is null"};

constexpr PickerTexts kAudioFilePickerTexts = {
    "Audio file picker dialog is unavailable", "Audio file picker dialog failed to open",
    "Audio file picker could not resolve the selected file",
    "Audio file picker returned no filesystem path", "Audio file picker failed",
    "Audio file picker output pointer is null"};

// Filled by the dialog thread; read once it has been joined.
struct PickerOutcome {
  bool done = false;
  bool cancelled = false;
  fs::path chosen;
  std::string error;
};

void ShowPicker(const FileChooserRequest& request, const PickerTexts& texts,
                PickerOutcome* outcome) {
  FileChooserResult result = RunFileChooser(request);
  switch (result.status) {
    case FileChooserStatus::Chosen:
      outcome->done = true;
      outcome->chosen = AbsoluteNormalPath(result.path);
      return;
    case FileChooserStatus::Cancelled:
      outcome->done = outcome->cancelled = true;
      return;
    case FileChooserStatus::Unavailable: outcome->error = texts.unavailable; return;
    case FileChooserStatus::FailedToOpen: outcome->error = texts.failed_to_open; return;
    case FileChooserStatus::Unresolved: outcome->error = texts.unresolved; return;
    case FileChooserStatus::NoLocalPath: outcome->error = texts.no_path; return;
  }
}

// The dialog runs on a thread of its own, which the request waits for as long as it is open.
bool RunNativePicker(const FileChooserRequest& request, const PickerTexts& texts, fs::path* chosen,
                     bool* cancelled, std::string* error) {
  if (chosen == nullptr || cancelled == nullptr) {
    if (error != nullptr) *error = texts.null_output;
    return false;
  }
  PickerOutcome outcome;
  std::thread dialog([&] {
    try {
      ShowPicker(request, texts, &outcome);
    } catch (const std::exception& failure) {
      outcome.error = failure.what();
    }
  });
  dialog.join();
  if (!outcome.done) {
    if (error != nullptr) *error = outcome.error.empty() ? texts.failed : outcome.error;
    return false;
  }
  *chosen = outcome.chosen;
  *cancelled = outcome.cancelled;
  return true;
}

HttpResponse PanicSoundErrorResponse(int status, const std::string& message, JsonValue details) {
  return MakeJsonErrorResponse(status, "panic_sound_prepare_failed", message, std::move(details));
}

HttpResponse PanicSoundErrorResponse(int status, const std::string& message) {
  return PanicSoundErrorResponse(status, message, JsonValue::MakeObject());
}

}  // namespace

void HttpApi::RegisterNativePickerRoutes() {
  routes_.emplace("/api/mixer/browse-folder",
                  [this](const JsonValue& body) { return HandleBrowseFolder(body); });
  routes_.emplace("/api/mixer/panic/browse-file",
                  [this](const JsonValue&) { return HandleBrowsePanicFile(); });
}

bool HttpApi::RunFolderPicker(const fs::path& initial_folder, fs::path* chosen, bool* cancelled,
                              std::string* error) {
  if (config_.folder_picker) return config_.folder_picker(initial_folder, chosen, cancelled, error);
  FileChooserRequest request;
  request.kind = FileChooserKind::Folder;
  request.title = "Select Folder";
  request.initial_folder = initial_folder;
  return RunNativePicker(request, kFolderPickerTexts, chosen, cancelled, error);
}

bool HttpApi::RunAudioFilePicker(const fs::path& initial_folder, fs::path* chosen,
                                 bool* cancelled, std::string* error) {
  if (config_.audio_file_picker) {
    return config_.audio_file_picker(initial_folder, chosen, cancelled, error);
  }
  FileChooserRequest request;
  request.kind = FileChooserKind::File;
  request.title = "Open";
  request.initial_folder = initial_folder;
  request.filters = {{"Ruzerad audio files",
                      {".wav", ".mp3", ".ogg", ".flac", ".aac", ".adts", ".m4a", ".wma", ".asf"}},
                     {"All files", {}}};
  return RunNativePicker(request, kAudioFilePickerTexts, chosen, cancelled, error);
}

HttpResponse HttpApi::HandleBrowseFolder(const JsonValue& body) {
  std::string initial_text = Trim(ReadJsonString(body, "initial_path"));
  fs::path initial = initial_text.empty() ? fs::path() : AbsoluteNormalPath(Utf8ToPath(initial_text));
  fs::path chosen;
  bool cancelled = false;
  std::string error;
  if (!RunFolderPicker(initial, &chosen, &cancelled, &error)) {
    return ErrorResponse(500, "folder_picker_failed", error.empty() ? "Folder picker failed" : error);
  }
  // The route that stores the folder tests it.
  JsonValue reply = JsonValue::MakeObject();
  reply["selected_path"] = cancelled ? std::string() : WideToUtf8(chosen);
  reply["cancelled"] = cancelled;
  return MakeJsonResponse(reply);
}

JsonValue HttpApi::BuildPickerResultJson(const fs::path& root, const fs::path& file,
                                         bool prepared) {
  JsonValue reply = JsonValue::MakeObject();
  reply["cancelled"] = false;
  reply["selected_path"] = WideToUtf8(file);
  reply["relative_path"] = RelativeUtf8Path(root, file);
  reply["prepared"] = prepared;
  return reply;
}

HttpResponse HttpApi::HandleBrowsePanicFile() {
  fs::path root = ProfileService::ActiveAudioDirectory(config_.runtime_state->GetSettings());
  if (root.empty()) return ErrorResponse(400, "path_invalid", "Audio folder is not configured");
  if (!IsExistingFolder(root)) return PathUnavailableResponse(kAudioRootUnavailable);

  fs::path chosen;
  bool cancelled = false;
  std::string error;
  if (!RunAudioFilePicker(root, &chosen, &cancelled, &error)) {
    return ErrorResponse(500, "audio_file_picker_failed",
                         error.empty() ? "Audio file picker failed" : error);
  }
  if (cancelled) {
    JsonValue reply = JsonValue::MakeObject();
    reply["cancelled"] = true;
    reply["selected_path"] = "";
    return MakeJsonResponse(reply);
  }

  fs::path file = AbsoluteNormalPath(chosen);
  constexpr char kOutside[] = "Panic sound must stay inside the active profile audio folder";
  if (!IsInsideAudioRoot(file, root)) return ErrorResponse(400, "path_invalid", kOutside);
  // Converting a kept source would file it again under "_originals/_originals".
  if (IsUnderOriginalsFolder(root, file)) {
    return ErrorResponse(403, "originals_folder_forbidden",
                         "Panic sound cannot use _originals folders");
  }
  std::error_code unreadable;
  if (!fs::is_regular_file(file, unreadable)) {
    return ErrorResponse(409, "path_unavailable", "The selected Panic sound is no longer available.");
  }
  // A link inside the folder that leads out of it is outside too.
  if (!ResolvePathInsideActiveRoot(file, root, nullptr)) {
    return ErrorResponse(400, "path_invalid", kOutside);
  }
  if (!IsSupportedAudioExtension(file)) {
    return ErrorResponse(400, "unsupported_audio_extension",
                         "Selected Panic sound format is not supported");
  }
  if (config_.analyzer == nullptr) {
    return ErrorResponse(500, "analyzer_unavailable", "AnalyzerService is not configured");
  }
  AnalyzerFileMetadata analysis;
  if (!config_.analyzer->AnalyzeFile(root, file, &analysis, nullptr)) {
    return PanicSoundErrorResponse(400, kPanicSoundGeneralMessage);
  }
  if (analysis.compatibility_state == "compatible") {
    return MakeJsonResponse(BuildPickerResultJson(root, file, false));
  }
  if (analysis.compatibility_state != "needs_conversion" || !analysis.convertible) {
    return PanicSoundErrorResponse(400, kPanicSoundGeneralMessage);
  }
  return PreparePanicSound(root, file);
}

HttpResponse HttpApi::PreparePanicSound(const fs::path& root, const fs::path& file) {
  if (config_.converter == nullptr) {
    return ErrorResponse(500, "converter_unavailable", "ConverterService is not configured");
  }
  ConvertResult converted;
  std::string error;
  // Never over another file; the source is kept under "_originals".
  if (!config_.converter->Convert(root, {file}, true, false, &converted, &error)) {
    return PanicSoundErrorResponse(500, error.empty() ? kPanicSoundGeneralMessage : error);
  }
  if (converted.results.empty()) return PanicSoundErrorResponse(500, kPanicSoundGeneralMessage);
  const ConvertItemResult& item = converted.results.front();
  if (item.status == "failed" || item.target_path.empty()) {
    JsonValue details = JsonValue::MakeObject();
    details["source_path"] = item.source_path;
    details["target_path"] = item.target_path;
    details["converter_status"] = item.status;
    details["converter_code"] = item.code.empty() ? JsonValue() : JsonValue(item.code);
    return PanicSoundErrorResponse(item.code == "target_exists" ? 409 : 500,
                                   item.message.empty() ? kPanicSoundGeneralMessage : item.message,
                                   std::move(details));
  }
  fs::path target = AbsoluteNormalPath(Utf8ToPath(item.target_path));
  std::error_code unreadable;
  AnalyzerFileMetadata analysis;
  if (!IsInsideAudioRoot(target, root) || !fs::is_regular_file(target, unreadable) ||
      !config_.analyzer->AnalyzeFile(root, target, &analysis, nullptr) ||
      analysis.compatibility_state != "compatible") {
    return PanicSoundErrorResponse(500, kPanicSoundGeneralMessage);
  }
  return MakeJsonResponse(BuildPickerResultJson(root, target, item.status == "converted"));
}

}  // namespace zennic

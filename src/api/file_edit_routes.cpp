// Deleting, moving and renaming a clip; the selected and panic clips follow a moved file.

#include "api/audio_folder_rules.h"
#include "api/file_move.h"
#include "api/file_name_validation.h"
#include "api/http_api.h"
#include "api/path_style.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/confined_paths.h"
#include "core/text.h"
#include "platform/file_sync.h"
#include "server/json_envelope.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

HttpResponse FilePathRequired() {
  return HttpApi::ErrorResponse(400, "path_invalid", "A file path is required");
}

// The client names folders the way Windows spells them, so "..\Other", "C:\Other" and
// "\Other" must not pass as sub-folders on any system.
bool LeavesTheRoot(const std::string& relative_folder) {
  return PathTextIsRooted(relative_folder, PathStyle::kWindows) ||
         PathTextHasParentComponent(relative_folder, PathStyle::kWindows);
}

bool PathIsTaken(const fs::path& path) {
  std::error_code code;
  return fs::exists(fs::symlink_status(path, code));
}

// A moved or renamed file as the reply names it, and its two places.
struct MovedFile {
  fs::path source;
  fs::path target;
  FilePlace from;
  FilePlace to;
  std::string old_relative_path;
  std::string new_relative_path;
  bool ptt_path_updated = false;
  bool panic_path_updated = false;
};

void AddMovedFileKeys(const MovedFile& moved, JsonValue* reply) {
  (*reply)["old_path"] = WideToUtf8(moved.source);
  (*reply)["new_path"] = WideToUtf8(moved.target);
  (*reply)["old_relative_path"] = moved.old_relative_path;
  (*reply)["new_relative_path"] = moved.new_relative_path;
  (*reply)["ptt_path_updated"] = moved.ptt_path_updated;
  (*reply)["panic_path_updated"] = moved.panic_path_updated;
}

// Moves the file, then points the selected and panic clips that named it at the new path; when
// that cannot be saved the file goes back, so the settings never name a missing clip.
bool MoveWithSelection(RuntimeState* runtime_state, const MixerSettings& settings,
                       const fs::path& root, MovedFile* moved, const std::string& failure_code,
                       const HttpResponse& taken, HttpResponse* refusal) {
  moved->old_relative_path = RelativeUtf8Path(root, moved->source);
  moved->new_relative_path = RelativeUtf8Path(root, moved->target);
  std::string error;
  if (!MoveFileWithMessage(moved->from, moved->to, &error)) {
    *refusal =
        PathIsTaken(moved->target) ? taken : HttpApi::ErrorResponse(409, failure_code, error);
    return false;
  }
  // Decided on the copy taken when the request began; the edit itself starts from the settings
  // in force.
  const bool ptt = SettingPathRefersTo(settings.file_path, moved->source);
  const bool panic = SettingPathRefersTo(settings.panic_file_path, moved->source);
  if (!ptt && !panic) return true;
  const std::string new_path = WideToUtf8(moved->target);
  if (!runtime_state->MutateSettings(
          [&](MixerSettings& edited) {
            if (ptt) edited.file_path = new_path;
            if (panic) edited.panic_file_path = new_path;
          },
          /*persist=*/true, &error)) {
    std::string rollback_error;
    if (!MoveFileWithMessage(moved->to, moved->from, &rollback_error)) {
      error += " Rollback failed: " + rollback_error;
    }
    *refusal = HttpApi::ErrorResponse(500, "settings_save_failed", error);
    return false;
  }
  moved->ptt_path_updated = ptt;
  moved->panic_path_updated = panic;
  return true;
}

}  // namespace

HttpResponse HttpApi::HandleFilesDelete(const JsonValue& body) {
  MixerSettings settings = config_.runtime_state->GetSettings();
  fs::path root = ProfileService::ActiveAudioDirectory(settings);
  if (root.empty()) return ErrorResponse(400, "path_invalid", kAudioRootNotConfigured);
  std::string text = Trim(ReadJsonString(body, "path"));
  if (text.empty()) return FilePathRequired();
  fs::path candidate = AbsoluteNormalPath(Utf8ToPath(text));
  if (!IsInsideAudioRoot(candidate, root)) {
    return ErrorResponse(403, "path_outside_root", kFileOutsideRoot);
  }
  if (!fs::exists(candidate)) {
    return ErrorResponse(404, "file_not_found", "Selected file does not exist");
  }
  if (!fs::is_regular_file(candidate)) {
    return ErrorResponse(400, "path_invalid", "The requested path is not a file");
  }
  // A linked folder inside the root may lead anywhere; only what resolves inside is deleted.
  std::string reason;
  if (!ResolvePathInsideActiveRoot(candidate, root, &reason)) {
    return ErrorResponse(403, "path_outside_root", reason);
  }
  // The entry is removed from the folder that was checked, never through a link.
  FilePlace place;
  if (int error = OpenParentInside(root, candidate, &place)) return ConfinementRefusal(error);
  if (int error = place.folder.RemoveFile(place.name)) {
    if (error == ENOENT) {
      return ErrorResponse(404, "file_not_found", "Selected file does not exist");
    }
    return ErrorResponse(500, "file_delete_failed",
                         "Failed to delete file: " + SystemErrorText(error));
  }

  bool selection_cleared = WideToUtf8(candidate) == settings.file_path;
  std::string error;
  if (selection_cleared && !config_.runtime_state->MutateSettings(
                               [](MixerSettings& edited) { edited.file_path.clear(); },
                               /*persist=*/true, &error)) {
    return ErrorResponse(500, "settings_save_failed", error);
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["deleted_path"] = WideToUtf8(candidate);
  reply["selection_cleared"] = selection_cleared;
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleFilesMove(const JsonValue& body) {
  MixerSettings settings = config_.runtime_state->GetSettings();
  fs::path root = ProfileService::ActiveAudioDirectory(settings);
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  std::string text = Trim(ReadJsonString(body, "path"));
  if (text.empty()) return FilePathRequired();
  const JsonValue* destination = body.Find("destination_relative_dir");
  if (destination == nullptr || destination->type != JsonValue::Type::String) {
    return ErrorResponse(400, "destination_invalid", "A destination folder is required");
  }
  MovedFile moved;
  moved.source = AbsoluteNormalPath(Utf8ToPath(text));
  if (std::optional<HttpResponse> refusal =
          CheckFileToEdit(root, moved.source, "Move cannot use _originals folders",
                          /*require_sound_extension=*/false)) {
    return *refusal;
  }
  if (LeavesTheRoot(destination->string_value)) {
    return ErrorResponse(400, "destination_invalid",
                         "Destination folder must stay inside the active profile audio folder");
  }
  fs::path folder = AbsoluteNormalPath(root / Utf8ToPath(destination->string_value));
  if (!IsInsideAudioRoot(folder, root)) {
    return ErrorResponse(403, "path_outside_root",
                         "Destination folder is outside the active profile audio folder");
  }
  if (IsUnderOriginalsFolder(root, folder)) {
    return ErrorResponse(403, "originals_folder_forbidden", "Move cannot use _originals folders");
  }
  if (!fs::exists(folder) || !fs::is_directory(folder)) {
    return ErrorResponse(404, "destination_not_found", "Destination folder does not exist");
  }
  std::string reason;
  if (!ResolvePathInsideActiveRoot(folder, root, &reason)) {
    return ErrorResponse(403, "path_outside_root", reason);
  }
  if (SamePathIgnoreCase(moved.source.parent_path(), folder)) {
    return ErrorResponse(409, "same_destination", "File is already in that folder");
  }
  moved.target = AbsoluteNormalPath(folder / moved.source.filename());
  HttpResponse taken = ErrorResponse(409, "destination_exists",
                                     "Destination folder already contains a file with this name");
  if (std::optional<HttpResponse> refusal =
          RefuseTakenPath(moved.target, "Destination folder", taken)) {
    return *refusal;
  }
  moved.to.name = moved.source.filename().string();
  if (int error = OpenParentInside(root, moved.source, &moved.from)) {
    return ConfinementRefusal(error);
  }
  if (int error = OpenFolderInside(root, folder, &moved.to.folder)) {
    return ConfinementRefusal(error);
  }
  HttpResponse move_failed;
  if (!MoveWithSelection(config_.runtime_state, settings, root, &moved, "file_move_failed", taken,
                         &move_failed)) {
    return move_failed;
  }
  JsonValue reply = JsonValue::MakeObject();
  AddMovedFileKeys(moved, &reply);
  reply["filename"] = WideToUtf8(moved.source.filename());
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleFilesRename(const JsonValue& body) {
  MixerSettings settings = config_.runtime_state->GetSettings();
  fs::path root = ProfileService::ActiveAudioDirectory(settings);
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  std::string text = Trim(ReadJsonString(body, "path"));
  if (text.empty()) return FilePathRequired();
  const JsonValue* new_name = body.Find("new_filename");
  if (new_name == nullptr || new_name->type != JsonValue::Type::String) {
    return ErrorResponse(400, "filename_required", "New filename is required");
  }
  MovedFile moved;
  moved.source = AbsoluteNormalPath(Utf8ToPath(text));
  if (std::optional<HttpResponse> refusal =
          CheckFileToEdit(root, moved.source, "Rename cannot use _originals folders",
                          /*require_sound_extension=*/true)) {
    return *refusal;
  }
  fs::path accepted;
  std::string code;
  std::string message;
  if (!ValidateNewFilename(moved.source, new_name->string_value, &accepted, &code, &message)) {
    return ErrorResponse(400, code, message);
  }
  moved.target = AbsoluteNormalPath(moved.source.parent_path() / accepted);
  if (SamePathIgnoreCase(moved.target, moved.source)) {
    return ErrorResponse(409, "same_filename", "File already has that filename");
  }
  HttpResponse taken = ErrorResponse(409, "destination_exists",
                                     "A file with that name already exists in this folder");
  if (std::optional<HttpResponse> refusal =
          RefuseTakenPath(moved.target, "Destination file", taken)) {
    return *refusal;
  }
  if (int error = OpenParentInside(root, moved.source, &moved.from)) {
    return ConfinementRefusal(error);
  }
  moved.to = FilePlace{moved.from.folder, moved.target.filename().string()};
  HttpResponse rename_failed;
  if (!MoveWithSelection(config_.runtime_state, settings, root, &moved, "file_rename_failed", taken,
                         &rename_failed)) {
    return rename_failed;
  }
  JsonValue reply = JsonValue::MakeObject();
  AddMovedFileKeys(moved, &reply);
  reply["old_filename"] = WideToUtf8(moved.source.filename());
  reply["new_filename"] = WideToUtf8(moved.target.filename());
  return MakeJsonResponse(reply);
}

}  // namespace zennic

#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/json_value.h"
#include "server/http_message.h"

namespace zennic {

// The rules every file route applies to the paths a request names. Each lexical test compares
// absolute normal forms by the file system's own rules (path_style.h); the canonical test of
// HttpApi::ResolvePathInsideActiveRoot follows once a path is known to exist, so a link inside
// the root that leads out of it is caught too.

inline constexpr char kAudioRootNotConfigured[] = "Active profile audio folder is not configured";
inline constexpr char kAudioRootUnavailable[] =
    "The selected audio folder is no longer available. Pick another location and try again.";
inline constexpr char kFileOutsideRoot[] =
    "The requested file is outside the active profile audio folder";

// The lexical inside test: true for the root itself and anything below it, false for an empty
// root. No file-system access.
bool IsInsideAudioRoot(const std::filesystem::path& path, const std::filesystem::path& root);
// The last component is "_originals", any letter case.
bool IsOriginalsFolder(const std::filesystem::path& path);
// The path, taken relative to the root, passes through an "_originals" folder; the root's own
// name does not count.
bool IsUnderOriginalsFolder(const std::filesystem::path& root, const std::filesystem::path& path);
bool PathHasOriginalsComponent(const std::filesystem::path& relative);
bool PathHasParentComponent(const std::filesystem::path& path);
// Relative to the root once both are resolved as far as they exist; the file name alone when
// there is no root or either cannot be resolved.
std::string RelativeUtf8Path(const std::filesystem::path& root, const std::filesystem::path& path);
// The same absolute path; letter case is ignored only where the file system ignores it.
bool SamePathIgnoreCase(const std::filesystem::path& a, const std::filesystem::path& b);
// Whether a settings value (a clip path) names `path`; a blank value names nothing.
bool SettingPathRefersTo(const std::string& value, const std::filesystem::path& path);

// An existing folder, links followed; never throws.
bool IsExistingFolder(const std::filesystem::path& folder);
// The active root as the routes without "dir" and "profile_id" need it: 400 "path_invalid"
// when no profile has a folder, 409 "path_unavailable" when it is not an existing folder.
std::optional<HttpResponse> RequireExistingAudioRoot(const std::filesystem::path& root);

// Nothing when nothing is at `path`; else `taken`, or 409 "path_unavailable" ("<what> could not
// be checked: ...") when that cannot be told.
std::optional<HttpResponse> RefuseTakenPath(const std::filesystem::path& path,
                                            const std::string& what, const HttpResponse& taken);

// 400 "path_invalid" when a path or file name of the request holds a NUL character: every check
// sees the whole text, but the system would stop reading it at the NUL and act on another file.
std::optional<HttpResponse> RefuseNulInPaths(const JsonValue& body);

// The refusal when a path that passed the checks cannot be reached from the root's opened
// folder (OpenFolderInside and its kin): 403 "path_outside_root" when it leads out of the root,
// as a folder swapped for a link meanwhile does, else 409 "path_unavailable".
HttpResponse ConfinementRefusal(int error_number);

// The checks of a file that a route is about to edit, in their fixed order: inside the root,
// not under "_originals" (refused with `originals_message`), present, a regular file, a sound
// file's extension (when `require_sound_extension`), and inside the root once resolved.
// Nothing, or the refusal to answer.
std::optional<HttpResponse> CheckFileToEdit(const std::filesystem::path& root,
                                            const std::filesystem::path& path,
                                            const std::string& originals_message,
                                            bool require_sound_extension);

}  // namespace zennic

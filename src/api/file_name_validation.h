#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zennic {

// Names a user types become one component of a path on a Windows file system, so the Windows
// rules hold everywhere: no separators or other forbidden characters, no trailing dot or space,
// no device names. Each validator writes the accepted name, or a stable code and an English
// sentence, into whichever outputs are given. Leading spaces are kept: only the emptiness test
// looks at a trimmed copy.

// The name of a file an operation writes; always a ".wav" file ("mix" becomes "mix.wav").
bool ValidateOutputFilename(const std::string& name, std::filesystem::path* accepted,
                            std::string* code, std::string* message);
// The new name of a renamed file, which keeps the current file's extension.
bool ValidateNewFilename(const std::filesystem::path& current, const std::string& name,
                         std::filesystem::path* accepted, std::string* code, std::string* message);
// A new sub-folder; "_originals" is reserved.
bool ValidateFolderName(const std::string& name, std::filesystem::path* accepted, std::string* code,
                        std::string* message);

// The dot at `dot` starts an extension of 1 to 16 ASCII letters and digits, and is not the
// name's first character.
bool HasValidExtension(std::string_view name, size_t dot);
// The part before the first dot is "con", "prn", "aux", "nul", "com1".."com9" or "lpt1".."lpt9".
bool IsReservedDeviceName(std::string_view name);

}  // namespace zennic

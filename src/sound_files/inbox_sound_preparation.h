#pragma once

#include <filesystem>
#include <string>

// ConverterService::PrepareInboxSound is defined with these helpers in
// inbox_sound_preparation.cpp.

namespace zennic {

// What one preparation of a downloaded sound made; only `source_path` is filled on failure.
struct ImportedSoundResult {
  std::string source_path;    // absolute, lexically normalised
  std::string prepared_path;  // the ready clip
  std::string backup_path;    // the kept copy of the untouched source
  std::string file_name;      // the clip's name without folder
  double duration_seconds = 0.0;  // the source's length plus the appended silence
};

// The clip's name stem from the source's: characters no file name may hold become "_";
// "inbox_sound" when nothing usable is left.
std::string SanitizeInboxStem(const std::filesystem::path& source);

// Copies the source to `backup`, creating its folders; never replaces a file and never leaves a
// partial copy at `backup`.
bool CopyImportedOriginal(const std::filesystem::path& source, const std::filesystem::path& backup,
                          std::string* error);

}  // namespace zennic

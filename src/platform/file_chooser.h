#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zennic {

enum class FileChooserKind { Folder, File };

// One set of files the chooser offers, e.g. {"Audio files", {".wav", ".mp3"}}; no extensions
// means every file. Extensions match whatever their letter case.
struct FileChooserFilter {
  std::string name;
  std::vector<std::string> extensions;
};

struct FileChooserRequest {
  FileChooserKind kind = FileChooserKind::File;
  std::string title;
  // Where the chooser opens; ignored when empty or not an existing folder.
  std::filesystem::path initial_folder;
  // The first is selected.
  std::vector<FileChooserFilter> filters;
};

enum class FileChooserStatus {
  Chosen,
  Cancelled,
  Unavailable,     // no desktop to show it on
  FailedToOpen,    // the chooser or its start folder could not be set up
  Unresolved,      // the answer named nothing
  NoLocalPath,     // the answer is not a file on this machine
};

struct FileChooserResult {
  FileChooserStatus status = FileChooserStatus::Unavailable;
  std::filesystem::path path;  // when chosen
};

// Shows the desktop's file or folder chooser, without an owner window, and waits for the
// user's answer as long as it takes. Call it off the desktop's thread, which shows the
// chooser; when the desktop closes first, the answer is Unavailable.
FileChooserResult RunFileChooser(const FileChooserRequest& request);

}  // namespace zennic

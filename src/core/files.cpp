#include "core/files.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "platform/file_sync.h"
#include "platform/process_ids.h"
#include "platform/secure_random.h"

namespace zennic {
namespace {

bool Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

}  // namespace

bool ReadTextFile(const std::filesystem::path& path, std::string* output, std::string* error) {
  if (output == nullptr) return Fail(error, "ReadText output buffer is null");
  // A folder opens as a stream too, and reports a length that is no file's.
  std::error_code status_error;
  std::filesystem::file_status status = std::filesystem::status(path, status_error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return Fail(error, "Not a regular file: " + path.string());
  }
  std::error_code size_error;
  if (std::filesystem::file_size(path, size_error) > kMaxTextFileBytes && !size_error) {
    return Fail(error, "File is too large to read: " + path.string());
  }
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return Fail(error, "Unable to open file for reading: " + path.string());
  // Read as it comes rather than sized by the length the file claims.
  std::string text;
  char chunk[65536];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    size_t count = static_cast<size_t>(file.gcount());
    if (text.size() + count > kMaxTextFileBytes) {
      return Fail(error, "File is too large to read: " + path.string());
    }
    text.append(chunk, count);
  }
  if (file.bad()) return Fail(error, "Failed while reading file: " + path.string());
  *output = std::move(text);
  return true;
}

bool WriteTextFileAtomic(const std::filesystem::path& path, std::string_view text,
                         std::string* error) {
  if (!EnsureParentDirectory(path, error)) return false;
  std::filesystem::path work;
  if (!CreateExclusiveWorkFile(path, &work, error)) return false;
  {
    std::ofstream file(work, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.flush();
    if (!file.good()) {
      DiscardWorkFile(work);
      return Fail(error, "Failed while writing temp file: " + work.string());
    }
  }
  int code = 0;
  if (!PublishWorkFile(work, path, /*replace_existing=*/true, nullptr, &code)) {
    return Fail(error, "MoveFileExW failed with error " + std::to_string(code) + " for " +
                           path.string());
  }
  return true;
}

namespace {

// The process a work file's name says is writing it; 0 for a name of the older form, which
// names none; nothing for a name that is no work file.
std::optional<int> WorkFileWriter(std::string_view name) {
  constexpr std::string_view kMark = ".zennic-";
  constexpr std::string_view kEnd = ".tmp";
  const size_t mark = name.rfind(kMark);
  if (mark == std::string_view::npos || !name.ends_with(kEnd)) return std::nullopt;
  std::string_view tag = name.substr(mark + kMark.size());
  tag.remove_suffix(kEnd.size());
  const size_t dash = tag.find('-');
  const std::string_view random = dash == std::string_view::npos ? tag : tag.substr(dash + 1);
  const bool random_tag =
      random.size() == 12 && random.find_first_not_of("0123456789abcdef") == std::string_view::npos;
  if (!random_tag) return std::nullopt;
  if (dash == std::string_view::npos) return 0;
  int writer = 0;
  const auto [end, parsed] = std::from_chars(tag.data(), tag.data() + dash, writer);
  if (parsed != std::errc() || end != tag.data() + dash || writer <= 0) return std::nullopt;
  return writer;
}

void SweepAbandonedWorkFile(const ConfinedFolder& folder, const std::string& name,
                            bool including_own) {
  const std::optional<int> writer = WorkFileWriter(name);
  if (!writer) return;
  const bool own = *writer == CurrentProcessId();
  if (own ? including_own : !IsProcessRunning(*writer)) folder.RemoveFile(name);
}

}  // namespace

void SweepAbandonedWorkFiles(const ConfinedFolder& folder, bool including_own) {
  std::vector<std::pair<std::string, EntryType>> entries;
  if (folder.List(&entries) != 0) return;
  for (const auto& [name, type] : entries) {
    if (type == EntryType::File) SweepAbandonedWorkFile(folder, name, including_own);
  }
}

void SweepAbandonedWorkFiles(const std::filesystem::path& folder, bool recursive) {
  if (folder.empty()) return;
  WalkInside(folder, [recursive](const ConfinedFolder& parent, const std::string& name,
                                 EntryType type, const std::filesystem::path&) {
    if (type == EntryType::File) SweepAbandonedWorkFile(parent, name, /*including_own=*/true);
    return recursive;
  });
}

bool CreateExclusiveWorkFile(const ConfinedFolder& folder, const std::string& target_name,
                             WorkFile* work, std::string* error) {
  if (work == nullptr) return Fail(error, "Work file path output pointer is null");
  SweepAbandonedWorkFiles(folder, /*including_own=*/false);
  const std::string writer = std::to_string(CurrentProcessId());
  constexpr int kAttempts = 16;
  std::string candidate = target_name;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    unsigned char random[6];
    if (!FillSecureRandom(random, sizeof random)) break;
    char tag[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i) {
      std::snprintf(tag + 2 * i, 3, "%02x", random[i]);
    }
    candidate = target_name + ".zennic-" + writer + "-" + tag + ".tmp";
    // Made exclusively, so the file is ours alone.
    const int result = folder.CreateFile(candidate, &work->file);
    if (result == 0) {
      work->folder = folder;
      work->name = candidate;
      return true;
    }
    if (result != EEXIST) break;
  }
  return Fail(error, "Unable to open temp file for writing: " + candidate);
}

void DiscardWorkFile(const WorkFile& work) { work.folder.RemoveFile(work.name); }

bool PublishWorkFile(const WorkFile& work, const std::string& target_name, bool replace_existing,
                     std::string* error, int* error_number) {
  int result = work.file.Sync();
  if (result == 0) {
    result = work.folder.Rename(work.name, work.folder, target_name, replace_existing);
  }
  if (result != 0) {
    DiscardWorkFile(work);
    if (error_number != nullptr) *error_number = result;
    return Fail(error, SystemErrorText(result));
  }
  // The rename itself must survive a power cut too. Some file systems cannot sync a folder;
  // the file is in place by now, and a caller told otherwise might discard what it replaced.
  work.folder.Sync();
  return true;
}

namespace {

// The folder a path lies in, opened; the current folder for a bare name.
int OpenFolderOf(const std::filesystem::path& path, ConfinedFolder* folder) {
  const std::filesystem::path parent = path.parent_path();
  return ConfinedFolder::Open(parent.empty() ? std::filesystem::path(".") : parent, folder);
}

}  // namespace

bool CreateExclusiveWorkFile(const std::filesystem::path& target, std::filesystem::path* work,
                             std::string* error) {
  if (work == nullptr) return Fail(error, "Work file path output pointer is null");
  ConfinedFolder folder;
  WorkFile made;
  if (OpenFolderOf(target, &folder) != 0 ||
      !CreateExclusiveWorkFile(folder, target.filename().string(), &made, nullptr)) {
    return Fail(error, "Unable to open temp file for writing: " + target.string() +
                           ".zennic-*.tmp");
  }
  *work = target.parent_path() / made.name;
  return true;
}

void DiscardWorkFile(const std::filesystem::path& work) {
  std::error_code ignored;
  std::filesystem::remove(work, ignored);
}

bool PublishWorkFile(const std::filesystem::path& work, const std::filesystem::path& target,
                     bool replace_existing, std::string* error, int* error_number) {
  WorkFile opened;
  opened.name = work.filename().string();
  int result = OpenFolderOf(target, &opened.folder);
  if (result == 0) result = opened.folder.OpenFileForReading(opened.name, &opened.file);
  if (result != 0) {
    DiscardWorkFile(work);
    if (error_number != nullptr) *error_number = result;
    return Fail(error, SystemErrorText(result));
  }
  return PublishWorkFile(opened, target.filename().string(), replace_existing, error,
                         error_number);
}

bool MoveDamagedFileAside(const std::filesystem::path& file, std::filesystem::path* kept_as,
                          std::string* error) {
  std::string name = file.filename().string();
  for (int n = 1; n <= 999; ++n) {
    std::filesystem::path target =
        file.parent_path() / (name + (n == 1 ? "" : "-" + std::to_string(n)) + ".corrupted");
    int result = MoveFileWithoutReplacing(file, target);
    if (result == EEXIST) continue;
    if (result != 0) return Fail(error, SystemErrorText(result));
    SyncFolderToDisk(file.parent_path());
    if (kept_as != nullptr) *kept_as = target;
    return true;
  }
  return Fail(error, "No free name is left beside " + file.string());
}

int CopyFileToPlace(const FilePlace& from, const FilePlace& to) {
  OpenFile source;
  if (int error = from.folder.OpenFileForReading(from.name, &source)) return error;
  WorkFile work;
  if (!CreateExclusiveWorkFile(to.folder, to.name, &work, nullptr)) return EIO;
  if (int error = source.CopyTo(work.file)) {
    DiscardWorkFile(work);
    return error;
  }
  int published = 0;
  PublishWorkFile(work, to.name, /*replace_existing=*/false, nullptr, &published);
  return published;
}

int MoveFileToPlace(const FilePlace& from, const FilePlace& to) {
  const int moved = from.folder.Rename(from.name, to.folder, to.name, /*replace=*/false);
  if (moved != EXDEV) return moved;
  if (int error = CopyFileToPlace(from, to)) return error;
  if (int error = from.folder.RemoveFile(from.name)) {
    // Two copies would be a move that did not happen: take the new one back.
    to.folder.RemoveFile(to.name);
    return error;
  }
  return 0;
}

bool CreateDirectories(const std::filesystem::path& path, std::string* error) {
  if (path.empty()) return true;
  std::error_code code;
  std::filesystem::create_directories(path, code);
  if (!code) return true;
  // create_directories reports an existing folder reached through a trailing separator as an
  // error on some library versions.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return true;
  return Fail(error, "Failed to create directory: " + code.message());
}

bool EnsureParentDirectory(const std::filesystem::path& file, std::string* error) {
  std::filesystem::path parent = file.parent_path();
  if (parent.empty()) return true;
  return CreateDirectories(parent, error);
}

bool EnsureAudioFolderLayout(const std::filesystem::path& folder, std::string* error) {
  if (!CreateDirectories(folder, error)) return false;
  for (const char* category : {"Comedy", "Movies", "Music", "Games"}) {
    if (!CreateDirectories(folder / category, error)) return false;
  }
  return true;
}

int64_t FileTimeToTicks(std::filesystem::file_time_type time) {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
  // 1601-01-01 to 1970-01-01.
  constexpr int64_t kUnixEpochTicks = 116'444'736'000'000'000;
  auto since_unix_epoch = std::chrono::file_clock::to_sys(time).time_since_epoch();
  return std::chrono::floor<Ticks>(since_unix_epoch).count() + kUnixEpochTicks;
}

}  // namespace zennic

#include "model/files.h"

#include <chrono>
#include <fstream>
#include <system_error>

#include "platform/file_sync.h"

namespace zennic {
namespace {

bool Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

}  // namespace

bool ReadTextFile(const std::filesystem::path& path, std::string* output, std::string* error) {
  if (output == nullptr) return Fail(error, "ReadText output buffer is null");
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return Fail(error, "Unable to open file for reading: " + path.string());
  file.seekg(0, std::ios::end);
  std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (size < 0) return Fail(error, "Failed while reading file: " + path.string());
  output->assign(static_cast<size_t>(size), '\0');
  if (size > 0) file.read(output->data(), size);
  if (!file.good() && !file.eof()) return Fail(error, "Failed while reading file: " + path.string());
  // A file that shrank while it was read keeps only what was there.
  output->resize(static_cast<size_t>(file.gcount() < size ? file.gcount() : size));
  return true;
}

bool WriteTextFileAtomic(const std::filesystem::path& path, std::string_view text,
                         std::string* error) {
  if (!EnsureParentDirectory(path, error)) return false;
  std::filesystem::path temp = path;
  temp += ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return Fail(error, "Unable to open temp file for writing: " + temp.string());
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.flush();
    if (!file.good()) return Fail(error, "Failed while writing temp file: " + temp.string());
  }
  if (SyncFileToDisk(temp) != 0) {
    return Fail(error, "Failed while writing temp file: " + temp.string());
  }
  if (int code = MoveFileReplacing(temp, path); code != 0) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    return Fail(error, "MoveFileExW failed with error " + std::to_string(code) + " for " +
                           path.string());
  }
  // The rename itself must survive a power cut too.
  SyncFolderToDisk(path.parent_path());
  return true;
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

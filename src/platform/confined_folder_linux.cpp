#include "platform/confined_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zennic {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::shared_ptr<const int> OwnDescriptor(int descriptor) {
  return std::shared_ptr<const int>(new int(descriptor), [](const int* owned) {
    ::close(*owned);
    delete owned;
  });
}

EntryType TypeOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::File;
  if (S_ISDIR(mode)) return EntryType::Folder;
  if (S_ISLNK(mode)) return EntryType::Link;
  return EntryType::Other;
}

// A name of this folder alone: no separator, and neither "." nor "..".
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

OpenFile::OpenFile(OpenFile&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

OpenFile::~OpenFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

int OpenFile::Size(uint64_t* bytes) const {
  struct stat facts {};
  if (::fstat(descriptor_, &facts) != 0) return errno;
  *bytes = static_cast<uint64_t>(facts.st_size);
  return 0;
}

int OpenFile::ReadAll(std::string* bytes) const {
  uint64_t size = 0;
  if (int error = Size(&size)) return error;
  bytes->resize(size);
  for (uint64_t done = 0; done < size;) {
    const ssize_t got = ::pread(descriptor_, bytes->data() + done, size - done,
                                static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return EIO;  // cut short while being read
    done += static_cast<uint64_t>(got);
  }
  return 0;
}

int OpenFile::CopyTo(const OpenFile& target) const {
  char buffer[1 << 16];
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(descriptor_, buffer, sizeof buffer, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    for (ssize_t written = 0; written < got;) {
      const ssize_t put = ::write(target.descriptor_, buffer + written,
                                  static_cast<size_t>(got - written));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return errno;
      written += put;
    }
    offset += got;
  }
}

int OpenFile::Sync() const { return ::fsync(descriptor_) == 0 ? 0 : errno; }

std::filesystem::path OpenFile::ReopenPath() const {
  // The kernel resolves this to the open file itself, not to whatever its name leads to now.
  return "/proc/self/fd/" + std::to_string(descriptor_);
}

int ConfinedFolder::Open(const std::filesystem::path& path, ConfinedFolder* out) {
  const int opened = ::open(path.c_str(), kFolderFlags);
  if (opened < 0) return errno;
  out->descriptor_ = OwnDescriptor(opened);
  return 0;
}

int ConfinedFolder::OpenFolder(const std::filesystem::path& relative, ConfinedFolder* out) const {
  if (relative.has_root_path()) return EINVAL;
  ConfinedFolder current = *this;
  for (const std::filesystem::path& part : relative) {
    const std::string name = part.string();
    if (name.empty() || name == ".") continue;
    if (name == "..") return EINVAL;
    const int opened = ::openat(current.descriptor(), name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (opened < 0) {
      // A link in the way is told apart from a file, whichever of the two the system names.
      const int error = errno;
      return current.TypeOf(name) == EntryType::Link ? ELOOP : error;
    }
    current.descriptor_ = OwnDescriptor(opened);
  }
  *out = std::move(current);
  return 0;
}

int ConfinedFolder::CreateFolder(const std::string& name) const {
  if (!IsPlainName(name)) return EINVAL;
  if (::mkdirat(descriptor(), name.c_str(), 0777) == 0 || errno == EEXIST) return 0;
  return errno;
}

EntryType ConfinedFolder::TypeOf(const std::string& name, uint64_t* size) const {
  struct stat facts {};
  if (::fstatat(descriptor(), name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? EntryType::Missing : EntryType::Other;
  }
  if (size != nullptr) *size = static_cast<uint64_t>(facts.st_size);
  return TypeOfMode(facts.st_mode);
}

int ConfinedFolder::OpenFileForReading(const std::string& name, OpenFile* out) const {
  if (!IsPlainName(name)) return EINVAL;
  // Not blocking: a pipe given a sound's name would otherwise hold the request until a writer
  // came.
  const int opened =
      ::openat(descriptor(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (opened < 0) return errno;
  OpenFile file(opened);
  struct stat facts {};
  if (::fstat(opened, &facts) != 0) return errno;
  if (!S_ISREG(facts.st_mode)) return S_ISDIR(facts.st_mode) ? EISDIR : EINVAL;
  ::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK);
  *out = std::move(file);
  return 0;
}

int ConfinedFolder::CreateFile(const std::string& name, OpenFile* out) const {
  if (!IsPlainName(name)) return EINVAL;
  const int opened = ::openat(descriptor(), name.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (opened < 0) return errno;
  *out = OpenFile(opened);
  return 0;
}

int ConfinedFolder::RemoveFile(const std::string& name) const {
  if (!IsPlainName(name)) return EINVAL;
  return ::unlinkat(descriptor(), name.c_str(), 0) == 0 ? 0 : errno;
}

int ConfinedFolder::Rename(const std::string& name, const ConfinedFolder& to,
                           const std::string& to_name, bool replace) const {
  if (!IsPlainName(name) || !IsPlainName(to_name)) return EINVAL;
  if (replace) {
    return ::renameat(descriptor(), name.c_str(), to.descriptor(), to_name.c_str()) == 0 ? 0
                                                                                         : errno;
  }
  if (::renameat2(descriptor(), name.c_str(), to.descriptor(), to_name.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return 0;
  }
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // File systems without RENAME_NOREPLACE: a hard link fails on an existing name just the same.
  if (::linkat(descriptor(), name.c_str(), to.descriptor(), to_name.c_str(), 0) != 0) return errno;
  ::unlinkat(descriptor(), name.c_str(), 0);
  return 0;
}

int ConfinedFolder::Link(const std::string& name, const ConfinedFolder& to,
                         const std::string& to_name) const {
  if (!IsPlainName(name) || !IsPlainName(to_name)) return EINVAL;
  return ::linkat(descriptor(), name.c_str(), to.descriptor(), to_name.c_str(), 0) == 0 ? 0
                                                                                        : errno;
}

int ConfinedFolder::Sync() const { return ::fsync(descriptor()) == 0 ? 0 : errno; }

int ConfinedFolder::List(std::vector<std::pair<std::string, EntryType>>* entries) const {
  // The listing reads through a descriptor of its own, which closedir closes.
  const int opened = ::openat(descriptor(), ".", kFolderFlags);
  if (opened < 0) return errno;
  DIR* folder = ::fdopendir(opened);
  if (folder == nullptr) {
    const int error = errno;
    ::close(opened);
    return error;
  }
  entries->clear();
  errno = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    EntryType type = EntryType::Other;
    switch (entry->d_type) {
      case DT_REG: type = EntryType::File; break;
      case DT_DIR: type = EntryType::Folder; break;
      case DT_LNK: type = EntryType::Link; break;
      case DT_UNKNOWN: type = TypeOf(name); break;
      default: break;
    }
    entries->emplace_back(name, type);
    errno = 0;
  }
  const int error = errno;
  ::closedir(folder);
  return error;
}

}  // namespace zennic

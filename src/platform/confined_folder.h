#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zennic {

// Each operation returns 0 or the system's error number, as the rest of this seam does.

// A file opened once. Libraries that open files by path are given ReopenPath, which names this
// very file, whatever has become of its name since it was opened.
class OpenFile {
 public:
  OpenFile() = default;
  OpenFile(OpenFile&& other) noexcept;
  OpenFile& operator=(OpenFile&& other) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile();

  bool is_open() const { return descriptor_ >= 0; }
  int Size(uint64_t* bytes) const;
  // The whole file, as long as it was when asked, into `bytes`.
  int ReadAll(std::string* bytes) const;
  // Appends this file's contents to `target`.
  int CopyTo(const OpenFile& target) const;
  int Sync() const;
  std::filesystem::path ReopenPath() const;

 private:
  friend class ConfinedFolder;
  explicit OpenFile(int descriptor) : descriptor_(descriptor) {}
  int descriptor_ = -1;
};

enum class EntryType { Missing, File, Folder, Link, Other };

// A folder opened once. What lies below it is reached from it one name at a time and never
// through a link, so a folder swapped for a link after a path was checked is refused (ELOOP or
// ENOTDIR) rather than followed out; and what is done in it stays in it. Copies share the one
// open folder.
class ConfinedFolder {
 public:
  // The folder at `path`, links in that path followed: an audio folder as the user chose it.
  static int Open(const std::filesystem::path& path, ConfinedFolder* out);

  bool is_open() const { return descriptor_ != nullptr; }
  // The folder that `relative` names below this one ("Sub/Deeper"; no root, no ".."); each of
  // its names must be a real folder: ELOOP where one is a link. An empty or "." path is this
  // folder again.
  int OpenFolder(const std::filesystem::path& relative, ConfinedFolder* out) const;
  // A new folder in this one. Anything already there under the name counts as made: opening
  // it tells whether it is a folder.
  int CreateFolder(const std::string& name) const;
  // What the entry is, a link not followed, and (when asked) its size in bytes.
  EntryType TypeOf(const std::string& name, uint64_t* size = nullptr) const;
  // A regular file of this folder; a link, a folder or a device is refused.
  int OpenFileForReading(const std::string& name, OpenFile* out) const;
  // A new, empty file for writing; fails with EEXIST when anything has that name.
  int CreateFile(const std::string& name, OpenFile* out) const;
  // The entry itself: a link is removed, never what it leads to.
  int RemoveFile(const std::string& name) const;
  // Moves an entry into `to` (which may be this folder), over an existing one only when
  // `replace` (EEXIST otherwise); EXDEV when the two lie on different file systems.
  int Rename(const std::string& name, const ConfinedFolder& to, const std::string& to_name,
             bool replace) const;
  // A second name for the file in `to`; EEXIST when the name is taken.
  int Link(const std::string& name, const ConfinedFolder& to, const std::string& to_name) const;
  int Sync() const;
  // Every entry but "." and "..", with its type (links as links), in no set order.
  int List(std::vector<std::pair<std::string, EntryType>>* entries) const;

 private:
  int descriptor() const { return *descriptor_; }
  std::shared_ptr<const int> descriptor_;
};

}  // namespace zennic

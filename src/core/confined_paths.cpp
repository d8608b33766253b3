#include "core/confined_paths.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include "core/paths.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

// The path as the file system resolves it; 0 or the error number.
int Resolve(const fs::path& path, fs::path* resolved) {
  std::error_code code;
  *resolved = fs::canonical(path, code);
  return code ? code.value() : 0;
}

}  // namespace

int OpenFolderInside(const fs::path& root, const fs::path& folder, ConfinedFolder* out) {
  if (root.empty()) return ConfinedFolder::Open(folder, out);
  fs::path resolved_root;
  fs::path resolved_folder;
  if (int error = Resolve(root, &resolved_root)) return error;
  if (int error = Resolve(folder, &resolved_folder)) return error;
  if (!IsPathInsideRoot(resolved_folder, resolved_root)) return ELOOP;
  ConfinedFolder opened_root;
  if (int error = ConfinedFolder::Open(resolved_root, &opened_root)) return error;
  return opened_root.OpenFolder(resolved_folder.lexically_relative(resolved_root), out);
}

int CreateFolderInside(const fs::path& root, const fs::path& folder, ConfinedFolder* out) {
  const fs::path relative = AbsoluteNormalPath(folder).lexically_relative(AbsoluteNormalPath(root));
  if (relative.empty() || *relative.begin() == "..") return ELOOP;
  fs::path resolved_root;
  if (int error = Resolve(root, &resolved_root)) return error;
  ConfinedFolder current;
  if (int error = ConfinedFolder::Open(resolved_root, &current)) return error;
  for (const fs::path& part : relative) {
    const std::string name = part.string();
    if (name == ".") continue;
    if (int error = current.CreateFolder(name)) return error;
    if (int error = current.OpenFolder(name, &current)) return error;
  }
  *out = std::move(current);
  return 0;
}

int WalkInside(const fs::path& root, const ConfinedWalkVisitor& visit) {
  struct Pending {
    ConfinedFolder parent;
    std::string name;  // empty for the root
    fs::path relative;
  };
  // Each folder is opened only when its turn comes, so the walk holds few folders open.
  std::vector<Pending> pending(1);
  if (int error = ConfinedFolder::Open(root, &pending[0].parent)) return error;
  bool at_root = true;
  while (!pending.empty()) {
    Pending next = std::move(pending.back());
    pending.pop_back();
    ConfinedFolder folder = next.parent;
    std::vector<std::pair<std::string, EntryType>> entries;
    int error = next.name.empty() ? 0 : next.parent.OpenFolder(next.name, &folder);
    if (error == 0) error = folder.List(&entries);
    if (error != 0 && at_root) return error;
    at_root = false;
    for (const auto& [name, type] : entries) {
      const fs::path relative = next.relative / name;
      if (visit(folder, name, type, relative) && type == EntryType::Folder) {
        pending.push_back({folder, name, relative});
      }
    }
  }
  return 0;
}

int OpenParentInside(const fs::path& root, const fs::path& path, FilePlace* place) {
  const fs::path normal = AbsoluteNormalPath(path);
  place->name = normal.filename().string();
  return OpenFolderInside(root, normal.parent_path(), &place->folder);
}

int OpenFileInside(const fs::path& root, const fs::path& path, OpenFile* file) {
  fs::path resolved;
  if (int error = Resolve(path, &resolved)) return error;
  ConfinedFolder folder;
  if (int error = OpenFolderInside(root, resolved.parent_path(), &folder)) return error;
  return folder.OpenFileForReading(resolved.filename().string(), file);
}

}  // namespace zennic

#include "api/file_move.h"

#include <cerrno>

#include "core/files.h"
#include "platform/file_sync.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

// Returns 0 or an error number.
int CopyThenRemove(const fs::path& from, const fs::path& to) {
  fs::path work;
  if (!CreateExclusiveWorkFile(to, &work, nullptr)) return EIO;
  std::error_code code;
  fs::copy_file(from, work, fs::copy_options::overwrite_existing, code);
  if (code) {
    DiscardWorkFile(work);
    return code.value();
  }
  if (!PublishWorkFile(work, to, /*replace_existing=*/false, nullptr)) {
    std::error_code ignored;
    return fs::exists(to, ignored) ? EEXIST : EIO;
  }
  if (!fs::remove(from, code)) {
    // Two copies would be a move that did not happen: take the new one back.
    int reason = code ? code.value() : ENOENT;
    fs::remove(to, code);
    return reason;
  }
  return 0;
}

}  // namespace

bool MoveFileWithMessage(const fs::path& from, const fs::path& to, std::string* error) {
  int result = MoveFileWithoutReplacing(from, to);
  if (result == EXDEV) result = CopyThenRemove(from, to);
  if (result == 0) return true;
  if (error) {
    *error = "Failed to move file. It may be in use or locked by another app. Windows error " +
             std::to_string(result);
  }
  return false;
}

}  // namespace zennic

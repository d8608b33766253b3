#include "api/file_move.h"

#include "core/files.h"

namespace zennic {

bool MoveFileWithMessage(const FilePlace& from, const FilePlace& to, std::string* error) {
  const int result = MoveFileToPlace(from, to);
  if (result == 0) return true;
  if (error) {
    *error = "Failed to move file. It may be in use or locked by another app. Windows error " +
             std::to_string(result);
  }
  return false;
}

}  // namespace zennic

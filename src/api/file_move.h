#pragma once

#include <string>

#include "core/confined_paths.h"

namespace zennic {

// MoveFileToPlace, with the sentence the file routes answer a failure with, ending in the
// system's error number.
bool MoveFileWithMessage(const FilePlace& from, const FilePlace& to, std::string* error);

}  // namespace zennic

#include "core/single_instance_guard.h"

namespace zennic {

bool SingleInstanceGuard::Acquire(const std::string& name, const std::filesystem::path& data_folder,
                                  std::string* error) {
  std::string detail;
  switch (lock_.Acquire(name, data_folder, &detail)) {
    case InstanceLock::Outcome::Acquired:
      return true;
    case InstanceLock::Outcome::HeldElsewhere:
      if (error) {
        *error = "Another Ruzerad instance is already running";
        if (!lock_.holder_note().empty()) *error += " at " + lock_.holder_note();
      }
      return false;
    case InstanceLock::Outcome::Failed:
      if (error) *error = "CreateMutexW failed: " + detail;
      return false;
  }
  return false;
}

void SingleInstanceGuard::Release() { lock_.Release(); }

}  // namespace zennic

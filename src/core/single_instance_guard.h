#pragma once

#include <filesystem>
#include <string>

#include "platform/instance_lock.h"

namespace zennic {

// Marks the one running instance per user session.
class SingleInstanceGuard {
 public:
  // `data_folder` holds the lock when the session has no runtime folder of its own.
  bool Acquire(const std::string& name, const std::filesystem::path& data_folder,
               std::string* error);
  void Release();

 private:
  InstanceLock lock_;
};

}  // namespace zennic

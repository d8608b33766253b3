#pragma once

#include <filesystem>
#include <string>

#include "platform/instance_lock.h"

namespace zennic {

// Marks the one running instance per user session.
class SingleInstanceGuard {
 public:
  // `data_folder` holds the lock when the session has no runtime folder of its own.
  // A later start that finds this instance running names the address it announced.
  bool Acquire(const std::string& name, const std::filesystem::path& data_folder,
               std::string* error);
  void Release();
  // Where the running instance's web client is, for later starts to name.
  void AnnounceAddress(const std::string& address) { lock_.Publish(address); }

 private:
  InstanceLock lock_;
};

}  // namespace zennic

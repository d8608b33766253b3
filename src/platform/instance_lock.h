#pragma once

#include <filesystem>
#include <string>

namespace zennic {

// A system-wide lock that marks one running instance. It is held until released or until the
// process ends, however it ends, so a crashed instance never blocks the next start.
class InstanceLock {
 public:
  enum class Outcome { Acquired, HeldElsewhere, Failed };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // `name` identifies the instance ("Local\\..." style names are accepted); `fallback_folder`
  // holds the lock file when the system has no per-session runtime folder of the user's alone.
  // A lock file that is a link, or not a plain file of the user's with one name, fails.
  Outcome Acquire(const std::string& name, const std::filesystem::path& fallback_folder,
                  std::string* error);
  void Release();
  bool IsHeld() const { return fd_ >= 0; }

  // Holder only: one line of printable text for later starts to read, replacing the last.
  void Publish(const std::string& note);
  // What the holder published, read when Acquire found the lock held elsewhere; empty when it
  // published nothing (yet).
  const std::string& holder_note() const { return holder_note_; }

 private:
  int fd_ = -1;
  std::string holder_note_;
};

}  // namespace zennic

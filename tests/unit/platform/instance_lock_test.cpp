#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_folder.h"

namespace zennic {
namespace {

TEST(InstanceLock, OneHolderAtATimeAndReleasedWithTheProcess) {
  testing::TempFolder folder;
  ::unsetenv("XDG_RUNTIME_DIR");
  InstanceLock first;
  std::string error;
  ASSERT_EQ(first.Acquire("Local\\Test", folder.path(), &error), InstanceLock::Outcome::Acquired)
      << error;
  EXPECT_EQ(first.Acquire("Local\\Test", folder.path(), &error), InstanceLock::Outcome::Acquired)
      << "acquiring twice keeps the one lock";

  InstanceLock second;
  EXPECT_EQ(second.Acquire("Local\\Test", folder.path(), &error),
            InstanceLock::Outcome::HeldElsewhere);
  InstanceLock other_name;
  EXPECT_EQ(other_name.Acquire("Local\\Other", folder.path(), &error),
            InstanceLock::Outcome::Acquired);

  first.Release();
  EXPECT_EQ(second.Acquire("Local\\Test", folder.path(), &error), InstanceLock::Outcome::Acquired);
  second.Release();

  // A child that takes the lock and dies without releasing it leaves it free.
  pid_t child = ::fork();
  if (child == 0) {
    InstanceLock held;
    held.Acquire("Local\\Test", folder.path(), nullptr);
    held.Publish("http://127.0.0.1:5999");
    ::_exit(held.IsHeld() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(second.Acquire("Local\\Test", folder.path(), &error), InstanceLock::Outcome::Acquired);
  InstanceLock third;
  third.Acquire("Local\\Test", folder.path(), &error);
  EXPECT_EQ(third.holder_note(), "") << "the dead holder's note names nobody";
}

TEST(InstanceLock, UnusableFolderFails) {
  ::unsetenv("XDG_RUNTIME_DIR");
  InstanceLock lock;
  std::string error;
  EXPECT_EQ(lock.Acquire("x", "/nonexistent/folder", &error), InstanceLock::Outcome::Failed);
  EXPECT_NE(error.find("/nonexistent/folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace zennic

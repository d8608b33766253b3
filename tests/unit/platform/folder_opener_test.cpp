// Opening a folder starts the desktop's opener with the folder alone, hands it none of the
// program's descriptors, and fails plainly where there is no desktop or no opener.

#include "platform/folder_opener.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "support/eventually.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

class FolderOpener : public ::testing::Test {
 protected:
  // A stand-in opener that notes what it was given and which descriptors it holds.
  void InstallRecordingOpener() {
    std::filesystem::path script = folder_ / "bin/xdg-open";
    testing::WriteFile(script, "#!/bin/sh\nls /proc/$$/fd > '" + (folder_ / "fds").string() +
                                   ".tmp'\nprintf '%s|%s' \"$#\" \"$1\" > '" +
                                   (folder_ / "args").string() + "'\nmv '" +
                                   (folder_ / "fds").string() + ".tmp' '" +
                                   (folder_ / "fds").string() + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }

  testing::TempFolder folder_;
};

TEST_F(FolderOpener, TheOpenerGetsTheFolderAndOnlyTheStandardDescriptors) {
  InstallRecordingOpener();
  ScopedVariable path("PATH", ((folder_ / "bin").string() + ":/usr/bin:/bin").c_str());
  ScopedVariable display("DISPLAY", ":99");
  int leaked = ::open("/dev/null", O_RDONLY);  // no close-on-exec: the opener must not get it
  ASSERT_GE(leaked, 3);
  std::string error = "stale";
  EXPECT_TRUE(OpenFolderInFileManager("/tmp/Sound folder", &error));
  EXPECT_EQ(error, "");
  ::close(leaked);
  ASSERT_TRUE(testing::Eventually([&] { return std::filesystem::exists(folder_ / "fds"); }));
  EXPECT_EQ(testing::ReadFile(folder_ / "args"), "1|/tmp/Sound folder");
  // The shell's own descriptor for reading the script may appear above the three.
  std::string fds = testing::ReadFile(folder_ / "fds");
  EXPECT_EQ(fds.find(std::to_string(leaked) + "\n"), std::string::npos) << fds;
}

TEST_F(FolderOpener, WithoutADisplayOrAnOpenerNothingStarts) {
  InstallRecordingOpener();
  std::string error;
  {
    ScopedVariable path("PATH", (folder_ / "bin").c_str());
    ScopedVariable display("DISPLAY", nullptr);
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_FALSE(OpenFolderInFileManager("/tmp", &error));
    EXPECT_EQ(error, "No desktop display is available to open the folder on");
  }
  {
    ScopedVariable path("PATH", (folder_ / "empty").c_str());
    ScopedVariable display("DISPLAY", ":99");
    EXPECT_FALSE(OpenFolderInFileManager("/tmp", &error));
    EXPECT_EQ(error, "xdg-open is not installed");
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ / "args"));
}

}  // namespace
}  // namespace zennic

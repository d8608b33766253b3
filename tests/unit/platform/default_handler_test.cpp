// Folders and web addresses go to the program the desktop names as their default, which gets
// the location alone, none of the program's descriptors and none of its blocked signals; with
// no display nothing starts.

#include "platform/default_handler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "support/eventually.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class DefaultHandler : public ::testing::Test {
 protected:
  // A recorder registered as the desktop's default for folders and web addresses; it notes its
  // arguments, its descriptors and its blocked signals.
  DefaultHandler() {
    std::filesystem::path recorder = folder_ / "record";
    // The mask is read first and without a child: the shell blocks every signal while it forks.
    testing::WriteFile(recorder, "#!/bin/sh\nwhile read -r name value; do [ \"$name\" = SigBlk: ] && "
                                     "echo \"$value\" > '" + Noted("signals") +
                                     "'; done < /proc/$$/status\nls /proc/$$/fd > '" + Noted("fds") +
                                     "'\nprintf '%s|%s' \"$#\" \"$1\" > '" + Noted("args") +
                                     ".tmp'\nmv '" + Noted("args") + ".tmp' '" + Noted("args") +
                                     "'\n");
    std::filesystem::permissions(recorder, std::filesystem::perms::owner_all);
    testing::WriteFile(folder_ / "data/applications/recorder.desktop",
                       "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" +
                           recorder.string() +
                           " %u\nMimeType=inode/directory;x-scheme-handler/http;\n");
    testing::WriteFile(folder_ / "config/mimeapps.list",
                       "[Default Applications]\ninode/directory=recorder.desktop\n"
                       "x-scheme-handler/http=recorder.desktop\n");
    ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    ::setenv("DISPLAY", ":99", 1);
  }

  std::string Noted(const char* name) const { return (folder_ / name).string(); }

  std::string Arguments() {
    EXPECT_TRUE(testing::Eventually([&] { return std::filesystem::exists(folder_ / "args"); },
                                    std::chrono::seconds(20)));
    return testing::ReadFile(folder_ / "args");
  }

  testing::TempFolder folder_;
};

TEST_F(DefaultHandler, AFolderGoesToTheFileManagerWithNothingOfTheProgram) {
  std::filesystem::create_directories(folder_ / "Sound folder");
  int leaked = ::open("/dev/null", O_RDONLY);  // no close-on-exec: the handler must not get it
  ASSERT_GE(leaked, 3);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);  // as the program blocks it
  std::string error = "stale";
  EXPECT_TRUE(OpenFolderInFileManager(folder_ / "Sound folder", &error)) << error;
  EXPECT_EQ(error, "");
  ::close(leaked);

  EXPECT_EQ(Arguments(), "1|" + (folder_ / "Sound folder").string());
  std::string fds = testing::ReadFile(folder_ / "fds");
  EXPECT_EQ(fds.find(std::to_string(leaked) + "\n"), std::string::npos) << fds;
  EXPECT_EQ(testing::ReadFile(folder_ / "signals"), "0000000000000000\n");
}

TEST_F(DefaultHandler, AWebAddressGoesToTheBrowser) {
  std::string error;
  EXPECT_TRUE(OpenWebAddress("http://127.0.0.1:5123/guide", &error)) << error;
  EXPECT_EQ(Arguments(), "1|http://127.0.0.1:5123/guide");
}

TEST_F(DefaultHandler, WithoutADisplayNothingStarts) {
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  std::string error;
  EXPECT_FALSE(OpenFolderInFileManager(folder_.path(), &error));
  EXPECT_EQ(error, "No desktop display is available to open " + folder_.path().string() + " on");
  EXPECT_FALSE(OpenWebAddress("http://127.0.0.1:5000", &error));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "args"));
}

}  // namespace
}  // namespace zennic

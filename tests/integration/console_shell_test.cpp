// The built program without a display: it says why there is no tray icon, and the routes that
// need the desktop answer at once with their failures instead of waiting for a window.

#include "mixer_api_fixture.h"

namespace zennic {
namespace {

using ConsoleShell = testing::MixerApiFixture;

TEST_F(ConsoleShell, WithoutADisplayTheDesktopRoutesFailPlainly) {
  std::filesystem::create_directories(folder_ / "Sounds");
  JsonValue settings = JsonValue::MakeObject();
  JsonValue profile = JsonValue::MakeObject();
  profile["id"] = "main";
  profile["name"] = "Main";
  profile["audio_dir"] = (folder_ / "Sounds").string();
  settings["profiles"].PushBack(profile);
  settings["selected_profile_id"] = "main";
  WriteSettings(settings);
  StartProgram();

  struct Case {
    const char* route;
    const char* code;
    const char* message;
  } cases[] = {
      {"/api/mixer/browse-folder", "folder_picker_failed", "Folder picker dialog is unavailable"},
      {"/api/mixer/panic/browse-file", "audio_file_picker_failed",
       "Audio file picker dialog is unavailable"},
      {"/api/mixer/open-folder", "open_folder_failed",
       "Windows Explorer could not open the selected folder"},
  };
  for (const Case& c : cases) {
    Reply reply = Post(c.route, "{}");
    EXPECT_EQ(reply.status, 500) << c.route;
    EXPECT_EQ(reply.body.GetString("code", ""), c.code) << c.route;
    EXPECT_EQ(reply.body.GetString("error", ""), c.message) << c.route;
  }
  StopProgram();
  EXPECT_NE(testing::ReadFile(DataFolder() / "logs/app.log")
                .find("No notification-area icon: no display is set (DISPLAY is empty)"),
            std::string::npos);
}

}  // namespace
}  // namespace zennic

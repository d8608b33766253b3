// The settings file as a user meets it: fresh start, a damaged file, an older file, the
// language the program picks.

#include <gtest/gtest.h>
#include <signal.h>

#include <functional>

#include "core/json_value.h"
#include "support/program_process.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::ProgramProcess;
using testing::TempFolder;

class SettingsFile : public ::testing::Test {
 protected:
  SettingsFile() {
    options_ = testing::IsolatedProgramOptions(folder_.path());
    options_.unset_environment.insert(options_.unset_environment.end(), {"LC_ALL", "LC_MESSAGES"});
    options_.set_environment["LANG"] = "en_US.UTF-8";
  }

  // Starts the program, waits until it runs, and ends it again.
  void RunOnce(const std::string& name = "run") {
    std::filesystem::create_directories(folder_ / name);
    ProgramProcess program(options_, folder_ / name);
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForStderr("Ruzerad started", 10s)) << program.Stderr();
    program.Signal(SIGTERM);
    ASSERT_EQ(program.WaitForExit(10s), 0) << program.Stderr();
  }

  JsonValue Settings() const {
    JsonValue json;
    std::string error;
    EXPECT_TRUE(JsonValue::Parse(testing::ReadFile(SettingsPath()), &json, &error)) << error;
    return json;
  }

  std::filesystem::path Root() const { return folder_ / "data/Ruzerad"; }
  std::filesystem::path SettingsPath() const { return Root() / "settings.json"; }

  TempFolder folder_;
  ProgramProcess::Options options_;
};

TEST_F(SettingsFile, AFreshStartWritesNoSettings) {
  RunOnce();
  EXPECT_TRUE(std::filesystem::is_directory(Root() / "logs"));
  EXPECT_FALSE(std::filesystem::exists(SettingsPath()));
  EXPECT_TRUE(std::filesystem::is_directory(folder_ / "home/Documents/Ruzerad/Sounds/Music"));
}

TEST_F(SettingsFile, ADamagedFileIsKeptAsideAndTheProgramRunsOnDefaults) {
  testing::WriteFile(SettingsPath(), "{\"a\":1}x");
  RunOnce();
  EXPECT_EQ(testing::ReadFile(Root() / "settings.json.corrupted"), "{\"a\":1}x");

  JsonValue settings = Settings();
  EXPECT_EQ(settings.GetNumber("version", 0), 3);
  EXPECT_EQ(settings.Find("panic_trigger_key")->type, JsonValue::Type::Null);
  EXPECT_EQ(settings.Find("profiles")->array_value.size(), 1u);
  EXPECT_EQ(testing::ReadFile(SettingsPath()), settings.Serialize(2));

  JsonValue ignored;
  std::string parse_error;
  ASSERT_FALSE(JsonValue::Parse("{\"a\":1}x", &ignored, &parse_error));
  std::string log = testing::ReadFile(Root() / "logs/app.log");
  EXPECT_NE(log.find("[SettingsStore] Recovered from corrupted settings.json: " + parse_error),
            std::string::npos)
      << log;
}

TEST_F(SettingsFile, FreshSettingsSpeakTheLanguageOfTheLocale) {
  for (auto [lang, expected] : {std::pair{"pt_BR.UTF-8", "pt-BR"}, std::pair{"nb_NO.UTF-8", "no"},
                                std::pair{"C.UTF-8", "en"}, std::pair{"de_AT.UTF-8@euro", "de"}}) {
    // A damaged file makes the program write its fresh defaults.
    testing::WriteFile(SettingsPath(), "not json");
    options_.set_environment["LANG"] = lang;
    RunOnce(lang);
    EXPECT_EQ(Settings().GetString("ui_language", ""), expected) << lang;
  }
}

TEST_F(SettingsFile, AnOlderSettingsFileIsMigratedOnceWithABackup) {
  std::string older =
      R"json({"hotkey_key": "Add", "mic_name": "Microphone (Virtual)", "loop": true,
 "mic_volume": 1.5, "audio_dir": "/srv/clips"})json";
  std::filesystem::path work = folder_ / "work";
  testing::WriteFile(work / "data/mixer_settings.json", older);
  options_.working_folder = work;
  RunOnce("first");

  EXPECT_EQ(testing::ReadFile(Root() / "migration/mixer_settings.v1.backup.json"), older);
  EXPECT_EQ(testing::ReadFile(work / "data/mixer_settings.json"), older);
  JsonValue settings = Settings();
  const JsonValue* ptt = settings.Find("ptt_trigger_key");
  ASSERT_NE(ptt, nullptr);
  EXPECT_EQ(ptt->GetString("id", ""), "numpad_add");
  EXPECT_EQ(ptt->GetString("source", ""), "migrated_legacy");
  EXPECT_EQ(settings.GetString("mic_name", ""), "Microphone (Virtual)");
  EXPECT_TRUE(settings.GetBool("loop", false));
  EXPECT_EQ(settings.Find("profiles")->array_value.at(0).GetString("audio_dir", ""), "/srv/clips");

  // A later start reads its own file and leaves the older one alone.
  std::string migrated = testing::ReadFile(SettingsPath());
  testing::WriteFile(work / "data/mixer_settings.json", R"({"hotkey_key": "F5"})");
  RunOnce("second");
  EXPECT_EQ(testing::ReadFile(SettingsPath()), migrated);
  EXPECT_EQ(testing::ReadFile(Root() / "migration/mixer_settings.v1.backup.json"), older);
}

TEST_F(SettingsFile, ASettingsFileThatCannotBeReadAsOneIsSetAsideWhole) {
  struct Case {
    std::string name;
    std::function<void(const std::filesystem::path&)> make;
    std::string reason;
  };
  for (const Case& c : std::vector<Case>{
           // A folder reports a length that is no file's; reading by it ended in an abort.
           {"folder", [](const std::filesystem::path& file) { std::filesystem::create_directories(file / "inside"); },
            "Not a regular file: "},
           // Read whole, it took 3 GB of memory and as much disk for its copy.
           {"sparse", [](const std::filesystem::path& file) {
              testing::WriteFile(file, "");
              std::filesystem::resize_file(file, 3ull << 30);
            },
            "File is too large to read: "},
       }) {
    std::filesystem::remove_all(Root());
    c.make(SettingsPath());
    RunOnce(c.name);
    EXPECT_EQ(Settings().GetNumber("version", 0), 3) << c.reason;
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(Root() / "settings.json.corrupted")))
        << c.reason;
    EXPECT_NE(testing::ReadFile(Root() / "logs/app.log")
                  .find("[SettingsStore] Recovered from unreadable settings.json: " + c.reason +
                        SettingsPath().string()),
              std::string::npos)
        << c.reason;
  }
}

TEST_F(SettingsFile, AHomeFolderWhoseNameIsNotUtf8StillStarts) {
  std::filesystem::path home = folder_ / "home\xFF";
  options_.set_environment["HOME"] = home.string();
  RunOnce();
  EXPECT_TRUE(std::filesystem::is_directory(home / "Documents/Ruzerad/Sounds/Music"));
  EXPECT_NE(testing::ReadFile(Root() / "logs/app.log")
                .find("The default Sounds folder's name is not UTF-8 text"),
            std::string::npos);
}

}  // namespace
}  // namespace zennic

// What the user configures, over HTTP against the built program: settings with their device
// indices, profiles, the Sound Inbox and sound links, each checked in settings.body as well.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "integration/mixer_api_fixture.h"
#include "core/json_value.h"
#include "sound_files/wav_file.h"
#include "support/http_test_client.h"
#include "support/read_only_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

JsonValue Parsed(const std::string& text) {
  JsonValue value;
  EXPECT_TRUE(JsonValue::Parse(text, &value, nullptr)) << text;
  return value;
}

JsonValue Profile(const std::string& id, const std::string& name, const fs::path& folder) {
  JsonValue profile = JsonValue::MakeObject();
  profile["id"] = id;
  profile["name"] = name;
  profile["audio_dir"] = folder.string();
  return profile;
}

void WriteClip(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::string error;
  ASSERT_TRUE(WriteWavFile(file, 48000, 2, std::vector<int16_t>(96000, 1000), &error)) << error;
}

class SettingsRoutes : public testing::MixerApiFixture {
 protected:
  SettingsRoutes() { fs::create_directories(sounds_); }

  // One profile "main" on the Sounds folder.
  JsonValue MainProfileSettings() const {
    JsonValue settings = JsonValue::MakeObject();
    settings["profiles"].PushBack(Profile("main", "Main", sounds_));
    settings["selected_profile_id"] = "main";
    return settings;
  }
  void Start(const JsonValue& settings) {
    WriteSettings(settings);
    StartProgram();
  }
  Reply PostJson(const std::string& route, const JsonValue& body) {
    return Post(route, body.Serialize(0));
  }
  static std::string Code(const Reply& reply) { return reply.body.GetString("code", ""); }
  JsonValue SavedSettings() const { return Parsed(testing::ReadFile(SettingsFile())); }
  fs::path Home() const { return folder_ / "home"; }

  fs::path sounds_ = folder_ / "Sounds";
};

TEST_F(SettingsRoutes, LoadReplacesStoredIndicesThatNoLongerNameTheSavedDevices) {
  audio_.LoadModule(
      "module-null-sink sink_name=extra \"sink_properties='device.description=\\\"Extra "
      "(Virtual)\\\"'\"");
  JsonValue settings = Parsed(
      R"j({"mic_name": "Microphone (Virtual)", "out_name": "Headphones (Virtual)",
          "monitor_name": "Extra (Virtual)"})j");
  Start(settings);
  // The index the device list gives the device now.
  auto index_of = [this](const char* list, const std::string& name) {
    Reply devices = Post("/api/mixer/devices");
    for (const JsonValue& device : devices.body[list].array_value) {
      if (device.GetString("name", "") == name) return device.GetNumber("index", -1);
    }
    return -1.0;
  };
  double microphone = index_of("inputs", "Microphone (Virtual)");
  Reply first = Post("/api/mixer/settings/load");
  ASSERT_EQ(first.status, 200) << first.raw;
  EXPECT_EQ(first.body.GetNumber("out_index", -1), index_of("outputs", "Headphones (Virtual)"));
  EXPECT_EQ(first.body.GetNumber("monitor_index", -1), index_of("outputs", "Extra (Virtual)"));
  EXPECT_EQ(first.body.GetNumber("mic_index", -1), microphone);
  EXPECT_FALSE(first.body.GetBool("setup_required", true));

  // The speakers go: every output moves up, and the stored output index now names Extra.
  audio_.UnloadModuleWith("sink_name=speakers");
  ASSERT_EQ(index_of("outputs", "Extra (Virtual)"), first.body.GetNumber("out_index", -1));
  Reply shifted = Post("/api/mixer/settings/load");
  EXPECT_EQ(shifted.body.GetNumber("out_index", -1), index_of("outputs", "Headphones (Virtual)"));
  EXPECT_EQ(shifted.body.GetNumber("monitor_index", -1), index_of("outputs", "Extra (Virtual)"));
  // Extra goes too: no device has the stored monitor index, nor the saved name.
  audio_.UnloadModuleWith("sink_name=extra");
  Reply gone = Post("/api/mixer/settings/load");
  EXPECT_EQ(gone.body.GetNumber("out_index", -1), index_of("outputs", "Headphones (Virtual)"));
  EXPECT_EQ(gone.body.Find("monitor_index")->type, JsonValue::Type::Null) << gone.raw;
  EXPECT_EQ(gone.body.GetNumber("mic_index", -1), microphone);
  StopProgram();
}

TEST_F(SettingsRoutes, ACableMicrophoneNeedsSetupAndAFallbackPortIsReportedUntilRestart) {
  testing::OccupiedLoopbackPort taken;
  JsonValue settings = MainProfileSettings();
  settings["mic_name"] = "CABLE Output";
  settings["server_port"] = static_cast<double>(taken.port());
  Start(settings);
  ASSERT_NE(port_, taken.port());

  Reply load = Post("/api/mixer/settings/load");
  ASSERT_EQ(load.status, 200) << load.raw;
  EXPECT_TRUE(load.body.GetBool("microphone_invalid_cable_output", false));
  EXPECT_TRUE(load.body.GetBool("setup_required", false));
  EXPECT_TRUE(load.body.Find("mic_index")->type == JsonValue::Type::Null);
  EXPECT_TRUE(load.body.GetBool("loaded_from_disk", false));
  EXPECT_EQ(load.body.GetNumber("effective_server_port", 0), port_);
  EXPECT_EQ(load.body["settings"].GetString("mic_name", ""), "CABLE Output");

  Reply reset = Post("/api/mixer/settings/reset");
  ASSERT_EQ(reset.status, 200) << reset.raw;
  EXPECT_TRUE(reset.body.GetBool("restart_required", false));
  EXPECT_EQ(reset.body.GetString("message", ""),
            "Defaults restored. The default server port applies after restart.");
  EXPECT_EQ(reset.body.GetNumber("effective_server_port", 0), port_);
  EXPECT_EQ(reset.body["settings"].GetNumber("server_port", 0), 5000);
  EXPECT_FALSE(reset.body.GetBool("loaded_from_disk", true));
  EXPECT_FALSE(fs::exists(SettingsFile()));
  StopProgram();
}

TEST_F(SettingsRoutes, ASaveThatNamesTheCableAsMicrophoneOrCannotBeWrittenChangesNothing) {
  fs::path other = folder_ / "Other";
  JsonValue settings = MainProfileSettings();
  settings["mic_name"] = "Microphone (Virtual)";
  Start(settings);
  Reply saved = Post("/api/mixer/settings/save",
                     R"({"sfx_volume": 0.25, "audio_dir": ")" + other.string() + R"("})");
  ASSERT_EQ(saved.status, 200) << saved.raw;
  EXPECT_EQ(saved.body.GetNumber("effective_server_port", 0), port_);
  JsonValue stored = SavedSettings();
  EXPECT_EQ(stored.GetNumber("sfx_volume", 0), 0.25);
  EXPECT_EQ(stored["profiles"].array_value[0].GetString("audio_dir", ""), other.string());

  std::string before = testing::ReadFile(SettingsFile());
  for (const char* cable : {"CABLE Input (VB-Audio Virtual Cable)", "cable out 16 ch"}) {
    Reply refused = PostJson("/api/mixer/settings/save", Parsed(std::string(R"({"mic_name": ")") +
                                                                cable + R"(", "loop": true})"));
    EXPECT_EQ(refused.status, 400) << cable;
    EXPECT_EQ(Code(refused), "microphone_invalid_cable_output") << cable;
  }
  {
    testing::ReadOnlyFolder unwritable(DataFolder());
    Reply failed = Post("/api/mixer/settings/save", R"({"sfx_volume": 1.5})");
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(Code(failed), "settings_save_failed");
  }
  EXPECT_EQ(testing::ReadFile(SettingsFile()), before);
  JsonValue in_force = Post("/api/mixer/settings/load").body["settings"];
  EXPECT_EQ(in_force.GetNumber("sfx_volume", 0), 0.25);
  EXPECT_FALSE(in_force.GetBool("loop", true));
  StopProgram();
}

TEST_F(SettingsRoutes, AResetStopsTheRunningMixerAndForgetsTheSettingsFile) {
  Start(VerifiedPairSettings());
  Reply started = Post("/api/mixer/start");
  ASSERT_EQ(started.status, 200) << started.raw;
  Reply reset = Post("/api/mixer/settings/reset");
  ASSERT_EQ(reset.status, 200) << reset.raw;
  EXPECT_EQ(reset.body.GetString("message", ""),
            "Defaults restored. The default server port applies after restart.");
  EXPECT_FALSE(Post("/api/mixer/status").body["mixer"]["running"].bool_value);
  EXPECT_FALSE(fs::exists(SettingsFile()));
  EXPECT_EQ(Post("/api/mixer/settings/load").body["settings"].GetString("out_name", "?"), "");
  StopProgram();
}

TEST_F(SettingsRoutes, ProfilesAreCreatedSelectedAndDeletedAsTheSettingsFileKeepsThem) {
  fs::path other = folder_ / "Other";
  fs::create_directories(other);
  WriteClip(sounds_ / "horn.wav");
  WriteClip(other / "beep.wav");
  JsonValue settings = MainProfileSettings();
  settings["profiles"].PushBack(Profile("zeta", "Zeta", other));
  settings["file_path"] = (sounds_ / "horn.wav").string();
  Start(settings);

  JsonValue memes = JsonValue::MakeObject();
  memes["name"] = "  Memes  ";
  memes["audio_dir"] = sounds_.string();
  Reply created = PostJson("/api/mixer/profiles/upsert", memes);
  ASSERT_EQ(created.status, 200) << created.raw;
  EXPECT_EQ(created.body["profile"].Serialize(0), Profile("memes", "Memes", sounds_).Serialize(0));
  EXPECT_EQ(created.body.GetString("selected_profile_id", ""), "memes");
  EXPECT_EQ(created.body["profiles"].array_value.size(), 3u);
  EXPECT_FALSE(created.body.GetBool("file_cleared", true)) << "the clip lies in Memes' folder";
  EXPECT_EQ(SavedSettings().GetString("selected_profile_id", ""), "memes");

  memes["name"] = "MEMES";
  EXPECT_EQ(Code(PostJson("/api/mixer/profiles/upsert", memes)), "duplicate_profile_name");

  Reply selected = Post("/api/mixer/profiles/select", R"({"id": " zeta "})");
  ASSERT_EQ(selected.status, 200) << selected.raw;
  EXPECT_TRUE(selected.body.GetBool("file_cleared", false));
  ASSERT_EQ(selected.body["files"].array_value.size(), 1u);
  EXPECT_EQ(selected.body["files"].array_value[0].GetString("name", ""), "beep.wav");
  EXPECT_EQ(SavedSettings().GetString("file_path", "?"), "");

  // Zeta was selected; of Main and Memes, "main" sorts first.
  Reply deleted = Post("/api/mixer/profiles/delete", R"({"id": "zeta"})");
  ASSERT_EQ(deleted.status, 200) << deleted.raw;
  EXPECT_EQ(deleted.body.GetString("selected_profile_id", ""), "main");
  EXPECT_EQ(Post("/api/mixer/profiles/delete", R"({"id": "memes"})").status, 200);
  Reply last = Post("/api/mixer/profiles/delete", R"({"id": "main"})");
  EXPECT_EQ(last.status, 409);
  EXPECT_EQ(Code(last), "cannot_delete_last_profile");
  JsonValue saved = SavedSettings();
  ASSERT_EQ(saved["profiles"].array_value.size(), 1u);
  EXPECT_EQ(saved["profiles"].array_value[0].GetString("id", ""), "main");
  StopProgram();
}

TEST_F(SettingsRoutes, TheSoundInboxRefusesFoldersItMustNotWatch) {
  fs::path inside = sounds_ / "incoming";
  fs::create_directories(inside);
  testing::WriteFile(folder_ / "file.txt", "not a folder");
  Start(MainProfileSettings());
  std::string before = testing::ReadFile(SettingsFile());

  struct Case {
    fs::path folder;
    int status;
    std::string code;
  };
  for (const Case& c : std::vector<Case>{
           {"", 400, "sound_inbox_folder_required"},
           {folder_ / "file.txt", 400, "sound_inbox_folder_invalid"},
           {"/", 400, "sound_inbox_drive_root"},
           {inside, 409, "sound_inbox_profile_overlap"},
           {folder_.path(), 409, "sound_inbox_profile_overlap"},
       }) {
    JsonValue body = JsonValue::MakeObject();
    body["enabled"] = true;
    body["folder_path"] = c.folder.string();
    Reply reply = PostJson("/api/mixer/sound-inbox/configure", body);
    EXPECT_EQ(reply.status, c.status) << c.folder;
    EXPECT_EQ(Code(reply), c.code) << c.folder;
  }
  EXPECT_EQ(testing::ReadFile(SettingsFile()), before);

  // Switched off, the folder is kept as given and not looked at.
  Reply off =
      Post("/api/mixer/sound-inbox/configure", R"({"enabled": false, "folder_path": " nowhere "})");
  ASSERT_EQ(off.status, 200) << off.raw;
  EXPECT_EQ(SavedSettings().GetString("sound_inbox_dir", ""), "nowhere");
  EXPECT_EQ(off.body["sound_inbox"].GetString("phase", ""), "disabled");
  StopProgram();
}

TEST_F(SettingsRoutes, TheDefaultInboxIsMadeInDownloadsAndPreparesWhatLandsThere) {
  Start(MainProfileSettings());
  Reply missing = Post("/api/mixer/sound-inbox/use-default");
  EXPECT_EQ(missing.status, 500);
  EXPECT_EQ(Code(missing), "sound_inbox_downloads_unavailable");

  // The user's own download folder, as the desktop names it.
  fs::path downloads = folder_ / "Fetched";
  testing::WriteFile(Home() / ".config/user-dirs.dirs",
                     "XDG_DOWNLOAD_DIR=\"" + downloads.string() + "\"\n");
  testing::WriteFile(downloads / "Ruzerad Inbox", "a file in the way");
  Reply conflict = Post("/api/mixer/sound-inbox/use-default", R"({"mode": " Ruzerad_Inbox "})");
  EXPECT_EQ(conflict.status, 409);
  EXPECT_EQ(Code(conflict), "sound_inbox_default_conflict");

  fs::remove(downloads / "Ruzerad Inbox");
  WriteClip(folder_ / "horn.wav");
  Reply made = Post("/api/mixer/sound-inbox/use-default");
  fs::path inbox = downloads / "Ruzerad Inbox";
  // Lands the moment the folder is chosen, before the inbox has scanned it: a new download.
  std::error_code landing;
  fs::rename(folder_ / "horn.wav", inbox / "horn.wav", landing);
  ASSERT_EQ(made.status, 200) << made.raw;
  ASSERT_FALSE(landing) << landing.message();
  EXPECT_TRUE(fs::is_directory(inbox));
  EXPECT_EQ(made.body.GetString("folder_path", ""), inbox.string());
  EXPECT_TRUE(made.body.GetBool("enabled", false));
  EXPECT_EQ(made.body.GetString("mode", ""), "ruzerad_inbox");
  JsonValue saved = SavedSettings();
  EXPECT_EQ(saved.GetString("sound_inbox_dir", ""), inbox.string());
  EXPECT_TRUE(saved.GetBool("sound_inbox_enabled", false));

  double imported = 0;
  for (auto end = std::chrono::steady_clock::now() + 30s;
       imported == 0 && std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(200ms)) {
    imported =
        Post("/api/mixer/sound-inbox/status").body["sound_inbox"].GetNumber("imported_count", 0);
  }
  EXPECT_EQ(imported, 1);
  EXPECT_TRUE(fs::exists(sounds_ / "horn.wav"));
  StopProgram();
}

TEST_F(SettingsRoutes, SoundLinksAreCheckedWholeBeforeAnyIsStored) {
  Start(MainProfileSettings());
  auto links_of = [](const std::vector<JsonValue>& elements) {
    JsonValue body = JsonValue::MakeObject();
    body["links"] = JsonValue::MakeArray();
    for (const JsonValue& element : elements) body["links"].PushBack(element);
    return body;
  };
  auto link = [](const JsonValue& url, const std::string& name = "", const std::string& id = "") {
    JsonValue element = JsonValue::MakeObject();
    element["url"] = url;
    if (!name.empty()) element["name"] = name;
    if (!id.empty()) element["id"] = id;
    return element;
  };

  std::string long_url = "https://example.com/" + std::string(2048 - 20, 'a');
  struct UrlCase {
    JsonValue url;
    int status;
  };
  for (const UrlCase& c : std::vector<UrlCase>{
           {"HTTPS://example.com", 200},
           {" http:// ", 200},
           {long_url, 200},
           {long_url + "a", 400},
           {"ftp://example.com", 400},
           {"example.com", 400},
           {"http://exa mple.com", 400},
           {"http://example.com/\t", 200},
           {"http://exam\tple.com", 400},
           {"http://example.com/\x7f", 400},
           {"http://example.com/\xc3\xbc", 200},
           {"", 400},
           {JsonValue(5.0), 400},
       }) {
    Reply reply = PostJson("/api/mixer/sound-links/save", links_of({link(c.url)}));
    EXPECT_EQ(reply.status, c.status) << c.url.Serialize(0);
    if (c.status == 400) {
      EXPECT_EQ(Code(reply), "sound_link_url_invalid") << c.url.Serialize(0);
    }
  }

  Reply named =
      PostJson("/api/mixer/sound-links/save",
               links_of({link("https://a.example", "My Site"), link("https://b.example", "My Site"),
                         link("https://c.example", "x", " My Site! "),
                         link("https://d.example", "\xc3\xbc\xc3\xbc"), link("https://E.example/Ü"),
                         link("https://f.example", "", "my-site")}));
  ASSERT_EQ(named.status, 200) << named.raw;
  std::vector<std::string> ids;
  for (const JsonValue& saved : named.body["sound_links"].array_value) {
    ids.push_back(saved.GetString("id", ""));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"my-site", "my-site-2", "My-Site-", "default",
                                           "https-e-example", "my-site-3"}));
  EXPECT_EQ(named.body["sound_links"].array_value[4].GetString("name", ""), "https://E.example/Ü");
  std::string stored = testing::ReadFile(SettingsFile());

  std::vector<JsonValue> twenty(20, link("https://example.com"));
  std::vector<JsonValue> too_many(21, JsonValue("not even an object"));
  EXPECT_EQ(Code(PostJson("/api/mixer/sound-links/save", links_of(too_many))),
            "sound_links_too_many");
  EXPECT_EQ(Code(PostJson("/api/mixer/sound-links/save",
                          links_of({link("https://a.example"), JsonValue("x")}))),
            "sound_links_invalid");
  EXPECT_EQ(testing::ReadFile(SettingsFile()), stored) << "a refused list stores nothing";

  Reply full = PostJson("/api/mixer/sound-links/save", links_of(twenty));
  ASSERT_EQ(full.status, 200) << full.raw;
  EXPECT_EQ(SavedSettings()["sound_links"].array_value.size(), 20u);
  StopProgram();
}

}  // namespace
}  // namespace zennic

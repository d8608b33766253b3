// The clip library over HTTP against the built program: listing, folders, and the routes that
// delete, move and rename clips, with the paths that must never reach outside the profile.

#include "sound_library_fixture.h"
#include "support/read_only_folder.h"
#include "support/sound_file_bytes.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::ApiReply;
using testing::Json;
using testing::SoundLibraryTest;
using testing::WriteToneWav;

// Each element's member `key`, or each element itself when `key` is empty.
std::vector<std::string> Names(const JsonValue& array, const std::string& key = "") {
  std::vector<std::string> names;
  for (const JsonValue& element : array.array_value) {
    names.push_back(key.empty() ? element.string_value : element.GetString(key, ""));
  }
  return names;
}

TEST_F(SoundLibraryTest, FilesListTheFolderInOrderWithoutOriginals) {
  for (const char* name : {"b_x.wav", "B/c.wav", "b.wav", "a.wav", "_originals/old.wav",
                           "Sub/_ORIGINALS/older.wav", "Sub/deep/d.wav"}) {
    WriteToneWav(audio_ / name, 0.2, 0.5);
  }
  WriteToneWav(audio_ / "quiet.wav", 0.2, 0.5, 44100, 1);
  testing::WriteFile(audio_ / "notes.txt", "not a sound");
  ASSERT_TRUE(StartProgram(ProfileSettings(Text(audio_ / "b.wav"))));

  ApiReply reply = Post("/api/mixer/files", JsonValue::MakeObject());
  ASSERT_EQ(reply.status, 200) << reply.http.body;
  EXPECT_EQ(reply.json.GetString("root_dir", ""), Text(audio_));
  const JsonValue& files = *reply.json.Find("files");
  EXPECT_EQ(Names(files, "relative_path"),
            (std::vector<std::string>{"a.wav", "b.wav", "B/c.wav", "b_x.wav", "quiet.wav",
                                      "Sub/deep/d.wav"}));
  EXPECT_EQ(Names(*reply.json.Find("categories")), (std::vector<std::string>{"B", "Sub"}));

  const JsonValue& selected = files.array_value[1];
  EXPECT_EQ(selected.GetString("path", ""), Text(audio_ / "b.wav"));
  EXPECT_TRUE(selected.GetBool("selected", false));
  EXPECT_EQ(selected.GetString("category", "?"), "");
  EXPECT_EQ(selected.GetString("extension", ""), ".wav");
  EXPECT_EQ(selected.GetNumber("size_bytes", 0), fs::file_size(audio_ / "b.wav"));
  EXPECT_EQ(selected.GetString("compatible_state", ""), "compatible");
  EXPECT_EQ(selected.Find("volume_health")->GetString("state", ""), "unknown");
  EXPECT_EQ(selected.Find("volume_health")->GetNumber("peak_dbfs", 0), -120);
  EXPECT_FALSE(files.array_value[0].GetBool("selected", true));
  EXPECT_EQ(files.array_value[2].GetString("category", ""), "B");
  EXPECT_EQ(files.array_value[4].GetString("compatible_state", ""), "needs_conversion");
  EXPECT_EQ(files.array_value[5].GetString("category", ""), "Sub");
}

TEST_F(SoundLibraryTest, TheRequestChoosesItsFolder) {
  WriteToneWav(audio_ / "main.wav", 0.1, 0.5);
  fs::path other = folder_ / "Other";
  WriteToneWav(other / "other.wav", 0.1, 0.5);
  JsonValue settings = ProfileSettings();
  settings["profiles"].PushBack(
      Json({{"id", "second"}, {"name", "Second"}, {"audio_dir", Text(other)}}));
  settings["profiles"].PushBack(
      Json({{"id", "gone"}, {"name", "Gone"}, {"audio_dir", Text(folder_ / "Missing")}}));
  ASSERT_TRUE(StartProgram(settings));

  auto listed = [&](const JsonValue& body) {
    ApiReply reply = Post("/api/mixer/files", body);
    EXPECT_EQ(reply.status, 200) << reply.http.body;
    return Names(*reply.json.Find("files"), "name");
  };
  using List = std::vector<std::string>;
  EXPECT_EQ(listed(JsonValue::MakeObject()), List{"main.wav"});
  EXPECT_EQ(listed(Json({{"profile_id", ""}})), List{"main.wav"});
  EXPECT_EQ(listed(Json({{"profile_id", "second"}})), List{"other.wav"});
  EXPECT_EQ(listed(Json({{"dir", Text(other)}, {"profile_id", "main"}})), List{"other.wav"})
      << "dir wins over profile_id";
  EXPECT_EQ(listed(Json({{"profile_id", "gone"}})), List{});

  ApiReply unknown = Post("/api/mixer/files", Json({{"profile_id", "Second"}}));
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(unknown.code(), "invalid_profile");
  ApiReply missing = Post("/api/mixer/files", Json({{"profile_id", "gone"}}));
  EXPECT_EQ(missing.json.Find("categories")->array_value.size(), 0u);
}

TEST_F(SoundLibraryTest, FoldersListAndCreateSubFoldersOnly) {
  for (const char* name : {"Drums/Kicks", "drums", "_originals/kept", "Sub/_Originals"}) {
    fs::create_directories(audio_ / name);
  }
  fs::create_symlink(outside_, audio_ / "escape");
  ASSERT_TRUE(StartProgram());

  ApiReply folders = Post("/api/mixer/folders", JsonValue::MakeObject());
  ASSERT_EQ(folders.status, 200) << folders.http.body;
  EXPECT_EQ(Names(*folders.json.Find("folders"), "relative_path"),
            (std::vector<std::string>{"", "Drums", "Drums/Kicks", "Sub"}));
  EXPECT_EQ(folders.json.Find("folders")->array_value[0].GetString("label", ""),
            "Audio folder root");

  ApiReply created = Post("/api/mixer/folders/create", Json({{"folder_name", "Loops"}}));
  ASSERT_EQ(created.status, 200) << created.http.body;
  EXPECT_EQ(created.json.GetString("relative_path", ""), "Loops");
  EXPECT_TRUE(fs::is_directory(audio_ / "Loops"));
  for (const auto& [name, code] : std::vector<std::pair<JsonValue, std::string>>{
           {"Loops", "folder_exists"},
           {"_ORIGINALS", "folder_name_invalid"},
           {"a/b", "folder_name_invalid"},
           {JsonValue(3.0), "folder_name_required"},
       }) {
    EXPECT_EQ(Post("/api/mixer/folders/create", Json({{"folder_name", name}})).code(), code)
        << name.Serialize(0);
  }
  EXPECT_FALSE(fs::exists(audio_.parent_path() / "b"));
}

TEST_F(SoundLibraryTest, MoveAndRenameCarryTheSelectedClipsAlong) {
  WriteToneWav(audio_ / "clip.wav", 0.1, 0.5);
  WriteToneWav(audio_ / "panic.wav", 0.1, 0.5);
  fs::create_directories(audio_ / "Sub");
  ASSERT_TRUE(StartProgram(ProfileSettings(Text(audio_ / "clip.wav"), Text(audio_ / "panic.wav"))));

  ApiReply moved = Post(
      "/api/mixer/files/move",
      Json({{"path", " " + Text(audio_ / "clip.wav") + " "}, {"destination_relative_dir", "Sub"}}));
  ASSERT_EQ(moved.status, 200) << moved.http.body;
  EXPECT_EQ(moved.json.GetString("new_path", ""), Text(audio_ / "Sub/clip.wav"));
  EXPECT_EQ(moved.json.GetString("old_relative_path", ""), "clip.wav");
  EXPECT_EQ(moved.json.GetString("new_relative_path", ""), "Sub/clip.wav");
  EXPECT_TRUE(moved.json.GetBool("ptt_path_updated", false));
  EXPECT_FALSE(moved.json.GetBool("panic_path_updated", true));
  EXPECT_EQ(SavedSettings().GetString("file_path", ""), Text(audio_ / "Sub/clip.wav"));

  EXPECT_EQ(Post("/api/mixer/files/move", Json({{"path", Text(audio_ / "Sub/clip.wav")},
                                                {"destination_relative_dir", "Sub"}}))
                .code(),
            "same_destination");

  ApiReply renamed = Post("/api/mixer/files/rename",
                          Json({{"path", Text(audio_ / "panic.wav")}, {"new_filename", "alarm"}}));
  ASSERT_EQ(renamed.status, 200) << renamed.http.body;
  EXPECT_EQ(renamed.json.GetString("new_filename", ""), "alarm.wav");
  EXPECT_TRUE(renamed.json.GetBool("panic_path_updated", false));
  EXPECT_EQ(SavedSettings().GetString("panic_file_path", ""), Text(audio_ / "alarm.wav"));
  // Letter case names another file here.
  ApiReply recased =
      Post("/api/mixer/files/rename",
           Json({{"path", Text(audio_ / "alarm.wav")}, {"new_filename", "ALARM.wav"}}));
  ASSERT_EQ(recased.status, 200) << recased.http.body;
  EXPECT_TRUE(fs::exists(audio_ / "ALARM.wav"));

  ApiReply deleted =
      Post("/api/mixer/files/delete", Json({{"path", Text(audio_ / "Sub/clip.wav")}}));
  ASSERT_EQ(deleted.status, 200) << deleted.http.body;
  EXPECT_TRUE(deleted.json.GetBool("selection_cleared", false));
  EXPECT_EQ(SavedSettings().GetString("file_path", "?"), "");
}

TEST_F(SoundLibraryTest, AFailedSettingsSaveMovesTheFileBack) {
  WriteToneWav(audio_ / "clip.wav", 0.1, 0.5);
  fs::create_directories(audio_ / "Sub");
  ASSERT_TRUE(StartProgram(ProfileSettings(Text(audio_ / "clip.wav"))));
  std::string before = testing::ReadFile(data_folder_ / "settings.json");
  {
    testing::ReadOnlyFolder frozen(data_folder_);
    ApiReply moved =
        Post("/api/mixer/files/move",
             Json({{"path", Text(audio_ / "clip.wav")}, {"destination_relative_dir", "Sub"}}));
    EXPECT_EQ(moved.status, 500) << moved.http.body;
    EXPECT_EQ(moved.code(), "settings_save_failed");
    ApiReply renamed = Post("/api/mixer/files/rename",
                            Json({{"path", Text(audio_ / "clip.wav")}, {"new_filename", "other"}}));
    EXPECT_EQ(renamed.code(), "settings_save_failed");
  }
  EXPECT_TRUE(fs::exists(audio_ / "clip.wav"));
  EXPECT_FALSE(fs::exists(audio_ / "Sub/clip.wav"));
  EXPECT_FALSE(fs::exists(audio_ / "other.wav"));
  EXPECT_EQ(testing::ReadFile(data_folder_ / "settings.json"), before);
}

TEST_F(SoundLibraryTest, NamesAreCheckedByTheRoutesThatTakeThem) {
  WriteToneWav(audio_ / "a.wav", 0.1, 0.5);
  WriteToneWav(audio_ / "taken.wav", 0.1, 0.5);
  ASSERT_TRUE(StartProgram());
  for (const auto& [name, code] : std::vector<std::pair<std::string, std::string>>{
           {"CON", "reserved_filename"},
           {"lpt1.wav", "reserved_filename"},
           {"b.", "filename_invalid"},
           {"b ", "filename_invalid"},
           {"a:b", "filename_invalid"},
           {"..\\b", "filename_invalid"},
           {"b.mp3", "extension_invalid"},
           {"taken", "destination_exists"},
           {"A.wav", ""},
       }) {
    ApiReply reply = Post("/api/mixer/files/rename",
                          Json({{"path", Text(audio_ / "a.wav")}, {"new_filename", name}}));
    EXPECT_EQ(reply.code(), code) << name << ": " << reply.http.body;
  }
}

// A name that is not UTF-8 (possible here) is listed as text that leads back to the very file.
TEST_F(SoundLibraryTest, AFileNamedInAnotherEncodingIsListedAndCanBeRenamed) {
  WriteToneWav(audio_ / "caf\xE9.wav", 0.1, 0.5);
  ASSERT_TRUE(StartProgram());
  ApiReply list = Post("/api/mixer/files", JsonValue::MakeObject());
  ASSERT_NE(list.json.Find("files"), nullptr) << "not valid UTF-8 JSON: " << list.http.body;
  ASSERT_EQ(list.json.Find("files")->array_value.size(), 1u);
  const std::string listed = list.json.Find("files")->array_value[0].GetString("path", "");
  ApiReply renamed =
      Post("/api/mixer/files/rename", Json({{"path", listed}, {"new_filename", "cafe"}}));
  EXPECT_EQ(renamed.status, 200) << renamed.http.body;
  EXPECT_TRUE(fs::exists(audio_ / "cafe.wav"));
  EXPECT_FALSE(fs::exists(audio_ / "caf\xE9.wav"));
}

// Each way out of the profile's folder, through each route that takes a path.
TEST_F(SoundLibraryTest, PathsOutsideTheFolderAreRefusedAndLeaveTheFileAlone) {
  WriteToneWav(outside_ / "victim.wav", 0.1, 0.5);
  WriteToneWav(folder_ / "SOUNDS/victim.wav", 0.1, 0.5);
  // On this system a name may hold "\": this file lies beside the folder, not in it.
  fs::path backslashed = Text(audio_) + "\\..\\Outside\\victim.wav";
  WriteToneWav(backslashed, 0.1, 0.5);
  WriteToneWav(audio_ / "_originals/kept.wav", 0.1, 0.5);
  WriteToneWav(audio_ / "mine.wav", 0.1, 0.5);
  fs::create_symlink(outside_, audio_ / "link");
  fs::create_directories(audio_ / "Sub");
  std::vector<fs::path> guarded = {outside_ / "victim.wav", folder_ / "SOUNDS/victim.wav",
                                   backslashed, audio_ / "_originals/kept.wav"};
  std::vector<std::string> contents;
  for (const fs::path& file : guarded) contents.push_back(testing::ReadFile(file));
  ASSERT_TRUE(StartProgram());

  struct Way {
    std::string name;
    std::string path;
    bool lexical;  // refused before the disk is asked
  };
  const std::vector<Way> ways = {
      {"parent", Text(audio_) + "/../Outside/victim.wav", true},
      {"absolute", Text(outside_ / "victim.wav"), true},
      {"sibling in other case", Text(folder_ / "SOUNDS/victim.wav"), true},
      {"backslash", backslashed.string(), true},
      {"linked folder", Text(audio_ / "link/victim.wav"), false},
  };
  struct Route {
    std::string route;
    std::function<JsonValue(const std::string&)> body;
    std::string outside_code;
    std::string originals_code;  // empty: the route may use "_originals"
  };
  const std::vector<Route> routes = {
      {"/api/mixer/files/delete",
       [](const std::string& p) {
         return Json({{"path", p}});
       },
       "path_outside_root", ""},
      {"/api/mixer/files/move",
       [](const std::string& p) {
         return Json({{"path", p}, {"destination_relative_dir", "Sub"}});
       },
       "path_outside_root", "originals_folder_forbidden"},
      {"/api/mixer/files/rename",
       [](const std::string& p) {
         return Json({{"path", p}, {"new_filename", "renamed"}});
       },
       "path_outside_root", "originals_folder_forbidden"},
      {"/api/mixer/files/normalize",
       [](const std::string& p) {
         return Json({{"path", p}});
       },
       "path_outside_root", "originals_folder_forbidden"},
      {"/api/mixer/files/merge",
       [&](const std::string& p) {
         return Json({{"first_path", Text(audio_ / "mine.wav")}, {"second_path", p}});
       },
       "path_outside_root", "originals_folder_forbidden"},
      {"/api/mixer/files/volume-health",
       [](const std::string& p) {
         return Json({{"path", p}});
       },
       "path_outside_root", "originals_folder_forbidden"},
      {"/api/mixer/trim/source",
       [](const std::string& p) {
         return Json({{"path", p}});
       },
       "path_invalid", "originals_folder_forbidden"},
      {"/api/mixer/trim/export",
       [](const std::string& p) {
         return Json({{"wav_base64", "UklGRg=="}, {"source_path", p}});
       },
       "path_invalid", "originals_folder_forbidden"},
  };
  for (const Route& route : routes) {
    for (const Way& way : ways) {
      ApiReply reply = Post(route.route, route.body(way.path));
      EXPECT_EQ(reply.code(), route.outside_code)
          << route.route << " " << way.name << ": " << reply.http.body;
    }
    if (!route.originals_code.empty()) {
      EXPECT_EQ(Post(route.route, route.body(Text(audio_ / "_originals/kept.wav"))).code(),
                route.originals_code)
          << route.route;
    }
    for (size_t i = 0; i < guarded.size(); ++i) {
      EXPECT_TRUE(testing::ReadFile(guarded[i]) == contents[i]) << route.route << " " << guarded[i];
    }
  }

  for (const auto& [destination, code] : std::vector<std::pair<std::string, std::string>>{
           {"..\\Outside", "destination_invalid"},
           {"../Outside", "destination_invalid"},
           {"C:\\Outside", "destination_invalid"},
           {"\\Outside", "destination_invalid"},
           {Text(outside_), "destination_invalid"},
           {"_originals", "originals_folder_forbidden"},
           {"link", "path_outside_root"},
           {"Missing", "destination_not_found"},
       }) {
    ApiReply reply = Post(
        "/api/mixer/files/move",
        Json({{"path", Text(audio_ / "mine.wav")}, {"destination_relative_dir", destination}}));
    EXPECT_EQ(reply.code(), code) << destination << ": " << reply.http.body;
  }
  EXPECT_TRUE(fs::exists(audio_ / "mine.wav"));
  EXPECT_FALSE(fs::exists(outside_ / "mine.wav"));
}

TEST_F(SoundLibraryTest, ConvertTurnsTheSelectedClipIntoAWavAndKeepsTheSource) {
  WriteToneWav(folder_ / "tone.wav", 0.5, 0.5, 44100, 1);
  testing::RunFfmpeg({"-i", Text(folder_ / "tone.wav"), Text(audio_ / "song.mp3")});
  testing::RunFfmpeg({"-i", Text(folder_ / "tone.wav"), Text(outside_ / "victim.mp3")});
  fs::create_symlink(outside_, audio_ / "link");
  ASSERT_TRUE(StartProgram(ProfileSettings(Text(audio_ / "song.mp3"))));

  ApiReply analyzed = Post("/api/mixer/analyze", JsonValue::MakeObject());
  ASSERT_EQ(analyzed.status, 200) << analyzed.http.body;
  EXPECT_EQ(analyzed.json.Find("alerts")->array_value.size(), 0u);
  EXPECT_EQ(analyzed.json.Find("summary")->GetNumber("needs_conversion", 0), 1);

  JsonValue paths = JsonValue::MakeArray();
  paths.PushBack(Text(audio_ / "song.mp3"));
  paths.PushBack(Text(audio_ / "link/victim.mp3"));
  ApiReply converted = Post("/api/mixer/convert", Json({{"paths", paths}}));
  ASSERT_EQ(converted.status, 200) << converted.http.body;
  const std::vector<JsonValue>& items = converted.json.Find("results")->array_value;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].GetString("status", ""), "converted");
  EXPECT_EQ(items[0].GetString("target_path", ""), Text(audio_ / "song.wav"));
  EXPECT_EQ(items[1].GetString("code", ""), "path_outside_root");
  EXPECT_TRUE(fs::exists(audio_ / "_originals/song.mp3"));
  EXPECT_FALSE(fs::exists(audio_ / "song.mp3"));
  EXPECT_EQ(SavedSettings().GetString("file_path", ""), Text(audio_ / "song.wav"));
  EXPECT_TRUE(fs::exists(outside_ / "victim.mp3"));
  EXPECT_FALSE(fs::exists(outside_ / "victim.wav"));

  EXPECT_EQ(Post("/api/mixer/convert", Json({{"paths", Text(audio_ / "song.wav")}})).code(),
            "path_invalid");
  paths = JsonValue::MakeArray();
  paths.PushBack(Text(audio_ / "_originals/song.mp3"));
  EXPECT_EQ(Post("/api/mixer/convert", Json({{"paths", paths}})).code(),
            "originals_folder_forbidden");
  EXPECT_FALSE(fs::exists(audio_ / "_originals/_originals"));
}

// A download cut off halfway: its header states four seconds, its data holds two.
TEST_F(SoundLibraryTest, AFileCutShortOfTheLengthItStatesIsNotConverted) {
  WriteToneWav(folder_ / "tone.wav", 4, 0.5, 44100);
  const std::vector<std::pair<std::string, std::vector<std::string>>> formats = {
      {"cut horn.m4a", {"-c:a", "aac", "-movflags", "+faststart"}},
      {"cut drum.mp3", {"-c:a", "libmp3lame"}},
      {"cut bell.flac", {"-c:a", "flac"}},
      {"cut gong.wma", {"-c:a", "wmav2"}},
      {"cut beep.wav", {"-c:a", "pcm_s24le"}},
      {"whole horn.m4a", {"-c:a", "aac", "-movflags", "+faststart"}}};
  JsonValue paths = JsonValue::MakeArray();
  for (const auto& [name, options] : formats) {
    std::vector<std::string> arguments = {"-i", Text(folder_ / "tone.wav")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(Text(audio_ / name));
    testing::RunFfmpeg(arguments);
    if (name.starts_with("cut")) testing::TruncateFile(audio_ / name, 0.5);
    paths.PushBack(Text(audio_ / name));
  }
  ASSERT_TRUE(StartProgram());

  ApiReply converted = Post("/api/mixer/convert", Json({{"paths", paths}}));
  ASSERT_EQ(converted.status, 200) << converted.http.body;
  const JsonValue& summary = *converted.json.Find("summary");
  EXPECT_EQ(summary.GetNumber("converted", 0), 1);
  EXPECT_EQ(summary.GetNumber("failed", 0), static_cast<double>(formats.size() - 1));
  for (const JsonValue& item : converted.json.Find("results")->array_value) {
    const fs::path source = item.GetString("source_path", "");
    SCOPED_TRACE(source);
    if (source.filename().string().starts_with("whole")) continue;
    EXPECT_EQ(item.GetString("status", ""), "failed");
    EXPECT_EQ(item.GetString("code", ""), "audio_truncated");
    EXPECT_NE(item.GetString("message", "").find(" s of the 4."), std::string::npos);
    EXPECT_TRUE(fs::exists(source)) << "the cut file stays as it was";
  }
  EXPECT_TRUE(fs::exists(audio_ / "whole horn.wav"));
}

}  // namespace
}  // namespace zennic

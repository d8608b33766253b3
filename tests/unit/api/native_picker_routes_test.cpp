// The picker routes with the configured picker functions standing in for the desktop's
// choosers, and the open-folder route with a recording opener: real files, real analysis and
// conversion.

#include <gtest/gtest.h>

#include <cmath>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "model/runtime_state.h"
#include "api_answer.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"
#include "sound_files/wav_file.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::ApiAnswer;

class NativePickerRoutes : public ::testing::Test {
 protected:
  NativePickerRoutes()
      : sounds_(folder_ / "Sounds"),
        state_(SettingsStore(FillAppPaths(folder_ / "data"), {}, sounds_)),
        analyzer_(AnalyzerServiceOptions()),
        converter_(&analyzer_) {
    fs::create_directories(sounds_);
    fs::create_directories(folder_ / "Outside");
    state_.SetSessionToken(testing::kSessionToken);
    std::string error;
    EXPECT_TRUE(state_.MutateSettings(
        [&](MixerSettings& settings) {
          settings.profiles = {{"main", "Main", sounds_.string()}};
          settings.selected_profile_id = "main";
        },
        false, &error))
        << error;
  }

  HttpApiConfig Config() {
    HttpApiConfig config;
    config.runtime_state = &state_;
    config.session_cookie_name = "zennic_session";
    config.analyzer = &analyzer_;
    config.converter = &converter_;
    config.audio_file_picker = [this](const fs::path& initial, fs::path* chosen, bool* cancelled,
                                      std::string* error) {
      picker_opened_at_ = initial;
      *chosen = pick_;
      *cancelled = pick_.empty();
      if (!picker_error_.empty()) *error = picker_error_;
      return picker_error_.empty();
    };
    config.folder_picker = config.audio_file_picker;
    config.folder_opener = [this](const std::string& folder, std::string* error) {
      opened_.push_back(folder);
      if (!opener_error_.empty()) *error = opener_error_;
      return opener_error_.empty();
    };
    return config;
  }

  ApiAnswer Post(const std::string& path, const std::string& body = "{}") {
    HttpApi api(Config());
    return testing::PostWithSession(api, path, body);
  }

  void WriteTone(const fs::path& file, uint32_t rate) {
    std::vector<int16_t> samples(rate / 2 * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<int16_t>(16000 * std::sin(static_cast<double>(i / 2) * 0.06));
    }
    std::string error;
    ASSERT_TRUE(WriteWavFile(file, rate, 2, samples, &error)) << error;
  }

  void WriteMp3(const fs::path& file) {
    WriteTone(folder_ / "source.wav", 44100);
    ASSERT_EQ(testing::RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-i",
                                   (folder_ / "source.wav").string(), file.string()}),
              0);
  }

  testing::TempFolder folder_;
  fs::path sounds_;
  RuntimeState state_;
  AnalyzerService analyzer_;
  ConverterService converter_;
  fs::path pick_;
  std::string picker_error_;
  fs::path picker_opened_at_ = "not opened";
  std::vector<std::string> opened_;
  std::string opener_error_;
};

TEST_F(NativePickerRoutes, AChosenMp3BecomesAWavBesideItAndIsKeptUnderOriginals) {
  WriteMp3(sounds_ / "alarm.mp3");
  pick_ = sounds_ / "alarm.mp3";
  ApiAnswer answer = Post("/api/mixer/panic/browse-file");
  ASSERT_EQ(answer.status, 200) << answer.body.Serialize(0);
  EXPECT_EQ(picker_opened_at_, sounds_);
  EXPECT_TRUE(answer.body.GetBool("prepared", false));
  EXPECT_EQ(answer.body.GetString("selected_path", ""), (sounds_ / "alarm.wav").string());
  EXPECT_EQ(answer.body.GetString("relative_path", ""), "alarm.wav");
  EXPECT_TRUE(fs::is_regular_file(sounds_ / "_originals/alarm.mp3"));
  EXPECT_FALSE(fs::exists(sounds_ / "alarm.mp3"));

  WriteTone(sounds_ / "sub/ready.wav", 48000);
  pick_ = sounds_ / "sub/ready.wav";
  answer = Post("/api/mixer/panic/browse-file");
  ASSERT_EQ(answer.status, 200) << answer.body.Serialize(0);
  EXPECT_FALSE(answer.body.GetBool("prepared", true));
  EXPECT_EQ(answer.body.GetString("relative_path", ""), "sub/ready.wav");
}

TEST_F(NativePickerRoutes, APanicSoundThatCannotBeUsedIsRefusedWithItsCode) {
  WriteTone(folder_ / "Outside/elsewhere.wav", 48000);
  testing::WriteFile(sounds_ / "notes.txt", "not a sound");
  testing::WriteFile(sounds_ / "broken.wav", "RIFF, but nothing else");
  WriteMp3(sounds_ / "taken.mp3");
  WriteTone(sounds_ / "taken.wav", 48000);
  fs::create_directories(sounds_ / "_Originals");
  WriteMp3(sounds_ / "_Originals/kept.mp3");
  fs::create_directory_symlink(folder_ / "Outside", sounds_ / "link");
  struct Case {
    fs::path pick;
    int status;
    std::string code;
  } cases[] = {
      {folder_ / "Outside/elsewhere.wav", 400, "path_invalid"},
      {sounds_ / "../Outside/elsewhere.wav", 400, "path_invalid"},
      {sounds_ / "link/elsewhere.wav", 400, "path_invalid"},
      {sounds_ / "gone.wav", 409, "path_unavailable"},
      {sounds_ / "_Originals/kept.mp3", 403, "originals_folder_forbidden"},
      {sounds_ / "notes.txt", 400, "unsupported_audio_extension"},
      {sounds_ / "broken.wav", 400, "panic_sound_prepare_failed"},
      {sounds_ / "taken.mp3", 409, "panic_sound_prepare_failed"},
  };
  for (const Case& c : cases) {
    pick_ = c.pick;
    ApiAnswer answer = Post("/api/mixer/panic/browse-file");
    EXPECT_EQ(answer.status, c.status) << c.pick;
    EXPECT_EQ(answer.Code(), c.code) << c.pick << " " << answer.body.Serialize(0);
  }
  pick_ = sounds_ / "taken.mp3";
  ApiAnswer taken = Post("/api/mixer/panic/browse-file");
  const JsonValue* details = taken.body.Find("details");
  ASSERT_NE(details, nullptr) << taken.body.Serialize(0);
  EXPECT_EQ(details->GetString("converter_code", ""), "target_exists") << taken.body.Serialize(0);
  EXPECT_TRUE(fs::exists(sounds_ / "taken.mp3")) << "a refused conversion leaves the source";
  EXPECT_FALSE(fs::exists(sounds_ / "_Originals/kept.wav"));
}

TEST_F(NativePickerRoutes, CancelledAndFailedPickers) {
  pick_.clear();
  ApiAnswer cancelled = Post("/api/mixer/panic/browse-file");
  EXPECT_EQ(cancelled.status, 200);
  EXPECT_TRUE(cancelled.body.GetBool("cancelled", false));
  EXPECT_EQ(cancelled.body.GetString("selected_path", "x"), "");
  ApiAnswer folder = Post("/api/mixer/browse-folder", R"({"initial_path": "  /tmp/a/../b  "})");
  EXPECT_EQ(picker_opened_at_, "/tmp/b");
  EXPECT_EQ(folder.body.Serialize(0), R"({"cancelled":true,"ok":true,"selected_path":""})");

  picker_error_ = "Folder picker dialog is unavailable";
  EXPECT_EQ(Post("/api/mixer/browse-folder").Code(), "folder_picker_failed");
  ApiAnswer failed = Post("/api/mixer/panic/browse-file");
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.Code(), "audio_file_picker_failed");
  EXPECT_EQ(failed.body.GetString("error", ""), picker_error_);

  // Without an audio folder there is nothing to choose from: no dialog at all.
  picker_opened_at_ = "not opened";
  fs::remove_all(sounds_);
  EXPECT_EQ(Post("/api/mixer/panic/browse-file").Code(), "path_unavailable");
  EXPECT_EQ(picker_opened_at_, "not opened");
}

TEST_F(NativePickerRoutes, OpenFolderOpensTheChosenAudioFolder) {
  ApiAnswer active = Post("/api/mixer/open-folder");
  EXPECT_EQ(active.status, 200);
  EXPECT_EQ(active.body.GetString("opened_path", ""), sounds_.string());
  ApiAnswer named = Post("/api/mixer/open-folder",
                      R"({"dir": ")" + (folder_ / "Outside").string() + R"(", "profile_id": "main"})");
  EXPECT_EQ(named.body.GetString("opened_path", ""), (folder_ / "Outside").string());
  EXPECT_EQ(opened_, (std::vector<std::string>{sounds_.string(), (folder_ / "Outside").string()}));

  EXPECT_EQ(Post("/api/mixer/open-folder", R"({"profile_id": "nobody"})").Code(), "invalid_profile");
  opener_error_ = "No desktop display is available";
  ApiAnswer failed = Post("/api/mixer/open-folder");
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.Code(), "open_folder_failed");
  fs::remove_all(sounds_);
  EXPECT_EQ(Post("/api/mixer/open-folder").Code(), "path_unavailable");
  EXPECT_EQ(opened_.size(), 3u) << "a missing folder is never handed to the opener";
}

}  // namespace
}  // namespace zennic

// The hotkey service against the test display: real key presses from another client, real
// injection seen by that client, real settings files.

#include "engine/key_binding_service.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/app_paths.h"
#include "core/json_value.h"
#include "model/key_catalog.h"
#include "model/runtime_state.h"
#include "support/isolated_user.h"
#include "support/temp_folder.h"
#include "unit/engine/private_x_display.h"
#include "unit/engine/raw_key_event_recorder.h"
#include "unit/engine/second_x_client.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

// X key codes of the keys the tests press.
constexpr unsigned kXShiftLeft = 50, kXShiftRight = 62, kXKeyK = 45, kXKeyL = 46;
constexpr unsigned kXSemicolon = 47, kXKeypadAdd = 86;

KeyBinding Catalogued(const std::string& id) {
  std::optional<KeyBinding> binding = FindKeyCatalogEntry(id, kKeySourceDefault);
  EXPECT_TRUE(binding.has_value()) << id;
  return binding.value_or(KeyBinding());
}

RawKeyEvent Press(const std::string& id) {
  KeyBinding binding = Catalogued(id);
  return {true, static_cast<uint32_t>(binding.vk), static_cast<uint32_t>(binding.scan_code) & 0xFF,
          binding.extended};
}

class KeyBindingServiceTest : public ::testing::Test {
 protected:
  KeyBindingServiceTest()
      : paths_(FillAppPaths(data_.path())), state_(SettingsStore(paths_, {}, {})), service_(&state_) {}

  void SetUp() override {
    ASSERT_TRUE(state_.LoadSettings(nullptr));
    service_.SetKeyEventHandler(recorder_.Callback());
  }

  void TearDown() override {
    service_.ReleaseGameVoiceKey(nullptr);
    service_.Stop();
  }

  // Starts raw input on the test display with another client's window in the focus.
  void StartRawInput() {
    ASSERT_TRUE(client_.connected());
    client_.FocusOwnWindow();
    std::string error;
    ASSERT_TRUE(service_.Initialize(&error)) << error;
    ASSERT_EQ(service_.RawInputInactiveReason(), "");
  }

  KeyCaptureResult Capture(const std::string& target, int32_t timeout_ms = 10000) {
    KeyCaptureResult result;
    std::string error;
    EXPECT_TRUE(service_.StartKeyCapture(target, timeout_ms, &result, &error)) << error;
    return result;
  }

  KeyCaptureResult Verify(const std::string& target) {
    KeyCaptureResult result;
    std::string error;
    EXPECT_TRUE(service_.StartKeyVerification(target, 10000, &result, &error)) << error;
    return result;
  }

  KeyCaptureResult Poll(const std::string& capture_id) {
    KeyCaptureResult result;
    std::string error;
    EXPECT_TRUE(service_.GetKeyCaptureResult(capture_id, &result, &error)) << error;
    return result;
  }

  // Polls as the web client does until the capture leaves "waiting".
  KeyCaptureResult PollUntilDone(const std::string& capture_id) {
    KeyCaptureResult result = Poll(capture_id);
    for (int i = 0; i < 200 && result.status == "waiting"; ++i) {
      std::this_thread::sleep_for(10ms);
      result = Poll(capture_id);
    }
    return result;
  }

  void Configure(const std::function<void(MixerSettings&)>& edit) {
    std::string error;
    ASSERT_TRUE(state_.MutateSettings(edit, false, &error)) << error;
  }

  testing::IsolatedUser user_;
  testing::TempFolder data_;
  AppPaths paths_;
  RuntimeState state_;
  testing::RawKeyEventRecorder recorder_;
  testing::SecondXClient client_;
  KeyBindingService service_;
};

TEST_F(KeyBindingServiceTest, XdotoolKeysAndButtonsReachTheHandlerAsRawKeyEvents) {
  StartRawInput();
  testing::RunXdotool("key --delay 0 KP_Add");
  testing::RunXdotool("click --delay 0 9");
  std::vector<RawKeyEvent> expected = {{true, 107, 0x4E, false}, {false, 107, 0x4E, false},
                                       {true, 6, 6, false},      {false, 6, 6, false}};
  EXPECT_EQ(recorder_.WaitFor(expected.size()), expected);
  EXPECT_TRUE(service_.MatchesPushToTalkKey(107, 0x4E, false));
}

TEST_F(KeyBindingServiceTest, ABurstOfAThousandKeyEventsArrivesOnceEachInOrder) {
  StartRawInput();
  // Five keys, a hundred times each: 1,000 transitions in one xdotool run.
  const char* keysyms[] = {"KP_Add", "k", "KP_Enter", "F5", "Delete"};
  const RawKeyEvent presses[] = {{true, 107, 0x4E, false}, {true, 'K', 0x25, false},
                                 {true, 13, 0x1C, true},   {true, 0x74, 0x3F, false},
                                 {true, 46, 0x53, true}};
  std::string arguments = "key --delay 0";
  for (int i = 0; i < 500; ++i) arguments += std::string(" ") + keysyms[i % 5];
  testing::RunXdotool(arguments);

  std::vector<RawKeyEvent> events = recorder_.WaitFor(1000, 60s);
  ASSERT_EQ(events.size(), 1000u);
  for (size_t i = 0; i < events.size(); ++i) {
    RawKeyEvent want = presses[(i / 2) % 5];
    want.is_down = i % 2 == 0;
    ASSERT_EQ(events[i], want) << "transition " << i;
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder_.WaitFor(1001, 0ms).size(), 1000u) << "no transition arrives twice";
}

TEST_F(KeyBindingServiceTest, CaptureNamesTheNextKeyFromTheCatalogueAndSavesIt) {
  StartRawInput();
  KeyCaptureResult started = Capture("voice");
  EXPECT_EQ(started.capture_id, "capture-1");
  EXPECT_EQ(started.status, "waiting");
  client_.TapKey(kXShiftRight);
  KeyCaptureResult voice = PollUntilDone(started.capture_id);
  ASSERT_EQ(voice.status, "captured");
  ASSERT_TRUE(voice.binding.has_value());
  EXPECT_EQ(voice.binding->id, "right_shift");
  EXPECT_EQ(voice.binding->source, "captured_backend");
  EXPECT_EQ(state_.GetSettings().voice_chat_key.id, "right_shift");
  JsonValue saved;
  ASSERT_TRUE(JsonValue::Parse(testing::ReadFile(paths_.settings_file), &saved, nullptr));
  const JsonValue* saved_key = saved.Find("voice_chat_key");
  ASSERT_NE(saved_key, nullptr);
  EXPECT_EQ(saved_key->GetString("id", ""), "right_shift");

  KeyCaptureResult ptt = Capture("ptt");
  client_.TapKey(kXShiftLeft);
  ptt = PollUntilDone(ptt.capture_id);
  ASSERT_TRUE(ptt.binding.has_value());
  EXPECT_EQ(ptt.binding->id, "left_shift");
  EXPECT_TRUE(service_.MatchesPushToTalkKey(16, 0x2A, false));
  EXPECT_FALSE(service_.MatchesPushToTalkKey(16, 0x36, false));
  EXPECT_TRUE(service_.MatchesVoiceKey(16, 0x36, false));
  // The capturing presses reached the handler as well.
  EXPECT_EQ(recorder_.WaitFor(4).size(), 4u);
}

TEST_F(KeyBindingServiceTest, AnUnsupportedKeyIsRefusedAndTheCaptureWaitsOn) {
  StartRawInput();
  KeyCaptureResult capture = Capture("panic");
  std::string error;
  EXPECT_FALSE(service_.HandleRawKeyEvent({true, 186, 0x27, false}, &error));
  EXPECT_EQ(error, "Unsupported key");
  client_.TapKey(kXSemicolon);
  EXPECT_EQ(recorder_.WaitFor(3).size(), 3u);
  EXPECT_EQ(Poll(capture.capture_id).status, "waiting");

  client_.TapKey(kXKeypadAdd);
  KeyCaptureResult done = PollUntilDone(capture.capture_id);
  EXPECT_EQ(done.status, "captured");
  ASSERT_TRUE(state_.GetSettings().panic_trigger_key.has_value());
  EXPECT_EQ(state_.GetSettings().panic_trigger_key->id, "numpad_add");
}

TEST_F(KeyBindingServiceTest, TheLeftOrRightButtonRejectsTheCaptureAndStillReachesTheHandler) {
  StartRawInput();
  KeyCaptureResult capture = Capture("ptt");
  client_.TapButton(3);
  KeyCaptureResult done = PollUntilDone(capture.capture_id);
  EXPECT_EQ(done.status, "rejected");
  EXPECT_EQ(done.message,
            "Left/right mouse buttons are reserved for normal clicking. Use side mouse buttons or "
            "a keyboard key.");
  EXPECT_FALSE(done.binding.has_value());
  std::vector<RawKeyEvent> expected = {{true, 2, 2, false}, {false, 2, 2, false}};
  EXPECT_EQ(recorder_.WaitFor(2), expected);
  EXPECT_EQ(state_.GetSettings().ptt_trigger_key.id, "numpad_add");
}

TEST_F(KeyBindingServiceTest, VerificationComparesWithoutTouchingTheSettings) {
  KeyCaptureResult match = Verify("voice");
  EXPECT_TRUE(match.verify_only);
  ASSERT_TRUE(match.expected_binding.has_value());
  EXPECT_EQ(match.expected_binding->id, "key_k");
  EXPECT_TRUE(service_.HandleRawKeyEvent(Press("key_k"), nullptr));
  EXPECT_EQ(Poll(match.capture_id).status, "captured");

  KeyCaptureResult other = Verify("voice");
  EXPECT_TRUE(service_.HandleRawKeyEvent(Press("key_l"), nullptr));
  KeyCaptureResult mismatch = Poll(other.capture_id);
  EXPECT_EQ(mismatch.status, "mismatch");
  EXPECT_EQ(mismatch.message, "The detected key did not match the configured key");
  ASSERT_TRUE(mismatch.binding.has_value());
  EXPECT_EQ(mismatch.binding->id, "key_l");
  EXPECT_EQ(state_.GetSettings().voice_chat_key.id, "key_k");
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));
}

TEST_F(KeyBindingServiceTest, CaptureIdsCountUpAndANewerCaptureCancelsTheWaitingOne) {
  KeyCaptureResult first = Capture("ptt");
  KeyCaptureResult result;
  std::string error;
  EXPECT_FALSE(service_.StartKeyVerification("panic", 0, &result, &error));
  EXPECT_EQ(error, "No valid configured key is available to verify");
  EXPECT_EQ(Poll(first.capture_id).status, "cancelled") << "cancelled even by a failed start";

  KeyCaptureResult third = Capture("voice");
  EXPECT_EQ(first.capture_id, "capture-1");
  EXPECT_EQ(third.capture_id, "capture-3") << "the failed verification spent number 2";
  EXPECT_FALSE(service_.GetKeyCaptureResult("capture-2", &result, &error));
  EXPECT_EQ(error, "Unknown capture id");

  EXPECT_FALSE(service_.StartKeyCapture("PTT", 0, &result, &error));
  EXPECT_EQ(error, "Capture target must be 'ptt', 'voice', or 'panic'");
  EXPECT_FALSE(service_.StartKeyCapture("ptt", 0, nullptr, &error));
  EXPECT_EQ(error, "Key capture result pointer is null");
  EXPECT_FALSE(service_.GetKeyCaptureResult(third.capture_id, nullptr, &error));
  EXPECT_EQ(error, "Key capture result pointer is null");
  EXPECT_EQ(Poll(third.capture_id).status, "waiting");
}

TEST_F(KeyBindingServiceTest, OnlyTheNewest64CapturesAreKeptAndIdsAreNeverReused) {
  for (int i = 0; i < 70; ++i) Capture("ptt");
  KeyCaptureResult result;
  std::string error;
  EXPECT_FALSE(service_.GetKeyCaptureResult("capture-6", &result, &error));
  EXPECT_EQ(error, "Unknown capture id");
  EXPECT_EQ(Poll("capture-7").status, "cancelled");
  EXPECT_EQ(Poll("capture-70").status, "waiting");
  EXPECT_EQ(Capture("voice").capture_id, "capture-71");
}

TEST_F(KeyBindingServiceTest, TimeoutsAreBoundedAndAnExpiredCaptureTakesNoKey) {
  EXPECT_EQ(Capture("ptt", 0).timeout_ms, 10000u);
  EXPECT_EQ(Capture("ptt", -5).timeout_ms, 10000u);
  EXPECT_EQ(Capture("ptt", 45000).timeout_ms, 30000u);
  KeyCaptureResult short_one = Capture("ptt", 1);
  EXPECT_EQ(short_one.timeout_ms, 1u);
  std::this_thread::sleep_for(20ms);

  std::string error;
  EXPECT_TRUE(service_.HandleRawKeyEvent(Press("key_l"), &error)) << error;
  EXPECT_EQ(Poll(short_one.capture_id).status, "timeout");
  EXPECT_EQ(state_.GetSettings().ptt_trigger_key.id, "numpad_add");
  EXPECT_EQ(recorder_.WaitFor(1).size(), 1u) << "the late press still reaches the handler";
}

TEST_F(KeyBindingServiceTest, ReleasesNeverCompleteACapture) {
  KeyCaptureResult capture = Capture("voice");
  RawKeyEvent release = Press("key_l");
  release.is_down = false;
  EXPECT_TRUE(service_.HandleRawKeyEvent(release, nullptr));
  EXPECT_EQ(Poll(capture.capture_id).status, "waiting");
}

TEST_F(KeyBindingServiceTest, AFailedSaveKeepsTheCaptureWaitingForTheNextPress) {
  KeyCaptureResult capture = Capture("voice");
  // A folder where settings.json should be makes every save fail.
  std::filesystem::create_directories(paths_.settings_file);
  std::string error;
  EXPECT_FALSE(service_.HandleRawKeyEvent(Press("key_l"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Poll(capture.capture_id).status, "waiting");
  EXPECT_EQ(state_.GetSettings().voice_chat_key.id, "key_k");

  std::filesystem::remove(paths_.settings_file);
  EXPECT_TRUE(service_.HandleRawKeyEvent(Press("key_l"), &error)) << error;
  EXPECT_EQ(Poll(capture.capture_id).status, "captured");
}

TEST_F(KeyBindingServiceTest, TheHandlerMayCallBackIntoTheService) {
  std::atomic<int> matched{0};
  service_.SetKeyEventHandler([&](const RawKeyEvent& event) {
    if (service_.MatchesPushToTalkKey(event.vk, event.scan_code, event.extended)) ++matched;
    KeyCaptureResult ignored;
    service_.GetKeyCaptureResult("capture-1", &ignored, nullptr);
  });
  KeyCaptureResult capture = Capture("ptt");
  EXPECT_TRUE(service_.HandleRawKeyEvent(Press("numpad_add"), nullptr));
  EXPECT_EQ(matched.load(), 1);
  EXPECT_EQ(Poll(capture.capture_id).status, "captured");
}

TEST_F(KeyBindingServiceTest, TheHeldVoiceKeyIsReleasedEvenAfterTheConfiguredKeyChanged) {
  ASSERT_TRUE(client_.connected());
  std::string error;
  ASSERT_TRUE(service_.PressGameVoiceKey(false, &error)) << error;
  EXPECT_TRUE(client_.IsKeyDown(kXKeyK));

  Configure([](MixerSettings& settings) { settings.voice_chat_key = Catalogued("key_l"); });
  ASSERT_TRUE(service_.ReleaseGameVoiceKey(&error)) << error;
  EXPECT_FALSE(client_.IsKeyDown(kXKeyK));
  EXPECT_FALSE(client_.IsKeyDown(kXKeyL));
  EXPECT_TRUE(service_.ReleaseGameVoiceKey(&error)) << "nothing held: nothing to do";
}

TEST_F(KeyBindingServiceTest, AMouseButtonVoiceKeyIsHeldAsAButton) {
  ASSERT_TRUE(client_.connected());
  Configure([](MixerSettings& settings) { settings.voice_chat_key = Catalogued("mouse_x1"); });
  std::string error;
  ASSERT_TRUE(service_.PressGameVoiceKey(false, &error)) << error;
  EXPECT_TRUE(client_.IsButtonDown(8));
  EXPECT_FALSE(client_.IsAnyKeyDown());
  ASSERT_TRUE(service_.ReleaseGameVoiceKey(&error)) << error;
  EXPECT_FALSE(client_.IsButtonDown(8));
}

TEST_F(KeyBindingServiceTest, NothingIsPressedWhenSkippedOrWhenTheSettingsSayNo) {
  ASSERT_TRUE(client_.connected());
  EXPECT_TRUE(service_.PressGameVoiceKey(true, nullptr));
  EXPECT_FALSE(client_.IsAnyKeyDown());
  Configure([](MixerSettings& settings) { settings.hold_voice_key = false; });
  EXPECT_TRUE(service_.PressGameVoiceKey(false, nullptr));
  EXPECT_FALSE(client_.IsAnyKeyDown());
}

TEST_F(KeyBindingServiceTest, AReleaseLostWithTheDisplayKeepsTheKeyUntilARetryReconnects) {
  testing::PrivateXDisplay display;
  testing::ScopedDisplayVariable private_display(display.name().c_str());
  ASSERT_TRUE(service_.PressGameVoiceKey(false, nullptr));
  display.Stop();
  std::string error;
  EXPECT_FALSE(service_.ReleaseGameVoiceKey(&error));
  EXPECT_EQ(error.rfind("SendInput failed for key up", 0), 0u) << error;
  EXPECT_FALSE(service_.ReleaseGameVoiceKey(&error)) << "still remembered, still failing";
  ASSERT_TRUE(display.Restart());
  EXPECT_TRUE(service_.ReleaseGameVoiceKey(&error)) << error;
}

TEST_F(KeyBindingServiceTest, ASecondPressWithAnotherKeyConfiguredLetsGoOfTheFirst) {
  ASSERT_TRUE(service_.PressGameVoiceKey(false, nullptr));
  Configure([](MixerSettings& settings) { settings.voice_chat_key = Catalogued("key_l"); });
  ASSERT_TRUE(service_.PressGameVoiceKey(false, nullptr));
  EXPECT_FALSE(client_.IsKeyDown(kXKeyK)) << "the first key would stay down for good";
  EXPECT_TRUE(client_.IsKeyDown(kXKeyL));
  ASSERT_TRUE(service_.ReleaseGameVoiceKey(nullptr));
  EXPECT_FALSE(client_.IsAnyKeyDown());
}

TEST_F(KeyBindingServiceTest, DestroyingTheServiceLetsGoOfAHeldVoiceKey) {
  ASSERT_TRUE(client_.connected());
  {
    KeyBindingService service(&state_);
    ASSERT_TRUE(service.PressGameVoiceKey(false, nullptr));
    EXPECT_TRUE(client_.IsKeyDown(kXKeyK));
  }
  EXPECT_FALSE(client_.IsKeyDown(kXKeyK)) << "an injected key stays down after its client ends";
}

TEST(KeyBindingServiceWithoutDisplay, StartsWithoutHotkeysAndSaysWhy) {
  testing::IsolatedUser user;
  testing::TempFolder data;
  RuntimeState state(SettingsStore(FillAppPaths(data.path()), {}, {}));
  ASSERT_TRUE(state.LoadSettings(nullptr));
  testing::ScopedDisplayVariable no_display(nullptr);
  KeyBindingService service(&state);
  std::string error;
  ASSERT_TRUE(service.Initialize(&error)) << error;
  EXPECT_EQ(service.RawInputInactiveReason(),
            "Global hotkeys are unavailable: no X display is set (DISPLAY is empty)");
  EXPECT_FALSE(service.PressGameVoiceKey(false, &error));
  EXPECT_EQ(error, "SendInput failed for key down: no X display is set (DISPLAY is empty)");
  KeyCaptureResult capture;
  EXPECT_TRUE(service.StartKeyCapture("ptt", 0, &capture, &error)) << "captures still start";
  service.Stop();
  EXPECT_EQ(service.RawInputInactiveReason(), "");
}

}  // namespace
}  // namespace zennic

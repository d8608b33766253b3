// The engine's lifecycle, mixing, clips, hotkeys, device threads and voice test on the fake
// audio system, where formats, clocks and device failures are the test's to choose.

#include "engine/mixer_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include "core/json_value.h"
#include "model/key_catalog.h"
#include "unit/engine/mixer_engine_fixture.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::FakeStreamSettings;
using testing::kFakeCable;
using testing::kFakeHeadphones;
using testing::kFakeMicrophone;

RawKeyEvent KeyEvent(const KeyBinding& binding, bool down) {
  return {down, static_cast<uint32_t>(binding.vk), static_cast<uint32_t>(binding.scan_code) & 0xFF,
          binding.extended};
}

KeyBinding Catalogued(const std::string& id) {
  return FindKeyCatalogEntry(id, kKeySourceDefault).value_or(KeyBinding());
}

class MixerEngineTest : public testing::MixerEngineFixture {
 protected:
  // The fake microphone, cable and headphones in use at these indices; the names the user chose
  // saved to the file.
  void ExpectDevicesInUse(int32_t mic, int32_t out, int32_t monitor,
                          const std::string& saved_monitor = kFakeHeadphones) {
    RuntimeSnapshot snapshot = state_.GetSnapshot();
    EXPECT_EQ(snapshot.mic_index, mic);
    EXPECT_EQ(snapshot.out_index, out);
    EXPECT_EQ(snapshot.monitor_index, monitor);
    JsonValue saved;
    ASSERT_TRUE(JsonValue::Parse(testing::ReadFile(paths_.settings_file), &saved, nullptr));
    EXPECT_EQ(saved.GetString("mic_name", ""), kFakeMicrophone);
    EXPECT_EQ(saved.GetString("out_name", ""), kFakeCable);
    EXPECT_EQ(saved.GetString("monitor_name", ""), saved_monitor);
  }
};

TEST_F(MixerEngineTest, AStartChoosesAndSavesTheDevicesAndAStopEndsEveryThread) {
  Edit([](MixerSettings& settings) { settings.monitor_name = "Old Headphones"; });
  std::vector<std::string> notes;
  ASSERT_TRUE(Start(&notes));
  EXPECT_EQ(notes, (std::vector<std::string>{"Saved monitor device Old Headphones was "
                                             "unavailable. Using " +
                                             kFakeHeadphones + " instead."}));
  EXPECT_TRUE(state_.GetSnapshot().mixer_running);
  // The stand-in plays for this run; the user's choice stays for when it is back.
  ExpectDevicesInUse(0, 0, 1, "Old Headphones");

  ASSERT_TRUE(Eventually([&] { return cable_.Frames() > 4800 && headphones_.Frames() > 4800; }));
  std::string error = "old";
  EXPECT_TRUE(engine_->Stop(&error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(state_.GetSnapshot().mixer_running);
  size_t played = cable_.Frames();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(cable_.Frames(), played);

  // A start of a running engine starts it anew.
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Start());
  EXPECT_TRUE(state_.GetSnapshot().mixer_running);
}

TEST_F(MixerEngineTest, WhenDevicesComeAndGoTheSavedNamesWinOverShiftedIndices) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(engine_->Stop(nullptr));
  // The cable comes back after the headphones, a webcam before the microphone: every stored
  // index now points at another device.
  world_.RemoveEndpoint(cable_id_);
  world_.RemoveEndpoint(microphone_id_);
  world_.AddEndpoint(AudioFlow::kCapture, "Webcam Microphone (Fake)");
  microphone_id_ = world_.AddEndpoint(AudioFlow::kCapture, kFakeMicrophone);
  SetMicrophoneValue(0.125f);
  cable_id_ = world_.AddEndpoint(AudioFlow::kRender, kFakeCable);
  FakeStreamSettings cable;
  cable.render_sink = cable_.Sink();
  world_.SetStreamSettings(cable_id_, cable);

  std::vector<std::string> notes;
  ASSERT_TRUE(Start(&notes));
  EXPECT_TRUE(notes.empty());
  ExpectDevicesInUse(1, 1, 0);
  EXPECT_TRUE(Eventually([&] { return cable_.CountLeft(0.125f) > 960; }));

  // An index the caller asks for is still the caller's choice.
  MixerDeviceSelection request;
  request.output_index = 0;
  ASSERT_TRUE(Start(&notes, request));
  EXPECT_EQ(state_.GetSettings().out_name, kFakeHeadphones);
}

TEST_F(MixerEngineTest, WithoutAnOutputNothingStartsAndTheSettingsStay) {
  world_.RemoveEndpoint(cable_id_);
  world_.RemoveEndpoint(headphones_id_);
  MixerSettings before = state_.GetSettings();
  std::string error;
  EXPECT_FALSE(engine_->Start({}, nullptr, &error));
  EXPECT_EQ(error, "No compatible output device is available");
  EXPECT_EQ(state_.GetSettings(), before);
  EXPECT_FALSE(state_.GetSnapshot().mixer_running);
}

TEST_F(MixerEngineTest, ADeviceThatCannotStartStopsTheWholeStartWithItsReason) {
  FakeStreamSettings failing;
  failing.initialize_result = audio_result::kDeviceInUse;
  world_.SetStreamSettings(headphones_id_, failing);
  std::string error;
  EXPECT_FALSE(engine_->Start({}, nullptr, &error));
  EXPECT_EQ(error,
            "Monitor output device failed to initialize: Failed to initialize shared-mode audio "
            "client (0x8889000A)");
  EXPECT_FALSE(state_.GetSnapshot().mixer_running);

  FakeStreamSettings odd;
  odd.format = testing::FakeMixFormat(2, 32, AudioMixFormat::SubFormat::kOther);
  world_.SetStreamSettings(cable_id_, odd);
  world_.SetStreamSettings(headphones_id_, FakeStreamSettings());
  EXPECT_FALSE(engine_->Start({}, nullptr, &error));
  EXPECT_EQ(error,
            "Mixer output device failed to initialize: Endpoint mix format is not supported by "
            "the current implementation");

  world_.SetStreamSettings(cable_id_, FakeStreamSettings());
  EXPECT_TRUE(engine_->Start({}, nullptr, &error)) << error;
}

TEST_F(MixerEngineTest, TheMixCarriesVoiceAndClipAtTheirVolumesAndTheMonitorTheClipAlone) {
  // 0.25 in 16 bits; the microphone is 0.125.
  MakeClip("level.wav", 4800, 8192);
  Edit([](MixerSettings& settings) {
    settings.mic_volume = 0.5;
    settings.sfx_volume = 2.0;
  });
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(0.0625f) > 960; }));
  std::string error;
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  ASSERT_TRUE(Eventually([&] { return !ClipPlaying(); }));
  size_t voice_alone = cable_.CountLeft(0.0625f);
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(0.0625f) > voice_alone + 4800; }));

  // Voice and clip together while it plays, then the voice alone; a stall under load may cost a
  // few frames to a realignment, never add any.
  size_t mixed = cable_.CountLeft(0.0625f + 0.5f);
  EXPECT_LE(mixed, 4800u);
  EXPECT_GE(mixed, 4800u - 960u);
  size_t on_monitor = headphones_.CountLeft(0.5f);
  EXPECT_LE(on_monitor, 4800u);
  EXPECT_GE(on_monitor, 4800u - 960u);
  EXPECT_EQ(headphones_.CountLeft(0.0625f), 0u);

  // With the monitor off it plays silence, whatever the clip does.
  ASSERT_TRUE(engine_->SetMonitorEnabled(false, &error));
  std::this_thread::sleep_for(30ms);
  headphones_.Clear();
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  ASSERT_TRUE(Eventually([&] { return !ClipPlaying(); }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(headphones_.CountLeft(0.5f), 0u);
  EXPECT_GT(headphones_.Frames(), 4800u);
  EXPECT_FALSE(state_.GetSettings().monitor_enabled);
}

TEST_F(MixerEngineTest, ACableThatRunsDryOnceCountsOneBreakThereAndGrowsItsQueue) {
  // The cable's thread held up for 200 ms inside one write, as when its processor is taken away
  // for longer than its queue: the device runs dry, tells of it, and its queue is found empty,
  // for one break; the microphone kept delivering meanwhile and misses nothing.
  std::atomic<bool> hold_up{false};
  FakeStreamSettings cable;
  cable.render_sink = [&hold_up, record = cable_.Sink()](const uint8_t* data, uint32_t frames) {
    record(data, frames);
    if (hold_up.exchange(false)) std::this_thread::sleep_for(200ms);
  };
  world_.SetStreamSettings(cable_id_, cable);
  Edit([](MixerSettings& settings) { settings.monitor_enabled = false; });
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Eventually([&] { return cable_.Frames() > 24000; }));
  hold_up = true;
  ASSERT_TRUE(Eventually([&] { return engine_->GetAudioRoadHealth().mix_output.breaks > 0; }));
  std::this_thread::sleep_for(300ms);
  MixerEngine::AudioRoadHealth health = engine_->GetAudioRoadHealth();
  EXPECT_EQ(health.mix_output.breaks, 1u);
  EXPECT_GE(health.mix_output.break_time, 100ms);
  EXPECT_GT(health.mix_output.queue, MixerEngine::kOutputQueue.floor);
  EXPECT_EQ(health.microphone.breaks, 0u);
}

TEST_F(MixerEngineTest, AMicrophoneJustLaterThanTheCableCanWaitCostsItsVoiceOneBlock) {
  // The microphone's audio held up a little longer than the cable can wait for it, as when the
  // whole machine stops: it comes right after the cable gave up on the first block it asked for.
  std::atomic<bool> held{false};
  SetMicrophoneValue(0.125f, [&held] { return held.load(); });
  Edit([](MixerSettings& settings) {
    settings.mic_volume = 0.5;
    settings.monitor_enabled = false;
  });
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(0.0625f) > 24000; }));
  for (int hold = 0; hold < 8; ++hold) {
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(36 + hold));
    held = false;
    std::this_thread::sleep_for(300ms);
  }
  engine_->Stop(nullptr);
  const std::vector<float> samples = cable_.Samples();
  size_t first = 0;
  while (first < samples.size() && samples[first] != 0.0625f) first += 2;
  // Most holds cost less than a block's voice; giving up on every block asked for meanwhile
  // cost each of them 26 to 46 ms and a realignment. A test machine busy with other work can
  // stretch a hold or two by itself.
  std::vector<size_t> gaps(8, 0);
  size_t run = 0;
  for (size_t i = first; i < samples.size(); i += 2) {
    if (samples[i] != 0.0625f) {
      ++run;
    } else if (run > 0) {
      gaps.push_back(run);
      run = 0;
    }
  }
  std::sort(gaps.begin(), gaps.end(), std::greater<>());
  EXPECT_LT(gaps[3], 960u) << "the fourth longest of " << gaps.size() - 8 << " voice gaps";
}

TEST_F(MixerEngineTest, LoudClipsAreClampedAndALoopingClipPlaysUntilStopped) {
  MakeClip("loud.wav", 960, 32767);
  Edit([](MixerSettings& settings) {
    settings.sfx_volume = 2.0;
    settings.loop = true;
  });
  ASSERT_TRUE(Start());
  std::string error;
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(1.0f) > 9600; }));
  EXPECT_TRUE(ClipPlaying());
  EXPECT_EQ(headphones_.CountLeft(1.0f) > 0, true);
  for (float sample : cable_.Samples()) ASSERT_LE(std::abs(sample), 1.0f);
  ASSERT_TRUE(engine_->StopPtt(&error)) << error;
  EXPECT_FALSE(ClipPlaying());
  size_t heard = cable_.CountLeft(1.0f);
  std::this_thread::sleep_for(80ms);
  // What was already queued may still play out; nothing new is mixed.
  EXPECT_LE(cable_.CountLeft(1.0f), heard + 2400);
}

TEST_F(MixerEngineTest, HotkeysStartAndStopOnlyTheirOwnClip) {
  std::string ptt_clip = MakeClip("ptt.wav", 48000, 8192);
  std::string panic_clip = MakeClip("panic.wav", 48000, 16384, false);
  KeyBinding panic_key = Catalogued("f9");
  Edit([&](MixerSettings& settings) {
    settings.panic_trigger_key = panic_key;
    settings.panic_file_path = panic_clip;
  });
  KeyBinding ptt_key = state_.GetSettings().ptt_trigger_key;

  // Not running: a press leaves nothing behind.
  engine_->OnRawKeyEvent(KeyEvent(ptt_key, true));
  EXPECT_FALSE(ClipPlaying());

  ASSERT_TRUE(Start());
  engine_->OnRawKeyEvent(KeyEvent(ptt_key, true));
  EXPECT_TRUE(ClipPlaying());
  engine_->OnRawKeyEvent(KeyEvent(panic_key, true));
  engine_->OnRawKeyEvent(KeyEvent(panic_key, false));
  EXPECT_TRUE(ClipPlaying());
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(0.125f + 0.25f) > 960; }));
  EXPECT_EQ(cable_.CountLeft(0.125f + 0.5f), 0u);
  engine_->OnRawKeyEvent(KeyEvent(ptt_key, false));
  EXPECT_FALSE(ClipPlaying());

  engine_->OnRawKeyEvent(KeyEvent(panic_key, true));
  EXPECT_TRUE(ClipPlaying());
  engine_->OnRawKeyEvent(KeyEvent(ptt_key, false));
  EXPECT_TRUE(ClipPlaying());
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(0.125f + 0.5f) > 960; }));
  engine_->OnRawKeyEvent(KeyEvent(panic_key, false));
  EXPECT_FALSE(ClipPlaying());

  // No panic clip chosen: its key plays nothing and is no error.
  Edit([](MixerSettings& settings) { settings.panic_file_path.clear(); });
  engine_->OnRawKeyEvent(KeyEvent(panic_key, true));
  EXPECT_FALSE(ClipPlaying());
}

TEST_F(MixerEngineTest, ClipStartsAreRefusedWithTheirReasons) {
  std::string error;
  EXPECT_FALSE(engine_->StartPtt(true, &error));
  EXPECT_EQ(error, "Mixer is not running");
  ASSERT_TRUE(Start());
  EXPECT_FALSE(engine_->StartPtt(true, &error));
  EXPECT_EQ(error, "No audio file is selected");
  EXPECT_TRUE(engine_->PlayClip("", MixerEngine::kTriggerPanic, false, false, true, &error));

  std::filesystem::path slow = sounds_folder() / "slow.wav";
  ASSERT_TRUE(WriteWavFile(slow, 44100, 2, std::vector<int16_t>(200, 0), &error));
  Edit([&slow](MixerSettings& settings) { settings.file_path = slow.string(); });
  EXPECT_FALSE(engine_->StartPtt(true, &error));
  EXPECT_EQ(error, "Sample rate must be 48000 Hz");
  EXPECT_FALSE(ClipPlaying());
}

TEST_F(MixerEngineTest, ADeviceThatComesBackResumesOnItsOwnButNeverOnAnother) {
  ASSERT_TRUE(Start());
  world_.RemoveEndpoint(cable_id_);
  ASSERT_TRUE(Eventually([&] { return !state_.GetSnapshot().audio_device_failures.empty(); }));
  // A device of the same name is another device: the voice never moves to it.
  testing::RenderRecording other;
  FakeStreamSettings recorded;
  recorded.render_sink = other.Sink();
  world_.AddEndpoint(AudioFlow::kRender, kFakeCable, "render:other", recorded);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(other.Frames(), 0u);

  cable_.Clear();
  recorded.render_sink = cable_.Sink();
  world_.AddEndpoint(AudioFlow::kRender, kFakeCable, cable_id_, recorded);
  ASSERT_TRUE(Eventually([&] { return cable_.CountLeft(0.125f) > 4800; }))
      << "the microphone reaches the cable again";
  EXPECT_TRUE(state_.GetSnapshot().audio_device_failures.empty());
  EXPECT_TRUE(state_.GetSnapshot().mixer_running);
  std::string log = testing::ReadFile(paths_.logs_folder / "app.log");
  EXPECT_NE(log.find("[MixerEngine] Mixer output device resumed on " + kFakeCable), std::string::npos)
      << log;
}

TEST_F(MixerEngineTest, ARemovedDeviceEndsItsThreadAndTheNextStartTakesAnother) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Eventually([&] { return headphones_.Frames() > 960; }));
  world_.RemoveEndpoint(headphones_id_);
  world_.RemoveEndpoint(microphone_id_);
  size_t monitor_frames = headphones_.Frames();
  // The cable plays on (silence for the missing microphone).
  size_t cable_frames = cable_.Frames();
  ASSERT_TRUE(Eventually([&] { return cable_.Frames() > cable_frames + 4800; }));
  EXPECT_EQ(headphones_.Frames(), monitor_frames);
  EXPECT_GT(cable_.CountLeft(0.0f), 0u);
  // Still running, but the status and the log say what stopped.
  std::vector<std::string> failures = state_.GetSnapshot().audio_device_failures;
  ASSERT_EQ(failures.size(), 2u);
  std::sort(failures.begin(), failures.end());
  EXPECT_EQ(failures[0].rfind("Microphone input device stopped delivering audio: ", 0), 0u);
  EXPECT_EQ(failures[1].rfind("Monitor output device stopped playing: ", 0), 0u);
  std::string log = testing::ReadFile(paths_.logs_folder / "app.log");
  EXPECT_NE(log.find("[MixerEngine] " + failures[1]), std::string::npos) << log;

  EXPECT_TRUE(engine_->Stop(nullptr));
  EXPECT_TRUE(state_.GetSnapshot().audio_device_failures.empty());
  std::vector<std::string> notes;
  ASSERT_TRUE(Start(&notes));
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "Saved monitor device " + kFakeHeadphones +
                       " was unavailable. Monitor output was disabled because no separate "
                       "speaker or headphone device was found."}));
  // The run goes without them; the user's choices stay saved.
  RuntimeSnapshot snapshot = state_.GetSnapshot();
  EXPECT_TRUE(snapshot.settings.monitor_enabled);
  EXPECT_EQ(snapshot.settings.mic_name, kFakeMicrophone);
  EXPECT_EQ(snapshot.settings.monitor_name, kFakeHeadphones);
  EXPECT_FALSE(snapshot.mic_index.has_value());

  // The cable gone too: another output carries the mix, the user is told, and the cable stays
  // the saved choice.
  world_.AddEndpoint(AudioFlow::kRender, "Speakers (Fake)");
  world_.RemoveEndpoint(cable_id_);
  ASSERT_TRUE(Start(&notes));
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "Saved output device " + kFakeCable +
                           " was unavailable. Using Speakers (Fake) instead.",
                       "Saved monitor device " + kFakeHeadphones +
                           " was unavailable. Monitor output was disabled because no separate "
                           "speaker or headphone device was found."}));
  EXPECT_EQ(state_.GetSettings().out_name, kFakeCable);
}

// The capture side delivers a ramp; at each render buffer the gap between the newest frame
// captured and the newest frame played is the delay the voice has.
class BacklogProbe {
 public:
  static constexpr uint64_t kWrap = 65536;

  FakeStreamSettings Microphone(double clock_speed) {
    FakeStreamSettings settings;
    settings.clock_speed = clock_speed;
    settings.capture_source = [this](uint64_t first, uint32_t frames, uint8_t* data) {
      std::vector<float> samples;
      for (uint64_t i = first; i < first + frames; ++i) {
        float value = static_cast<float>(i % kWrap) / kWrap;
        samples.push_back(value);
        samples.push_back(value);
      }
      std::memcpy(data, samples.data(), samples.size() * sizeof(float));
      captured_ = first + frames;
    };
    return settings;
  }

  void OnPlayed(const std::vector<float>& samples) {
    auto newest = static_cast<uint64_t>(std::lround(samples[samples.size() - 2] * kWrap));
    if (newest == 0) return;  // silence: nothing of the ramp yet
    uint64_t captured = captured_.load();
    std::lock_guard lock(mutex_);
    delays_.push_back((captured - newest + kWrap) % kWrap);
  }

  // The median delay over the last `count` buffers, in frames.
  uint64_t RecentMedianDelay(size_t count) {
    std::lock_guard lock(mutex_);
    std::vector<uint64_t> recent(delays_.end() - std::min(count, delays_.size()), delays_.end());
    if (recent.empty()) return UINT64_MAX;
    std::nth_element(recent.begin(), recent.begin() + recent.size() / 2, recent.end());
    return recent[recent.size() / 2];
  }

 private:
  std::atomic<uint64_t> captured_{0};
  std::mutex mutex_;
  std::vector<uint64_t> delays_;
};

TEST_F(MixerEngineTest, AMicrophoneClockRunningFastOrSlowNeverBuildsUpDelay) {
  for (double speed : {1.06, 0.94}) {
    SCOPED_TRACE(speed);
    BacklogProbe probe;
    world_.SetStreamSettings(microphone_id_, probe.Microphone(speed));
    cable_.Observe([&probe](const std::vector<float>& samples) { probe.OnPlayed(samples); });
    ASSERT_TRUE(Start());
    // Four seconds at 6 % off would leave 240 ms of backlog if nothing bounded it. A clock that
    // far off is beyond what the drift follower follows: what piles up is realigned as a stall
    // once it reaches 100 ms.
    std::this_thread::sleep_for(4s);
    uint64_t delay = probe.RecentMedianDelay(100);
    engine_->Stop(nullptr);
    cable_.Observe(nullptr);
    // The stall's 100 ms beside packet, tick, both FIFOs and the render buffer: 160 ms at most.
    EXPECT_LT(delay, 7680u);
  }
}

TEST_F(MixerEngineTest, EndpointsOfOtherRatesAndSampleTypesAreConverted) {
  using Sub = AudioMixFormat::SubFormat;
  std::mutex mutex;
  std::vector<int16_t> played;
  FakeStreamSettings cable;
  cable.format = testing::FakeMixFormat(2, 16, Sub::kPcm, 44100);
  cable.render_sink = [&](const uint8_t* data, uint32_t frames) {
    std::lock_guard lock(mutex);
    size_t offset = played.size();
    played.resize(offset + 2 * size_t{frames});
    std::memcpy(played.data() + offset, data, 4 * size_t{frames});
  };
  world_.SetStreamSettings(cable_id_, cable);
  // Six channels at 96 kHz in 24 bits: 0.25 on the front pair, 0.1 on the rest.
  FakeStreamSettings microphone;
  microphone.format = testing::FakeMixFormat(6, 24, Sub::kPcm, 96000);
  microphone.capture_source = [](uint64_t, uint32_t frames, uint8_t* data) {
    for (uint32_t frame = 0; frame < frames; ++frame) {
      for (int channel = 0; channel < 6; ++channel) {
        auto value = static_cast<int32_t>((channel < 2 ? 0.25 : 0.1) * 8388608);
        std::memcpy(data + (frame * 6 + channel) * 3, &value, 3);
      }
    }
  };
  world_.SetStreamSettings(microphone_id_, microphone);
  ASSERT_TRUE(Start());
  std::this_thread::sleep_for(1s);
  engine_->Stop(nullptr);

  std::lock_guard lock(mutex);
  // 0.25 + 2 x 0.1 x 0.707 on each side, as 16 bits.
  const auto expected = static_cast<int16_t>(std::nearbyint((0.25f + 2 * 0.1f * 0.707f) * 32767));
  size_t steady = 0;
  for (size_t i = 0; i < played.size(); i += 2) {
    if (std::abs(played[i] - expected) <= 1 && played[i + 1] == played[i]) ++steady;
  }
  // About a second at 44,100 Hz, all but the start (the voice's first alignment and the device's
  // queue, up to 200 ms) carrying the voice without gaps.
  EXPECT_GT(played.size() / 2, 40000u);
  EXPECT_GT(steady, played.size() / 2 - 8820);
}

TEST_F(MixerEngineTest, TheVoiceTestRecordsFiveSecondsAfterTheEffect) {
  VoiceTestResult result;
  std::string error;
  EXPECT_FALSE(engine_->RecordVoiceTest(5, &result, &error));
  EXPECT_EQ(error, "Start the mixer before recording a voice test");
  EXPECT_FALSE(engine_->RecordVoiceTest(3, &result, &error));
  EXPECT_EQ(error, "Voice test duration must be 5 seconds");
  EXPECT_FALSE(engine_->RecordVoiceTest(5, nullptr, &error));
  EXPECT_EQ(error, "VoiceTestResult output pointer is null");

  Edit([](MixerSettings& settings) {
    settings.mic_volume = 2.0;  // not part of the test's recording
    settings.voice_effects_enabled = true;
    settings.voice_effect_preset = "clean";
  });
  ASSERT_TRUE(Start());
  // The settings change during the test; the result keeps those it began with.
  std::thread change([this] {
    std::this_thread::sleep_for(500ms);
    Edit([](MixerSettings& settings) { settings.voice_effect_preset = "radio"; });
  });
  bool recorded = engine_->RecordVoiceTest(5, &result, &error);
  change.join();
  ASSERT_TRUE(recorded) << error;
  EXPECT_EQ(result.frames, 240000u);
  EXPECT_EQ(result.wav_bytes.size(), 960044u);
  EXPECT_EQ(result.voice_effect_preset, "clean");
  // The clean preset on a steady 0.125: compressed and raised, never the raw value, never x2.
  int16_t last;
  std::memcpy(&last, result.wav_bytes.data() + result.wav_bytes.size() - 2, 2);
  EXPECT_NE(last, 4096);
  EXPECT_LT(std::abs(last), 8192);
  EXPECT_TRUE(engine_->GetLatestVoiceTest(nullptr, &error));

  // Without a microphone there is nothing to record.
  world_.RemoveEndpoint(microphone_id_);
  ASSERT_TRUE(Start());
  EXPECT_FALSE(engine_->RecordVoiceTest(5, &result, &error));
  EXPECT_EQ(error, "Microphone input is not available");
  engine_->ClearVoiceTest();
  EXPECT_FALSE(engine_->GetLatestVoiceTest(nullptr, &error));
}

TEST_F(MixerEngineTest, StoppingDuringAVoiceTestEndsItWithoutAResult) {
  ASSERT_TRUE(Start());
  std::thread stopper([this] {
    std::this_thread::sleep_for(300ms);
    engine_->Stop(nullptr);
  });
  std::string error;
  VoiceTestResult result;
  EXPECT_FALSE(engine_->RecordVoiceTest(5, &result, &error));
  stopper.join();
  EXPECT_EQ(error, "Voice test did not capture enough microphone audio");
}

TEST_F(MixerEngineTest, MissingServicesAreReportedAndTheDeviceListHasNoIds) {
  MixerEngine bare(&state_, nullptr, &analyzer_, nullptr, world_.Factory());
  std::string error;
  EXPECT_FALSE(bare.Initialize(&error));
  EXPECT_EQ(error, "MixerEngine dependencies are not configured");
  EXPECT_FALSE(bare.Start({}, nullptr, &error));
  EXPECT_EQ(error, "MixerEngine dependencies are not configured");

  MixerDeviceList devices;
  EXPECT_FALSE(engine_->ListDevices(nullptr, &error));
  EXPECT_EQ(error, "MixerDeviceList output pointer is null");
  ASSERT_TRUE(engine_->ListDevices(&devices, &error));
  EXPECT_EQ(devices.inputs.size(), 1u);
  EXPECT_EQ(devices.outputs.size(), 2u);
  EXPECT_TRUE(devices.vb_cable_detected);
  EXPECT_EQ(devices.outputs[1].id, headphones_id_);
}

}  // namespace
}  // namespace zennic

#include "windows_audio/game_voice_path_verifier.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zennic {
namespace {

const MixerDeviceInfo kSpeakers{0, "Speakers", "render:speakers"};
const MixerDeviceInfo kCableInput{1, "CABLE Input", "render:cable"};
const MixerDeviceInfo kCable16Input{2, "CABLE In 16 Ch", "render:cable16"};
const MixerDeviceInfo kMicrophone{0, "Microphone", "capture:mic"};
const MixerDeviceInfo kCableOutput{1, "CABLE Output", "capture:cable"};
const MixerDeviceInfo kCable16Output{2, "CABLE Out 16 Ch", "capture:cable16"};

GameVoicePathVerificationRequest Request(const MixerDeviceInfo& selected,
                                         std::vector<MixerDeviceInfo> recordings) {
  return {selected, {kSpeakers, kCableInput, kCable16Input}, std::move(recordings)};
}

// A cable whose pairs carry the signal only when listed as working, and open unless listed as
// closed.
struct ScriptedCable {
  std::vector<std::string> working;  // "playback id>recording id"
  bool opens = true;

  GameVoicePathCandidateDiagnostic operator()(const MixerDeviceInfo& playback,
                                              const MixerDeviceInfo& recording) const {
    GameVoicePathCandidateDiagnostic diagnostic;
    diagnostic.signal_detected =
        std::count(working.begin(), working.end(), playback.id + ">" + recording.id) > 0;
    diagnostic.opened = opens;
    return diagnostic;
  }
};

std::vector<std::string> TestedPairs(const GameVoicePathVerificationResult& result) {
  std::vector<std::string> pairs;
  for (const auto& candidate : result.candidates) {
    pairs.push_back(candidate.playback_name + " > " + candidate.capture_name + " " +
                    (candidate.failure_code.empty() ? "ok" : candidate.failure_code));
  }
  return pairs;
}

TEST(GameVoicePathSearch, OutcomesByWhatTheCableCarries) {
  const std::vector<MixerDeviceInfo> both = {kMicrophone, kCableOutput, kCable16Output};
  struct Case {
    const char* what;
    GameVoicePathVerificationRequest request;
    ScriptedCable cable;
    bool attempted, verified;
    const char* failure_code;
    std::vector<std::string> pairs;
  };
  const Case cases[] = {
      {"speakers selected", Request(kSpeakers, both), {}, false, false,
       "selected_playback_not_cable", {}},
      {"cable without id", Request({1, "CABLE Input", ""}, both), {}, false, false,
       "selected_playback_not_cable", {}},
      {"no recording side", Request(kCableInput, {kMicrophone, {3, "CABLE Output", ""}}), {},
       false, false, "no_cable_recording_endpoint", {}},
      {"selected pair works", Request(kCableInput, both),
       {{"render:cable>capture:cable"}}, true, true, "",
       {"CABLE Input > CABLE Output ok"}},
      {"second recording works", Request(kCableInput, both),
       {{"render:cable>capture:cable16"}}, true, true, "",
       {"CABLE Input > CABLE Output signal_not_detected", "CABLE Input > CABLE Out 16 Ch ok"}},
      {"only the other cable works", Request(kCableInput, both),
       {{"render:cable16>capture:cable16"}}, true, false, "selected_pair_failed",
       {"CABLE Input > CABLE Output signal_not_detected",
        "CABLE Input > CABLE Out 16 Ch signal_not_detected",
        "CABLE In 16 Ch > CABLE Output signal_not_detected", "CABLE In 16 Ch > CABLE Out 16 Ch ok"}},
      {"silent everywhere", Request(kCableInput, {kCableOutput}), {}, true, false,
       "signal_not_detected",
       {"CABLE Input > CABLE Output signal_not_detected",
        "CABLE In 16 Ch > CABLE Output signal_not_detected"}},
      {"nothing opens", Request(kCableInput, {kCableOutput}), {{}, false}, true, false,
       "endpoint_unavailable",
       {"CABLE Input > CABLE Output endpoint_unavailable",
        "CABLE In 16 Ch > CABLE Output endpoint_unavailable"}},
  };
  for (const Case& c : cases) {
    GameVoicePathVerificationResult result = SearchGameVoicePath(c.request, c.cable);
    EXPECT_EQ(result.attempted, c.attempted) << c.what;
    EXPECT_EQ(result.verified, c.verified) << c.what;
    EXPECT_EQ(result.failure_code, c.failure_code) << c.what;
    EXPECT_EQ(result.failure_message.empty(), result.failure_code.empty()) << c.what;
    EXPECT_EQ(TestedPairs(result), c.pairs) << c.what;
    EXPECT_EQ(result.selected_playback_name, c.request.selected_playback.name) << c.what;
  }
}

TEST(GameVoicePathSearch, AWorkingOtherPairIsSuggestedAndTheSelectedOneNotMatched) {
  ScriptedCable cable{{"render:cable16>capture:cable16"}};
  GameVoicePathVerificationResult result =
      SearchGameVoicePath(Request(kCableInput, {kCableOutput, kCable16Output}), cable);
  EXPECT_EQ(result.suggested_playback_id, "render:cable16");
  EXPECT_EQ(result.suggested_playback_name, "CABLE In 16 Ch");
  EXPECT_EQ(result.suggested_recording_id, "capture:cable16");
  EXPECT_EQ(result.suggested_recording_name, "CABLE Out 16 Ch");
  EXPECT_EQ(result.matching_recording_id, "");
  const GameVoicePathCandidateDiagnostic& last = result.candidates.back();
  EXPECT_TRUE(last.opened && last.frequency_signature_detected);
  EXPECT_EQ(last.failure_message, "");
  EXPECT_EQ(result.candidates.front().failure_message,
            "The endpoints opened, but the Ruzerad two-tone test signal was not detected.");
}

TEST(GameVoicePathSearch, WithoutATesterNothingIsTested) {
  GameVoicePathVerificationResult result =
      SearchGameVoicePath(Request(kCableInput, {kCableOutput}), VoicePathPairTester());
  EXPECT_FALSE(result.attempted);
  EXPECT_EQ(result.failure_code, "verifier_unavailable");
  EXPECT_TRUE(result.candidates.empty());
}

}  // namespace
}  // namespace zennic

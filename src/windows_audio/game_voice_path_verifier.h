#pragma once

#include <functional>
#include <string>

#include "windows_audio/setup_verifiers.h"

namespace zennic {

// Tests one playback/recording pair; the search reaches the endpoints only through it.
using VoicePathPairTester = std::function<GameVoicePathCandidateDiagnostic(
    const MixerDeviceInfo& playback, const MixerDeviceInfo& recording)>;

// The selected CABLE Input against every CABLE Output, in list order; when none carries the
// signal, every other CABLE Input against every CABLE Output, and the first working pair is
// suggested. Every tested pair is a candidate of the result.
GameVoicePathVerificationResult SearchGameVoicePath(const GameVoicePathVerificationRequest& request,
                                                    const VoicePathPairTester& tester);

// The user text of an overall failure code.
std::string VoicePathFailureMessage(const std::string& failure_code);

}  // namespace zennic

// Voice test: five seconds of the microphone recorded by the running mixer through the current
// effect, played back in the page.

var VOICE_TEST_SECONDS = 5;
var VOICE_TEST_COUNTDOWN_MS = 250;

Object.assign(state, {
  voiceTestAudio: null,
  voiceTestAudioUrl: "",
  voiceTestRecording: false,
  voiceTestPlaying: false,
  voiceTestCountdownTimer: 0,
  voiceTestRecordDeadline: 0,
  voiceTestStale: false
});

function showVoiceTestStatus(text) {
  byId("mixerVoiceTestStatus").textContent = text;
}

function renderVoiceTestButtons() {
  byId("mixerVoiceTestRecordBtn").disabled = state.voiceTestRecording;
  byId("mixerVoiceTestPlayBtn").disabled = state.voiceTestRecording || !state.voiceTestAudio;
  byId("mixerVoiceTestStopBtn").disabled = !state.voiceTestPlaying;
}

function showVoiceTestIdleStatus() {
  showVoiceTestStatus(t(state.voiceTestStale ? "playback.voice_test_record_again" : "playback.voice_test_ready_to_play"));
}

function markVoiceTestStale() {
  if (state.voiceTestAudio) state.voiceTestStale = true;
}

function releaseVoiceTestAudio() {
  if (state.voiceTestAudio) state.voiceTestAudio.pause();
  if (state.voiceTestAudioUrl) URL.revokeObjectURL(state.voiceTestAudioUrl);
  state.voiceTestAudio = null;
  state.voiceTestAudioUrl = "";
  state.voiceTestPlaying = false;
}

function wavBlobFromBase64(text, mimeType) {
  var binary = window.atob(String(text).replace(/\s+/g, ""));
  var bytes = new Uint8Array(binary.length);
  for (var i = 0; i < binary.length; i += 1) bytes[i] = binary.charCodeAt(i);
  return new Blob([bytes], { type: mimeType || "audio/wav" });
}

function keepVoiceTestRecording(test) {
  releaseVoiceTestAudio();
  state.voiceTestAudioUrl = URL.createObjectURL(wavBlobFromBase64(test.wav_base64, test.mime_type));
  var audio = new Audio();
  audio.preload = "auto";
  audio.src = state.voiceTestAudioUrl;
  audio.addEventListener("ended", function () {
    if (state.voiceTestAudio !== audio) return;
    state.voiceTestPlaying = false;
    renderVoiceTestButtons();
    showVoiceTestIdleStatus();
  });
  state.voiceTestAudio = audio;
  state.voiceTestStale = false;
}

function showRecordingCountdown() {
  var left = Math.max(0, Math.ceil((state.voiceTestRecordDeadline - Date.now()) / 1000));
  showVoiceTestStatus(t("playback.voice_test_recording", { seconds: left }));
}

function failVoiceTest(reason) {
  showVoiceTestStatus(t("playback.voice_test_failed", { reason: reason }));
}

function recordVoiceTest() {
  if (state.voiceTestRecording) return Promise.resolve(false);
  stopVoiceTestPlayback();
  state.voiceTestRecording = true;
  renderVoiceTestButtons();
  showVoiceTestStatus(t("playback.voice_test_preparing"));
  // The recording must hear the effect the controls show, also a change still waiting to be sent.
  var settings = Object.assign(takePendingSetPayload(), voiceEffectMembers());
  return postJson("/api/mixer/set", settings, { timeoutMs: 15000, retryAttempts: 1 }).then(function (result) {
    if (!result.payload.ok) {
      failVoiceTest(describeApiFailure(result, t("errors.settings_update_failed")));
      return false;
    }
    state.voiceTestRecordDeadline = Date.now() + VOICE_TEST_SECONDS * 1000;
    showRecordingCountdown();
    state.voiceTestCountdownTimer = window.setInterval(showRecordingCountdown, VOICE_TEST_COUNTDOWN_MS);
    return postJson("/api/mixer/voice-test/record", { duration_seconds: VOICE_TEST_SECONDS }).then(function (answer) {
      window.clearInterval(state.voiceTestCountdownTimer);
      if (!answer.payload.ok) {
        failVoiceTest(describeApiFailure(answer, t("playback.voice_test_record_failed")));
        return false;
      }
      var test = answer.payload.test;
      if (!test || typeof test.wav_base64 !== "string") {
        failVoiceTest(t("errors.invalid_response"));
        return false;
      }
      keepVoiceTestRecording(test);
      showVoiceTestIdleStatus();
      return true;
    });
  }).catch(function (error) {
    failVoiceTest(errorMessage(error, t("playback.voice_test_record_failed")));
    return false;
  }).then(function (recorded) {
    state.voiceTestRecording = false;
    renderVoiceTestButtons();
    return recorded;
  });
}

function playVoiceTest() {
  var audio = state.voiceTestAudio;
  if (!audio || state.voiceTestRecording) return Promise.resolve(false);
  audio.currentTime = 0;
  state.voiceTestPlaying = true;
  renderVoiceTestButtons();
  showVoiceTestStatus(t("playback.voice_test_playing"));
  return Promise.resolve(audio.play()).then(function () { return true; }, function (error) {
    state.voiceTestPlaying = false;
    renderVoiceTestButtons();
    failVoiceTest(errorMessage(error, t("errors.unknown")));
    return false;
  });
}

function stopVoiceTestPlayback() {
  if (!state.voiceTestAudio || !state.voiceTestPlaying) return;
  state.voiceTestAudio.pause();
  state.voiceTestAudio.currentTime = 0;
  state.voiceTestPlaying = false;
  renderVoiceTestButtons();
  showVoiceTestIdleStatus();
}

function wireVoiceTest() {
  byId("mixerVoiceTestRecordBtn").addEventListener("click", recordVoiceTest);
  byId("mixerVoiceTestPlayBtn").addEventListener("click", playVoiceTest);
  byId("mixerVoiceTestStopBtn").addEventListener("click", stopVoiceTestPlayback);
}

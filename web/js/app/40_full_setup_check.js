// Full Setup Check: a guided dialog in four steps (microphone, path through the cable, Windows
// input switching, keys), each turned into a card with one clear next action.

var SETUP_COUNTDOWN_FROM = 3;
var SETUP_COUNTDOWN_STEP_MS = 1000;
var SETUP_MICROPHONE_SAMPLES = 5;
var SETUP_MICROPHONE_CAPTURE_MS = 1000;
var SETUP_KEY_TIMEOUT_MS = 12000;
var SETUP_KEY_POLL_MS = 180;
var SETUP_KEY_REQUEST = { timeoutMs: 5000, retryAttempts: 1 };
var METER_FLOOR_DBFS = -60;
var MISSING_LEVEL_DBFS = -120;
var SETUP_KEY_TARGETS = ["voice", "ptt", "panic"];
var SETUP_MICROPHONE_ITEMS = ["microphone", "microphone_signal"];
var SETUP_STEP_BUTTONS = {
  start: "fullSetupStepStartBtn",
  continue: "fullSetupStepContinueBtn",
  retry: "fullSetupStepRetryBtn",
  skip: "fullSetupStepSkipBtn",
  fix: "audioSelfTestFixWindowsInputBtn",
  useCable: "audioSelfTestUseCableBtn",
  restore: "audioSelfTestRestoreBtn",
  back: "audioSelfTestBackDevicesBtn",
  chooseClip: "audioSelfTestChooseClipBtn",
  guide: "audioSelfTestSetupGuideLink"
};
var SETUP_RESULT_STATUS_KEYS = {
  passed: "audio_test.wizard.passed",
  failed: "audio_test.wizard.failed",
  warning: "audio_test.wizard.action_needed",
  waiting: "audio_test.wizard.waiting"
};
var SETUP_KEY_TITLES = {
  voice: "audio_test.wizard.voice_key_title",
  ptt: "audio_test.wizard.ptt_key_title",
  panic: "audio_test.wizard.panic_key_title"
};
var SETUP_KEY_TEXTS = {
  voice: "audio_test.wizard.voice_key_text",
  ptt: "audio_test.wizard.ptt_key_text",
  panic: "audio_test.wizard.panic_key_text"
};
var SETUP_HOTKEY_FIELDS = {
  voice: ["voice_chat_configured", "voice_chat_label"],
  ptt: ["ptt_configured", "ptt_label"],
  panic: ["panic_configured", "panic_label"]
};
var SETUP_KEY_ITEMS = { voice: "voice_chat_key", ptt: "ptt_hotkey", panic: "panic_hotkey" };
var PATH_FAILURE_KEYS = {
  selected_playback_not_cable: "audio_test.item.mixer_output.fail",
  no_cable_recording_endpoint: "audio_test.path_failure.no_capture",
  endpoint_unavailable: "audio_test.path_failure.unavailable",
  device_unavailable: "audio_test.path_failure.unavailable",
  verifier_unavailable: "audio_test.path_failure.unavailable",
  signal_not_detected: "audio_test.path_failure.no_signal"
};
var ITEM_ROW_CLASSES = { ok: "pass", warning: "warning", failed: "fail", not_checked: "not-checked", skipped: "skip" };
var ITEM_ROW_ICONS = { ok: "OK", warning: "!", failed: "!" };
var ITEM_TEXT_SUFFIXES = { ok: "pass", failed: "fail", warning: "warning", not_checked: "not_checked", skipped: "skipped" };

// What a run of the wizard found so far; every opening starts from this.
function freshSetupRun() {
  return {
    fullSetupWizardStep: "idle",
    audioSelfTestPending: false,
    audioInputFixPending: false,
    fullSetupMicrophonePassed: false,
    fullSetupMicrophoneResult: null,
    fullSetupPathResult: null,
    fullSetupKeyTarget: "",
    fullSetupKeyResults: freshKeyResults(),
    fullSetupKeysSkipped: false,
    fullSetupPanicSkipped: false,
    fullSetupWrongKeyLabel: "",
    fullSetupPhase: "idle",
    lastFullSetupResult: null
  };
}

function freshKeyResults() {
  return { voice: "not_tested", ptt: "not_tested", panic: "not_tested" };
}

Object.assign(state, freshSetupRun(), {
  fullSetupTalkMode: "unsure",
  fullSetupWizardRunId: 0,
  fullSetupCountdownTimer: 0,
  fullSetupKeyCaptureId: "",
  fullSetupKeyCaptureTimer: 0
});

// Ends whatever a countdown or a key poll was about to do.
function cancelSetupWork() {
  state.fullSetupWizardRunId += 1;
  window.clearTimeout(state.fullSetupCountdownTimer);
  window.clearTimeout(state.fullSetupKeyCaptureTimer);
  state.fullSetupKeyCaptureId = "";
}

function setupRunIsCurrent(runId) {
  return runId === state.fullSetupWizardRunId && !byId("audioSelfTestModal").hidden;
}

function setMeter(peakDbfs) {
  var known = typeof peakDbfs === "number" && Number.isFinite(peakDbfs);
  var clamped = known ? Math.min(0, Math.max(METER_FLOOR_DBFS, peakDbfs)) : METER_FLOOR_DBFS;
  byId("audioSelfTestMicMeterFill").style.width = ((clamped - METER_FLOOR_DBFS) / -METER_FLOOR_DBFS * 100) + "%";
  byId("audioSelfTestMicMeterValue").textContent = known ? peakDbfs.toFixed(1) + " dBFS" : MISSING_LEVEL_DBFS + " dBFS";
}

function setSetupSummary(title, text) {
  byId("audioSelfTestResultTitle").textContent = title;
  byId("audioSelfTestSummary").textContent = text;
}

function renderTalkAdvice() {
  var mode = byId("fullSetupTalkMode").value;
  var advice = t("audio_test.talk_mode.unsure_advice");
  if (mode === "hold") {
    var label = keyLabel(state.voiceBinding);
    advice = label ? t("audio_test.talk_mode.hold_advice", { key: label }) : t("audio_test.talk_mode.hold_missing");
  } else if (mode === "open") {
    advice = t("audio_test.talk_mode.open_advice");
  }
  byId("fullSetupTalkAdvice").textContent = advice;
}

// card: step, progress, title, text, expected, visual, countdown, meter ("off", "idle",
// "listening"), busy, result {status, reason}, buttons, startLabel, skipLabel.
function renderSetupStep(card) {
  state.fullSetupWizardStep = card.step;
  byId("fullSetupStepCard").hidden = false;
  // The summary only introduces the check: from the first step on, the card says it all, the
  // final verdict included.
  byId("audioSelfTestResult").hidden = true;
  byId("fullSetupTalkPanel").hidden = true;
  byId("audioSelfTestIntro").hidden = true;
  byId("audioSelfTestStartBtn").hidden = true;
  byId("audioSelfTestStartBtn").disabled = Boolean(card.busy);
  byId("fullSetupStepProgress").textContent = card.progress || "";
  byId("fullSetupStepTitle").textContent = card.title || "";
  byId("fullSetupStepText").textContent = card.text || "";
  byId("fullSetupStepExpected").textContent = card.expected || "";
  byId("fullSetupStepExpected").hidden = !card.expected;
  byId("fullSetupCountdown").textContent = card.countdown || "";
  byId("fullSetupCountdown").hidden = !card.countdown;
  byId("fullSetupStepVisual").textContent = card.visual || "";
  byId("fullSetupStepVisual").hidden = !card.visual;
  var meter = byId("audioSelfTestMeter");
  meter.hidden = !card.meter || card.meter === "off";
  meter.classList.toggle("listening", card.meter === "listening");

  var result = byId("fullSetupStepResult");
  result.hidden = !card.result;
  if (card.result) {
    result.className = "full-setup-step-result " + card.result.status;
    byId("fullSetupStepResultStatus").textContent = t(SETUP_RESULT_STATUS_KEYS[card.result.status]);
    byId("fullSetupStepResultReason").textContent = card.result.reason || "";
  }
  var buttons = card.buttons || [];
  if (card.result && card.result.status === "failed" && buttons.length === 0) buttons = ["retry", "back"];
  Object.keys(SETUP_STEP_BUTTONS).forEach(function (name) {
    byId(SETUP_STEP_BUTTONS[name]).hidden = buttons.indexOf(name) === -1;
  });
  byId("audioSelfTestFixWindowsInputHelp").hidden = buttons.indexOf("fix") === -1;
  byId("audioSelfTestRestoreBtn").className = "button " + (buttons.indexOf("restore") !== -1 ? "button-primary" : "button-danger");
  if (card.startLabel) byId("fullSetupStepStartBtn").textContent = card.startLabel;
  if (card.skipLabel) byId("fullSetupStepSkipBtn").textContent = card.skipLabel;
  if (card.step.indexOf("path") !== 0 && card.step !== "recovery_required") byId("fullSetupPathDiagnostics").textContent = "";
}

function windowsAudioNeedsRecovery() {
  var audio = state.audioManagementStatus || {};
  if (state.mixerRunning) return false;
  return audio.current_default_output_is_cable === true || audio.session_active === true ||
    audio.current_default_input_is_cable === true;
}

// options.title and options.summary replace the idle summary (a start that needs the check).
function openFullSetupCheck(options) {
  cancelSetupWork();
  var opts = options || {};
  Object.assign(state, freshSetupRun());
  byId("fullSetupTalkPanel").hidden = false;
  byId("audioSelfTestIntro").hidden = false;
  byId("audioSelfTestStartBtn").hidden = false;
  byId("audioSelfTestStartBtn").disabled = false;
  byId("fullSetupStepCard").hidden = true;
  byId("audioSelfTestResult").hidden = false;
  byId("fullSetupPathDiagnostics").textContent = "";
  byId("audioSelfTestList").textContent = "";
  byId("audioSelfTestDetails").open = false;
  setSetupSummary(opts.title || t("audio_test.idle_title"), opts.summary || t("audio_test.idle_summary"));
  setMeter(null);
  renderTalkAdvice();
  byId("audioSelfTestModal").hidden = false;
  if (windowsAudioNeedsRecovery()) showRecoveryStep();
}

function closeFullSetupCheck() {
  cancelSetupWork();
  byId("audioSelfTestModal").hidden = true;
}

function showRecoveryStep() {
  renderSetupStep({
    step: "recovery_required",
    title: t("native.audio_recovery.title"),
    text: t("audio_test.manual.restore_first"),
    result: { status: "failed", reason: t("audio_test.manual.restore_first") },
    buttons: ["restore", "back"]
  });
}

// Shows the card counting 3, 2, 1; resolves to whether the step may still run (closing,
// resetting, another countdown or an outcome that arrived meanwhile ends it).
function runCountdown(card) {
  cancelSetupWork();
  var runId = state.fullSetupWizardRunId;
  return new Promise(function (resolve) {
    function show(number) {
      var movedOn = number < SETUP_COUNTDOWN_FROM && state.fullSetupWizardStep !== card.step;
      if (!setupRunIsCurrent(runId) || movedOn) return resolve(false);
      if (number === 0) return resolve(true);
      renderSetupStep(Object.assign({}, card, { countdown: String(number), visual: t("audio_test.wizard.get_ready") }));
      state.fullSetupCountdownTimer = window.setTimeout(function () { show(number - 1); }, SETUP_COUNTDOWN_STEP_MS);
    }
    show(SETUP_COUNTDOWN_FROM);
  });
}

function selfTestRequest(scope) {
  var body = {
    test_scope: scope,
    mic_device: selectedDeviceIndex("mixerMicSel"),
    out_device: selectedDeviceIndex("mixerOutSel"),
    monitor_device: selectedDeviceIndex("mixerMonitorSel"),
    monitor_enabled: byId("mixerMonitorEnabled").checked
  };
  if (scope === "microphone") body.microphone_capture_ms = SETUP_MICROPHONE_CAPTURE_MS;
  return postJson("/api/mixer/audio/self-test", body);
}

function peakOf(answer) {
  var test = answer && answer.microphone_test;
  return test && typeof test.peak_dbfs === "number" ? test.peak_dbfs : MISSING_LEVEL_DBFS;
}

function showMicrophonePrepare() {
  state.fullSetupTalkMode = byId("fullSetupTalkMode").value;
  renderSetupStep({
    step: "microphone_prepare",
    progress: t("audio_test.wizard.step_1_progress"),
    title: t("audio_test.wizard.mic_title"),
    text: t("audio_test.wizard.mic_text"),
    meter: "idle",
    buttons: ["start"],
    startLabel: t("audio_test.wizard.start_mic")
  });
}

function microphoneCard(step, extra) {
  return Object.assign({
    step: step,
    progress: t("audio_test.wizard.step_1_progress"),
    title: t("audio_test.wizard.mic_title"),
    meter: "idle"
  }, extra);
}

function runMicrophoneStep() {
  return runCountdown(microphoneCard("microphone_countdown", { text: t("audio_test.wizard.mic_text") })).then(function (go) {
    if (!go) return;
    var runId = state.fullSetupWizardRunId;
    state.audioSelfTestPending = true;
    renderSetupStep(microphoneCard("microphone_testing", { visual: t("audio_test.wizard.speak_now"), meter: "listening", busy: true }));
    var best = null;
    function sample(number) {
      if (number > SETUP_MICROPHONE_SAMPLES) return Promise.resolve(null);
      byId("fullSetupStepExpected").hidden = false;
      byId("fullSetupStepExpected").textContent = t("audio_test.wizard.mic_sample_progress",
        { current: number, total: SETUP_MICROPHONE_SAMPLES });
      return selfTestRequest("microphone").then(function (result) {
        if (!setupRunIsCurrent(runId)) return null;
        if (!result.payload.ok) return result;
        setMeter(peakOf(result.payload));
        if (!best || peakOf(result.payload) > peakOf(best)) best = result.payload;
        return sample(number + 1);
      });
    }
    return sample(1).then(function (failed) {
      state.audioSelfTestPending = false;
      if (!setupRunIsCurrent(runId)) return;
      if (failed || !best) {
        renderSetupStep(microphoneCard("microphone_failed", {
          text: t("audio_test.wizard.mic_failed"),
          result: { status: "failed", reason: failed ? describeApiFailure(failed, t("errors.audio_self_test_failed")) : "" }
        }));
        return;
      }
      finishMicrophoneStep(best);
    });
  });
}

function finishMicrophoneStep(answer) {
  state.fullSetupMicrophoneResult = answer;
  setMeter(peakOf(answer));
  if (answer.microphone_step_passed === true) {
    state.fullSetupMicrophonePassed = true;
    renderSetupStep(microphoneCard("microphone_passed", {
      text: t("audio_test.wizard.mic_detected"),
      result: { status: "passed", reason: "" },
      buttons: ["continue"]
    }));
    return;
  }
  var test = answer.microphone_test || {};
  var cableMicrophone = answer.microphone_invalid_cable_output === true ||
    test.error_code === "selected_microphone_is_virtual_cable";
  var reason = cableMicrophone ? t("audio_test.next_step.select_microphone")
    : t(test.accessible === false ? "audio_test.wizard.mic_unavailable" : "audio_test.wizard.mic_no_signal");
  renderSetupStep(microphoneCard("microphone_failed", {
    text: reason,
    result: { status: "failed", reason: reason },
    buttons: cableMicrophone ? ["back"] : ["retry", "back"]
  }));
}

function showPathPrepare() {
  renderSetupStep({
    step: "path_prepare",
    progress: t("audio_test.wizard.step_2_progress"),
    title: t("audio_test.wizard.path_title"),
    text: t("audio_test.wizard.path_text"),
    buttons: ["start"],
    startLabel: t("audio_test.wizard.start_path")
  });
}

function pathCard(step, extra) {
  return Object.assign({ step: step, progress: t("audio_test.wizard.step_2_progress"), title: t("audio_test.wizard.path_title") }, extra);
}

function setupItemStatus(answer, id) {
  var item = ((answer && answer.items) || []).filter(function (candidate) { return candidate.id === id; })[0];
  return item ? item.status : "";
}

// Without any cable there is nothing to choose or test: the missing cable is named first.
function pathFailureText(answer) {
  if (setupItemStatus(answer, "vb_cable") === "failed") return t("audio_test.item.vb_cable.fail");
  var virtualPath = answer.virtual_path || {};
  var code = virtualPath.failure_code || virtualPath.error_code || "";
  return t(PATH_FAILURE_KEYS[code] || "audio_test.wizard.path_failed");
}

// A path the check did not try (no cable, or not one chosen) played no test sound.
function pathWasNotTried(virtualPath) {
  return virtualPath.attempted !== true && virtualPath.verified !== true;
}

function recommendedPlayback(virtualPath) {
  var path = virtualPath || {};
  return {
    id: path.recommended_playback_id || path.suggested_playback_id || "",
    name: path.recommended_playback_name || path.suggested_playback_name || "",
    capture: path.recommended_capture_name || path.suggested_recording_name || ""
  };
}

function appendElement(parent, tag, className, text) {
  var element = document.createElement(tag);
  if (className) element.className = className;
  if (text !== undefined) element.textContent = text;
  parent.appendChild(element);
  return element;
}

function renderPathDiagnostics(virtualPath) {
  var box = byId("fullSetupPathDiagnostics");
  box.textContent = "";
  if (!virtualPath) return;
  appendElement(box, "p", "", t("audio_test.selected_output_label") + " " + (virtualPath.selected_playback_name || "-"));
  // Nothing was tested; the card already says why.
  if (pathWasNotTried(virtualPath)) return;
  appendElement(box, "p", "path-diagnostics-title", t("audio_test.path_diagnostics.tested"));
  var list = appendElement(box, "ul", "path-candidates");
  var candidates = Array.isArray(virtualPath.tested_capture_candidates) ? virtualPath.tested_capture_candidates : [];
  candidates.forEach(function (candidate) {
    var parts = [(candidate.playback_name || "-") + " \u2192 " + (candidate.capture_name || "-"),
      t(candidate.opened ? "audio_test.status.ok" : "audio_test.status.failed")];
    if (candidate.opened) {
      parts.push("RMS " + (typeof candidate.rms_dbfs === "number" ? candidate.rms_dbfs.toFixed(1) : MISSING_LEVEL_DBFS) + " dBFS");
      parts.push(t("audio_test.path_diagnostics.frequency") + ": " +
        t(candidate.frequency_signature_detected ? "audio_test.key_test.detected" : "audio_test.key_test.not_detected"));
    } else if (candidate.failure_code) {
      parts.push(candidate.failure_code);
    }
    appendElement(list, "li", candidate.signal_detected ? "passed" : "failed", parts.join(" \u00b7 "));
  });
  var recommended = recommendedPlayback(virtualPath);
  if (recommended.name) {
    appendElement(box, "p", "path-recommendation", t("audio_test.path_failure.working_title") + ": " + recommended.name +
      (recommended.capture ? " \u2192 " + recommended.capture : ""));
  } else if (virtualPath.verified !== true) {
    appendElement(box, "p", "hint", t("audio_test.item.virtual_path.fail"));
    appendElement(box, "p", "hint", t("audio_test.next_step.reinstall_vb_cable"));
  }
}

// The answer of a scoped run with the microphone items of step 1 in place of its own.
function mergeWithMicrophoneStep(answer) {
  var microphoneItems = ((state.fullSetupMicrophoneResult || {}).items || []).filter(function (item) {
    return SETUP_MICROPHONE_ITEMS.indexOf(item.id) !== -1;
  });
  var otherItems = (Array.isArray(answer.items) ? answer.items : []).filter(function (item) {
    return SETUP_MICROPHONE_ITEMS.indexOf(item.id) === -1;
  });
  var merged = Object.assign({}, answer, {
    items: microphoneItems.concat(otherItems),
    ready: state.fullSetupMicrophonePassed && answer.audio_configuration_ready === true &&
      answer.selected_file_playable === true
  });
  state.lastFullSetupResult = merged;
  renderSetupDetails(merged);
  return merged;
}

// Without any cable there is nothing to get ready for: the test names the missing cable at once.
function pathStepCountdown() {
  var known = state.fullSetupPathResult || state.fullSetupMicrophoneResult;
  if (setupItemStatus(known, "vb_cable") !== "failed") {
    return runCountdown(pathCard("path_countdown", { text: t("audio_test.wizard.path_text") }));
  }
  cancelSetupWork();
  return Promise.resolve(true);
}

function runPathStep() {
  return pathStepCountdown().then(function (go) {
    if (!go) return;
    var runId = state.fullSetupWizardRunId;
    state.audioSelfTestPending = true;
    renderSetupStep(pathCard("path_testing", {
      text: t("audio_test.wizard.testing_path"), visual: t("audio_test.wizard.path_testing_hint"), busy: true
    }));
    return selfTestRequest("voice_path").then(function (result) {
      state.audioSelfTestPending = false;
      if (!setupRunIsCurrent(runId)) return;
      if (!result.payload.ok) {
        renderSetupStep(pathCard("path_failed", {
          text: t("audio_test.wizard.path_failed"),
          result: { status: "failed", reason: describeApiFailure(result, t("errors.audio_self_test_failed")) },
          buttons: ["retry", "back", "guide"]
        }));
        renderPathDiagnostics(result.payload.virtual_path || { failure_code: "request_failed" });
        return;
      }
      finishPathStep(result.payload);
    });
  });
}

function windowsInputFixOffered(answer) {
  return answer.primary_action === "fix_it_for_me" && answer.voice_path_step_passed === true &&
    answer.session_managed_switching_configured !== true &&
    Boolean(answer.windows_input_fix) && answer.windows_input_fix.available === true;
}

function finishPathStep(answer) {
  state.fullSetupPathResult = answer;
  mergeWithMicrophoneStep(answer);
  if (answer.audio_recovery_required === true) {
    showRecoveryStep();
    return;
  }
  if (windowsInputFixOffered(answer)) {
    renderSetupStep({
      step: "windows_fix",
      progress: t("audio_test.wizard.step_3_progress"),
      title: t("audio_test.fix_found_title"),
      text: t("audio_test.configure_switching_problem"),
      result: { status: "warning", reason: "" },
      buttons: ["fix"]
    });
    return;
  }
  // Only the path is known to work here: the keys are tested next.
  if (answer.audio_configuration_ready === true) {
    renderSetupStep(pathCard("path_passed", {
      title: t("audio_test.wizard.path_ready_title"),
      text: t("audio_test.wizard.path_ready"),
      result: { status: "passed", reason: "" },
      buttons: ["continue"]
    }));
    return;
  }
  var recommended = recommendedPlayback(answer.virtual_path);
  var buttons = recommended.name ? ["useCable", "back", "guide"] : ["retry", "back", "guide"];
  if (answer.audio_recovery_required === true) buttons.push("restore");
  // A path that carried the tones is not blamed for what else is missing.
  var pathWorked = answer.voice_path_step_passed === true;
  renderSetupStep(pathCard("path_failed", {
    title: recommended.name ? t("audio_test.path_failure.working_title") : t("audio_test.wizard.path_title"),
    text: recommended.name ? t("audio_test.wizard.path_suggestion", { device: recommended.name })
      : (pathWorked && answer.next_step ? t("audio_test.next_step." + answer.next_step) : pathFailureText(answer)),
    result: { status: "failed", reason: nextStepReason(answer) },
    buttons: buttons
  }));
  renderPathDiagnostics(answer.virtual_path);
}

// The cable-microphone advice only where the answer says the microphone is the cable.
function nextStepReason(answer) {
  var step = answer.next_step || "";
  if (!step || (step === "select_microphone" && answer.microphone_invalid_cable_output !== true)) return "";
  return t("audio_test.next_step." + step);
}

function useRecommendedCable() {
  var recommended = recommendedPlayback((state.fullSetupPathResult || {}).virtual_path);
  var outputs = state.devices ? state.devices.outputs : [];
  var device = outputs.filter(function (output) {
    return (recommended.id && output.id === recommended.id) || (recommended.name && output.name === recommended.name);
  })[0];
  function missing() {
    renderSetupStep(pathCard("path_failed", {
      text: t("audio_test.suggested_device_missing"),
      result: { status: "failed", reason: t("audio_test.suggested_device_missing") },
      buttons: ["retry", "back", "guide"]
    }));
  }
  if (!device) {
    missing();
    return Promise.resolve(false);
  }
  return postJson("/api/mixer/audio/use-recommended-cable").then(function (result) {
    if (!result.payload.ok) {
      missing();
      return false;
    }
    applySettings(result.payload);
    byId("mixerOutSel").value = String(device.index);
    state.fullSetupPathResult = null;
    showPathPrepare();
    return true;
  });
}

function windowsFixFailureReason(code) {
  if (code === "audio_recovery_required") return t("audio_test.manual.restore_first");
  if (code === "verified_cable_unavailable" || code === "verified_cable_required") return t("audio_test.manual.endpoint_disappeared");
  if (code === "settings_save_failed") return t("errors.settings_save_failed");
  return t("errors.audio_configure_switching_failed");
}

function showWindowsFixFailed(reason, recovery) {
  renderSetupStep({
    step: "windows_fix_failed",
    progress: t("audio_test.wizard.step_3_progress"),
    title: t("audio_test.result_not_ready"),
    text: reason,
    result: { status: "failed", reason: reason },
    buttons: recovery ? ["restore", "back"] : ["retry", "back", "guide"]
  });
}

// The fix records the consent that every start relies on, and a start also makes the chosen
// monitor the Windows output: the dialog that names both is asked before the fix, as a start
// would ask it.
function confirmWindowsInputFix() {
  var monitor = selectedDevice("mixerMonitorSel");
  if (monitor && isCablePlaybackName(monitor.name)) {
    showWindowsFixFailed(t("audio_management.monitor_is_cable"), false);
    return Promise.resolve(false);
  }
  if ((state.settings || {}).audio_management_consent_granted === true) return Promise.resolve(true);
  return askAudioConsent(monitor);
}

function runWindowsInputFix() {
  if (state.audioSelfTestPending || state.audioInputFixPending) return Promise.resolve(false);
  state.audioInputFixPending = true;
  var runId = state.fullSetupWizardRunId;
  return confirmWindowsInputFix().then(function (allowed) {
    // Not allowed: the fix card stays up, nothing changed.
    if (!allowed || !setupRunIsCurrent(runId)) return false;
    renderSetupStep({
      step: "windows_fixing",
      progress: t("audio_test.wizard.step_3_progress"),
      title: t("audio_test.configure_switching_title"),
      busy: true
    });
    return postJson("/api/mixer/audio/fix-windows-input");
  }).then(function (result) {
    if (!result || !setupRunIsCurrent(runId)) return false;
    if (!result.payload.ok) {
      showWindowsFixFailed(windowsFixFailureReason(result.payload.code), result.payload.code === "audio_recovery_required");
      return false;
    }
    applySettings(result.payload);
    return selfTestRequest("windows_input").then(function (check) {
      if (!setupRunIsCurrent(runId)) return false;
      if (!check.payload.ok) {
        showWindowsFixFailed(t("audio_test.manual.endpoint_disappeared"), false);
        return false;
      }
      mergeWithMicrophoneStep(check.payload);
      if (check.payload.audio_configuration_ready === true) {
        startKeySequence();
        return true;
      }
      // Switching is set up; what is still missing is something else, which the card names.
      if (check.payload.session_managed_switching_configured === true) {
        finishPathStep(check.payload);
        return true;
      }
      showWindowsFixFailed(t("errors.audio_configure_switching_failed"), false);
      return false;
    });
  }).then(function (fixed) {
    state.audioInputFixPending = false;
    return fixed;
  }, function (error) {
    state.audioInputFixPending = false;
    throw error;
  });
}

function setupHotkeys() {
  return (state.lastFullSetupResult && state.lastFullSetupResult.hotkeys) || {};
}

function setupKeyConfigured(target) {
  return setupHotkeys()[SETUP_HOTKEY_FIELDS[target][0]] === true;
}

function setupKeyLabel(target) {
  return setupHotkeys()[SETUP_HOTKEY_FIELDS[target][1]] || "-";
}

function requiredSetupKeys() {
  if (state.fullSetupTalkMode === "hold") return ["voice", "ptt"];
  return setupKeyConfigured("ptt") ? ["ptt"] : [];
}

function startKeySequence() {
  var results = state.fullSetupKeyResults;
  if (state.fullSetupTalkMode === "hold") {
    var missing = ["voice", "ptt"].filter(function (target) { return !setupKeyConfigured(target); });
    if (missing.length) {
      missing.forEach(function (target) { results[target] = "skipped"; });
      showFinalSetupResult();
      return;
    }
  }
  var next = SETUP_KEY_TARGETS.filter(function (target) {
    if (target === "voice") return state.fullSetupTalkMode === "hold" && results.voice !== "detected";
    if (target === "ptt") return setupKeyConfigured("ptt") && results.ptt !== "detected";
    return setupKeyConfigured("panic") && results.panic !== "detected" && results.panic !== "skipped";
  })[0];
  if (next) showKeyPrepare(next);
  else showFinalSetupResult();
}

function keyCard(target, step, extra) {
  return Object.assign({
    step: target + step,
    progress: t("audio_test.wizard.step_4_progress"),
    title: t(SETUP_KEY_TITLES[target]),
    expected: t("audio_test.key_test.expected", { key: setupKeyLabel(target) })
  }, extra);
}

function showKeyPrepare(target) {
  state.fullSetupKeyTarget = target;
  renderSetupStep(keyCard(target, "_key_prepare", {
    text: t(SETUP_KEY_TEXTS[target]),
    buttons: ["start", "skip"],
    startLabel: t(target === "panic" ? "audio_test.wizard.test_panic" : "audio_test.wizard.start_key"),
    skipLabel: t(target === "panic" ? "audio_test.wizard.skip_panic" : "audio_test.key_test.skip_button")
  }));
}

// The capture listens from the first count on, so a key pressed before "now" is taken, not
// lost; it still leaves the full time-out after the countdown.
function runKeyTest(target) {
  var countdown = runCountdown(keyCard(target, "_key_countdown", { text: t(SETUP_KEY_TEXTS[target]) }));
  var runId = state.fullSetupWizardRunId;
  state.fullSetupKeyResults[target] = "waiting";
  state.fullSetupWrongKeyLabel = "";
  renderSetupDetails(state.lastFullSetupResult);
  var captured = postJson("/api/mixer/keycapture/start", {
    target: target,
    timeout_ms: SETUP_KEY_TIMEOUT_MS + SETUP_COUNTDOWN_FROM * SETUP_COUNTDOWN_STEP_MS,
    verify_only: true
  }, SETUP_KEY_REQUEST).then(function (result) {
    if (!setupRunIsCurrent(runId)) return;
    if (!result.payload.ok || !result.payload.capture_id) {
      failKeyTest(target);
      return;
    }
    state.fullSetupKeyCaptureId = result.payload.capture_id;
    pollSetupKey(target, result.payload.capture_id, runId);
  });
  var prompted = countdown.then(function (go) {
    if (!go) return;
    renderSetupStep(keyCard(target, "_key_waiting", {
      text: t("audio_test.wizard.key_waiting"),
      visual: t(target === "voice" ? "audio_test.wizard.hold_now" : "audio_test.wizard.press_now", { key: setupKeyLabel(target) })
    }));
  });
  return Promise.all([captured, prompted]);
}

function pollSetupKey(target, captureId, runId) {
  state.fullSetupKeyCaptureTimer = window.setTimeout(function () {
    postJson("/api/mixer/keycapture/status", { capture_id: captureId }, SETUP_KEY_REQUEST).then(function (result) {
      if (!setupRunIsCurrent(runId) || state.fullSetupKeyCaptureId !== captureId) return;
      var payload = result.payload;
      if (!payload.ok) return failKeyTest(target);
      // An answer about another capture or target is not this test's.
      if (payload.capture_id !== captureId || payload.target !== target) return pollSetupKey(target, captureId, runId);
      if (payload.status === "waiting") return pollSetupKey(target, captureId, runId);
      state.fullSetupKeyCaptureId = "";
      if (payload.status === "captured" && payload.verify_only === true) return passKeyTest(target);
      var binding = payload.binding || {};
      state.fullSetupWrongKeyLabel = keyLabel(binding) || payload.binding_label || "";
      failKeyTest(target);
    });
  }, SETUP_KEY_POLL_MS);
}

function passKeyTest(target) {
  state.fullSetupKeyResults[target] = "detected";
  renderSetupDetails(state.lastFullSetupResult);
  renderSetupStep(keyCard(target, "_key_passed", {
    title: t("audio_test.wizard.key_detected_title"),
    text: t("audio_test.wizard.key_detected", { key: setupKeyLabel(target) }),
    result: { status: "passed", reason: "" },
    buttons: ["continue"]
  }));
}

function failKeyTest(target) {
  state.fullSetupKeyResults[target] = "failed";
  renderSetupDetails(state.lastFullSetupResult);
  var expected = setupKeyLabel(target);
  var reason = state.fullSetupWrongKeyLabel
    ? t("audio_test.wizard.wrong_key", { actual: state.fullSetupWrongKeyLabel, expected: expected })
    : t("audio_test.wizard.key_timeout", { key: expected });
  renderSetupStep(keyCard(target, "_key_failed", {
    title: t("audio_test.wizard.key_not_detected_title"),
    text: reason,
    result: { status: "failed", reason: reason },
    buttons: ["retry", "skip"],
    skipLabel: t(target === "panic" ? "audio_test.wizard.skip_panic" : "audio_test.key_test.skip_button")
  }));
}

function skipKeyTest() {
  cancelSetupWork();
  var target = state.fullSetupKeyTarget;
  var results = state.fullSetupKeyResults;
  if (target === "panic") {
    state.fullSetupPanicSkipped = true;
    results.panic = "skipped";
  } else {
    state.fullSetupKeysSkipped = true;
    requiredSetupKeys().forEach(function (key) {
      if (results[key] !== "detected") results[key] = "skipped";
    });
  }
  showFinalSetupResult();
}

function setupKeysPassed() {
  var results = state.fullSetupKeyResults;
  return !state.fullSetupKeysSkipped && requiredSetupKeys().every(function (target) {
    return setupKeyConfigured(target) && results[target] === "detected";
  });
}

function showFinalSetupResult() {
  var merged = state.lastFullSetupResult || {};
  var keysPassed = setupKeysPassed();
  var ready = merged.ready === true && keysPassed;
  // The devices and keys work; a first run has no clip yet.
  var clipMissing = !ready && keysPassed && merged.selected_file_playable !== true;
  var title;
  var text;
  var reason = "";
  if (ready && merged.ready_to_start === true) {
    title = t("audio_test.result_ready_to_start");
    text = t("audio_test.summary_ready_to_start");
  } else if (ready) {
    title = t("audio_test.result_ready");
    text = t("audio_test.summary_passed");
    if (state.fullSetupTalkMode === "hold") reason = t("audio_test.talk_mode.hold_advice", { key: setupKeyLabel("voice") });
  } else if (clipMissing) {
    title = t("audio_test.result_fixable");
    text = t("audio_test.item.selected_file.fail");
    reason = t("audio_test.next_step.select_ptt_file");
  } else {
    title = t("audio_test.keys_not_tested_title");
    text = t("audio_test.wizard.keys_required");
    reason = t("audio_test.wizard.next_test_keys");
  }
  state.fullSetupPhase = ready ? "ready" : (clipMissing ? "clip_missing" : "keys_missing");
  renderSetupDetails(merged);
  renderSetupStep({
    step: "final",
    progress: t("audio_test.wizard.complete_progress"),
    title: title,
    text: text,
    result: { status: ready ? "passed" : "warning", reason: reason },
    buttons: ready ? [] : (clipMissing ? ["chooseClip"] : ["retry"])
  });
}

function itemStatus(item) {
  var status = item.status || (item.skipped ? "skipped" : (item.passed ? "ok" : "failed"));
  var keyTarget = Object.keys(SETUP_KEY_ITEMS).filter(function (target) { return SETUP_KEY_ITEMS[target] === item.id; })[0];
  if (keyTarget) {
    var live = state.fullSetupKeyResults[keyTarget];
    if (live === "detected") return "ok";
    if (live === "failed") return "failed";
    if (live === "skipped") return "skipped";
    // Only an open microphone does without the voice chat key; "not sure" leaves it untested.
    if (keyTarget === "voice" && status === "not_checked" && state.fullSetupTalkMode === "open") return "skipped";
  }
  return status;
}

function itemDetailText(item, status, virtualPath) {
  var family = "audio_test.item." + item.id + ".";
  var text = t(family + ITEM_TEXT_SUFFIXES[status], null, t("audio_test.status." + status, null, status));
  if (item.id === "microphone" && item.mode === "invalid_cable_output") text = t("audio_test.next_step.select_microphone");
  if (item.id === "virtual_path" && status === "failed" && pathWasNotTried(virtualPath || {})) {
    text = t("audio_test.wizard.path_failed");
  }
  if (item.id === "windows_input" && status === "ok" && item.mode === "managed_when_running") text = t(family + "managed");
  var keyTarget = Object.keys(SETUP_KEY_ITEMS).filter(function (target) { return SETUP_KEY_ITEMS[target] === item.id; })[0];
  var live = keyTarget ? state.fullSetupKeyResults[keyTarget] : "";
  if (live === "waiting") text = t("audio_test.key_test.waiting");
  // A test the user skipped; the voice key's own skipped text is for an open microphone.
  if (live === "skipped") text = t("audio_test.wizard.key_skipped");
  if (item.detail) text += t("audio_test.detail_suffix", { detail: item.detail });
  if (item.suggested_device_name) text += " " + t("audio_test.working_cable_found", { device: item.suggested_device_name });
  return text;
}

function renderSetupDetails(merged) {
  var list = byId("audioSelfTestList");
  list.textContent = "";
  ((merged && merged.items) || []).forEach(function (item) {
    var status = itemStatus(item);
    var row = appendElement(list, "li", "check-item " + (ITEM_ROW_CLASSES[status] || "skip"));
    row.dataset.itemId = item.id;
    appendElement(row, "span", "check-icon", ITEM_ROW_ICONS[status] || "-");
    appendElement(row, "span", "check-label", t("audio_test.item." + item.id + ".label", null, item.id));
    appendElement(row, "span", "check-detail", itemDetailText(item, status, merged.virtual_path));
    appendElement(row, "span", "check-status", t("audio_test.status." + status, null, status));
  });
}

// Start runs the prepared step.
function startPreparedSetupStep() {
  var step = state.fullSetupWizardStep;
  if (step === "microphone_prepare") return runMicrophoneStep();
  if (step === "path_prepare") return runPathStep();
  var key = /^(voice|ptt|panic)_key_prepare$/.exec(step);
  if (key) return runKeyTest(key[1]);
  return Promise.resolve();
}

function continueSetup() {
  var step = state.fullSetupWizardStep;
  if (step === "microphone_passed") showPathPrepare();
  else if (step === "path_passed" || step === "voice_key_passed" || step === "ptt_key_passed") startKeySequence();
  else if (step === "panic_key_passed") showFinalSetupResult();
}

function retrySetupStep() {
  var step = state.fullSetupWizardStep;
  var key = /^(voice|ptt|panic)_key_failed$/.exec(step);
  if (step === "microphone_failed") return runMicrophoneStep();
  if (step === "path_failed" || step === "windows_fix_failed") return runPathStep();
  if (key) return runKeyTest(key[1]);
  if (step === "final") {
    state.fullSetupKeyResults = freshKeyResults();
    state.fullSetupKeysSkipped = false;
    state.fullSetupPanicSkipped = false;
    startKeySequence();
    return Promise.resolve();
  }
  showMicrophonePrepare();
  return Promise.resolve();
}

function backToAudioDevices() {
  var microphoneStep = state.fullSetupWizardStep.indexOf("microphone") === 0 || state.microphoneInvalidCableOutput;
  closeFullSetupCheck();
  byId("audioDevicesSection").scrollIntoView({ block: "start" });
  byId(microphoneStep ? "mixerMicSel" : "mixerOutSel").focus();
}

function chooseClipInFileBrowser() {
  closeFullSetupCheck();
  byId("fileBrowserSection").scrollIntoView({ block: "start" });
  byId("mixerFileSearch").focus();
}

function wireFullSetupCheck() {
  byId("fullSetupTalkMode").addEventListener("change", renderTalkAdvice);
  byId("audioSelfTestStartBtn").addEventListener("click", showMicrophonePrepare);
  byId("fullSetupStepStartBtn").addEventListener("click", startPreparedSetupStep);
  byId("fullSetupStepContinueBtn").addEventListener("click", continueSetup);
  byId("fullSetupStepRetryBtn").addEventListener("click", retrySetupStep);
  byId("fullSetupStepSkipBtn").addEventListener("click", skipKeyTest);
  byId("audioSelfTestFixWindowsInputBtn").addEventListener("click", runWindowsInputFix);
  byId("audioSelfTestUseCableBtn").addEventListener("click", useRecommendedCable);
  byId("audioSelfTestRestoreBtn").addEventListener("click", function () {
    closeFullSetupCheck();
    restoreMySound();
  });
  byId("audioSelfTestBackDevicesBtn").addEventListener("click", backToAudioDevices);
  byId("audioSelfTestChooseClipBtn").addEventListener("click", chooseClipInFileBrowser);
  byId("audioSelfTestCloseBtn").addEventListener("click", closeFullSetupCheck);
}

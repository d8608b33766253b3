// Mixer card: the settings applied to the page, the status answers that keep the page in step
// with the program, "set" requests coalesced while a slider moves, start with consent, stop and
// the monitor switch.

var SET_COALESCE_MS = 100;
var TRANSIENT_STATUS_MS = 2500;
var START_NAVIGATION_DELAY_MS = 900;
var VERIFIED_VOICE_PATH_FIELDS = [
  "verified_game_voice_output_id", "verified_game_voice_output_name",
  "verified_game_voice_input_id", "verified_game_voice_input_name"
];

Object.assign(state, {
  microphoneInvalidCableOutput: false,
  pendingSetTimer: 0,
  pendingSetPayload: {},
  setRequestsInFlight: 0,
  runtimeAlerts: []
});

// Keeps settings the program answered with. A status poll sent before them carries older values,
// which must not overwrite these (see applyStatus).
function keepSettings(settings) {
  state.settings = settings;
  state.settingsRevision += 1;
}

// Takes a settings answer (or a bare settings object) into the page and every control.
function applySettings(answer) {
  var source = answer || {};
  var settings = source.settings && typeof source.settings === "object" ? source.settings : source;
  keepSettings(settings);
  state.microphoneInvalidCableOutput = typeof source.microphone_invalid_cable_output === "boolean"
    ? source.microphone_invalid_cable_output : isCableName(settings.mic_name);
  if (typeof source.loaded_from_disk === "boolean") state.settingsLoadedFromDisk = source.loaded_from_disk;
  if (typeof source.effective_server_port === "number") state.effectiveServerPort = source.effective_server_port;
  state.selectedFilePath = settings.file_path || "";
  applyPlaybackSettings(settings);
  byId("mixerMonitorEnabled").checked = settings.monitor_enabled !== false;
  byId("mixerAudioManagementEnabled").checked = settings.audio_management_enabled === true;
  byId("mixerConvertKeepOriginals").checked = settings.convert_keep_originals !== false;
  byId("mixerConvertOverwriteExisting").checked = settings.convert_overwrite_existing === true;
  byId("mixerServerPort").value = String(settings.server_port || DEFAULT_SERVER_PORT);
  fillLanguageSelect();
  renderSelectedFileState("unknown");
  updatePortHint();
  renderAudioManagementStatus(state.audioManagementStatus);
  return runPageHooks("settings", settings);
}

// The status answer's members that the page mirrors, also changes made by hotkeys, Quick Play or
// the tray. `settingsRevision` is the page's settings revision when the poll was sent.
function applyStatus(mixer, settingsRevision) {
  var settingsCurrent = settingsRevision === state.settingsRevision;
  state.mixerRunning = mixer.running === true;
  if (typeof mixer.server_port === "number") {
    state.effectiveServerPort = mixer.server_port;
    updatePortHint();
  }
  if (settingsCurrent) applyStatusBindings(mixer);

  state.runtimeAlerts = (Array.isArray(mixer.alerts) ? mixer.alerts : []).filter(function (alert) {
    return typeof alert === "string" && alert.trim() !== "";
  });
  var alertLine = byId("mixerAnalyzerAlert");
  alertLine.textContent = state.runtimeAlerts.join(" ");
  alertLine.hidden = state.runtimeAlerts.length === 0;

  if (mixer.audio_management && typeof mixer.audio_management === "object") {
    renderAudioManagementStatus(mixer.audio_management);
  }

  // A run whose devices went away is still on: it plays again by itself once they are back.
  var devicesStopped = state.mixerRunning && mixer.devices_stopped === true;
  byId("mixerDevicesStoppedNotice").hidden = !devicesStopped;
  renderMixerBadge(byId("mixerStatusBadge"), mixerBadgeState(mixer), t);
  byId("mixerStartBtn").disabled = state.mixerRunning || state.mixerStartPending;
  byId("mixerStopBtn").disabled = !state.mixerRunning;
  byId("mixerMonitorEnabled").checked = mixer.monitor_enabled !== false;

  if (state.settings && settingsCurrent) {
    ["file_path", "panic_file_path", "panic_trigger_key", "voice_effects_enabled", "voice_effect_preset",
      "voice_effect_strength", "voice_effect_custom_preset_id", "voice_effect_custom_values",
      "voice_effect_custom_presets"].forEach(function (key) {
      if (Object.prototype.hasOwnProperty.call(mixer, key)) state.settings[key] = mixer[key];
    });
    // A slider the user is moving must not jump back to the value of an older poll.
    if (!state.pendingSetTimer && state.setRequestsInFlight === 0) renderVoiceEffectControls(state.settings);
  }
}

// Merges a partial settings object into the pending "set" and sends it once no change came for
// 100 ms, so a moving slider costs one request.
function scheduleSetPayload(partial) {
  state.settingsRevision += 1;
  Object.assign(state.pendingSetPayload, partial);
  window.clearTimeout(state.pendingSetTimer);
  state.pendingSetTimer = window.setTimeout(sendPendingSet, SET_COALESCE_MS);
}

function takePendingSetPayload() {
  window.clearTimeout(state.pendingSetTimer);
  state.pendingSetTimer = 0;
  var payload = state.pendingSetPayload;
  state.pendingSetPayload = {};
  return payload;
}

function sendPendingSet() {
  var payload = takePendingSetPayload();
  state.setRequestsInFlight += 1;
  return postJson("/api/mixer/set", payload).then(function (result) {
    state.setRequestsInFlight -= 1;
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.settings_update_failed")));
      return false;
    }
    return refreshStatus();
  });
}

function consentIsAsked(settings) {
  return settings.audio_management_enabled !== false && VERIFIED_VOICE_PATH_FIELDS.every(function (field) {
    return typeof settings[field] === "string" && settings[field] !== "";
  });
}

// Resolves to true when the start may go on: the user allowed the switch now or earlier, or no
// switch is planned.
function confirmAudioSwitching() {
  var settings = state.settings || {};
  if (!consentIsAsked(settings)) return Promise.resolve(true);
  var monitor = selectedDevice("mixerMonitorSel");
  if (monitor && isCablePlaybackName(monitor.name)) {
    showMixerStatus(t("audio_management.monitor_is_cable"));
    return Promise.resolve(false);
  }
  if (settings.audio_management_consent_granted === true) return Promise.resolve(true);
  return askAudioConsent(monitor).then(function (allowed) {
    if (!allowed) {
      showMixerStatus(t("audio_management.consent_cancelled"));
      return false;
    }
    return postJson("/api/mixer/settings/save", {
      audio_management_enabled: true,
      audio_management_consent_granted: true
    }).then(function (result) {
      if (!result.payload.ok) {
        showMixerStatus(describeApiFailure(result, t("errors.settings_save_failed")));
        return false;
      }
      applySettings(result.payload);
      return true;
    });
  });
}

function askAudioConsent(monitor) {
  var modal = byId("audioConsentModal");
  byId("audioConsentInput").textContent = t("audio_management.game_input_cable_name");
  byId("audioConsentOutput").textContent = monitor ? monitor.name : t("audio_management.output_unchanged");
  modal.hidden = false;
  byId("audioConsentAllowBtn").focus();
  return new Promise(function (resolve) {
    function answer(allowed) {
      modal.hidden = true;
      byId("audioConsentAllowBtn").removeEventListener("click", allow);
      byId("audioConsentCancelBtn").removeEventListener("click", cancel);
      resolve(allowed);
    }
    function allow() { answer(true); }
    function cancel() { answer(false); }
    byId("audioConsentAllowBtn").addEventListener("click", allow);
    byId("audioConsentCancelBtn").addEventListener("click", cancel);
  });
}

function startMixer() {
  if (state.mixerStartPending) return Promise.resolve(false);
  state.mixerStartPending = true;
  byId("mixerStartBtn").disabled = true;
  function finish(started) {
    state.mixerStartPending = false;
    byId("mixerStartBtn").disabled = state.mixerRunning;
    return started;
  }
  return persistDeviceSelectionSettings(true).then(function (saved) {
    if (!saved) {
      byId("mixerMicSel").focus();
      return false;
    }
    return confirmAudioSwitching().then(function (allowed) {
      if (!allowed) return false;
      showMixerStatus(t("main.mixer.starting"));
      return postJson("/api/mixer/start", {
        mic_device: selectedDeviceIndex("mixerMicSel"),
        out_device: selectedDeviceIndex("mixerOutSel"),
        monitor_device: selectedDeviceIndex("mixerMonitorSel"),
        monitor_enabled: byId("mixerMonitorEnabled").checked
      }).then(handleStartAnswer);
    });
  }).then(finish, function (error) {
    finish(false);
    throw error;
  });
}

function handleStartAnswer(result) {
  var payload = result.payload;
  if (!payload.ok) {
    if (payload.setup_required === true || payload.code === "audio_setup_required") {
      // The refusal names what is missing; only a path never verified needs the check from the start.
      var reason = (payload.details && payload.details.reason) || "verified_cable_required";
      if (reason === "vb_cable_missing") return showMissingCable();
      var firstCheck = reason === "verified_cable_required";
      var text = firstCheck ? t("errors.audio_setup_required") : t("errors." + reason, null, t("errors.audio_setup_required"));
      showMixerStatus(text);
      openFullSetupCheck({ title: t(firstCheck ? "audio_test.setup_required_title" : "audio_test.result_not_ready"), summary: text });
    } else if (payload.code === "audio_session_active" || payload.code === "unsafe_audio_snapshot") {
      showMixerStatus(t("errors.audio_session_active"));
      loadAudioManagementStatus();
    } else {
      showMixerStatus(describeApiFailure(result, t("errors.mixer_start_failed")));
    }
    return false;
  }
  state.mixerRunning = true;
  var devicesReloaded = Promise.resolve();
  if (payload.settings) {
    applySettings(payload);
    devicesReloaded = loadDevices({
      mic_index: payload.mic_index, out_index: payload.out_index, monitor_index: payload.monitor_index
    });
  }
  var messages = Array.isArray(payload.messages) ? payload.messages : [];
  showMixerStatus([t("main.start_success")].concat(messages).join(" "));
  return Promise.all([devicesReloaded, refreshStatus(), loadAudioManagementStatus()]).then(function () {
    // The run is on, but the trigger key would play nothing: the page stays, with its file list,
    // and says so until another clip is chosen.
    if (clipCannotPlay(selectedClipState())) {
      showMixerStatus([mainStatusText()].concat(messages).join(" "), 0, "clip");
      return true;
    }
    window.setTimeout(function () { window.location.assign("/play"); }, START_NAVIGATION_DELAY_MS);
    return true;
  });
}

// No setup check helps without the cable: the devices as they are now, and the cable named.
function showMissingCable() {
  return loadDevices(currentDeviceChoice()).then(function (devices) {
    var key = (devices && cableNoticeKey(devices)) || "audio.vbcable_missing";
    setDeviceNotice(key, "warn", true);
    showMixerStatus(t(key));
    return false;
  });
}

function stopMixer() {
  showMixerStatus(t("main.mixer.stopping"));
  return postJson("/api/mixer/stop").then(function (result) {
    var failure = result.payload.ok ? "" : describeApiFailure(result, t("errors.mixer_stop_failed"));
    forgetBrowserPtt();
    return Promise.all([refreshStatus(), loadAudioManagementStatus()]).then(function () {
      if (failure) showMixerStatus(failure);
      else showMainStatusText();
      return !failure;
    });
  });
}

// A status poll that got no answer: until the program answers again the page does not know
// whether the mixer runs or what Windows plays to, and claims neither.
function showStatusUnanswered() {
  renderMixerBadge(byId("mixerStatusBadge"), mixerBadgeState(null), t);
  state.audioManagementStatus = null;
  renderAudioManagementStatus();
}

function setMonitorEnabled(enabled) {
  var checkbox = byId("mixerMonitorEnabled");
  return postJson("/api/mixer/monitor_enable", { enabled: enabled }).then(function (result) {
    if (!result.payload.ok) {
      checkbox.checked = !enabled;
      showMixerStatus(describeApiFailure(result, t("errors.monitor_update_failed")));
      return false;
    }
    return refreshStatus();
  });
}

function wireMixerCard() {
  onPageHook("status", applyStatus);
  byId("mixerStartBtn").addEventListener("click", startMixer);
  byId("mixerStopBtn").addEventListener("click", stopMixer);
  byId("mixerSaveSettings").addEventListener("click", saveSettings);
  byId("mixerMonitorEnabled").addEventListener("change", function (event) {
    setMonitorEnabled(event.target.checked);
  });
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      renderMixerBadge(byId("mixerStatusBadge"), byId("mixerStatusBadge").dataset.state, t);
      if (byId("mixerSelectedFileState").dataset.state) renderSelectedFileState(byId("mixerSelectedFileState").dataset.state);
      renderMixerStatusLine();
    });
  }
}

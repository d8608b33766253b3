// Playback Controls: the three key buttons with key capture, the panic sound, the volume sliders
// and switches, and push-to-talk while the page itself has the keyboard focus.

var KEY_CAPTURE_POLL_MS = 150;
var MOUSE_BUTTON_LABELS = {
  mouse_middle: "playback.mouse_middle",
  mouse_x1: "playback.mouse_button_4",
  mouse_x2: "playback.mouse_button_5"
};
var KEY_BUTTONS = { ptt: "mixerHotkeyDisplay", voice: "mixerVoiceKeyDisplay", panic: "mixerPanicKeyDisplay" };
var BINDING_FIELDS = { ptt: "pttBinding", voice: "voiceBinding", panic: "panicBinding" };
var STATUS_BINDING_KEYS = { ptt: "ptt_trigger_key", voice: "voice_chat_key", panic: "panic_trigger_key" };

Object.assign(state, {
  pttBinding: null,
  voiceBinding: null,
  panicBinding: null,
  panicFilePath: "",
  activeCapture: null,
  captureTimer: 0,
  browsePanicFilePending: false
});

function keyLabel(binding) {
  if (!binding) return "";
  if (MOUSE_BUTTON_LABELS[binding.id]) return t(MOUSE_BUTTON_LABELS[binding.id]);
  return binding.label || "";
}

function renderKeyButtons() {
  Object.keys(KEY_BUTTONS).forEach(function (target) {
    var button = byId(KEY_BUTTONS[target]);
    var pending = Boolean(state.activeCapture) && state.activeCapture.target === target;
    var label = keyLabel(state[BINDING_FIELDS[target]]);
    button.classList.toggle("capture-pending", pending);
    button.textContent = pending ? t("playback.capture_pending")
      : (label || t(target === "panic" ? "playback.panic_unbound" : "playback.capture_click"));
  });
}

function applyStatusBindings(mixer) {
  ["ptt", "voice"].forEach(function (target) {
    var binding = mixer[STATUS_BINDING_KEYS[target]];
    if (binding && typeof binding === "object") state[BINDING_FIELDS[target]] = binding;
  });
  if (Object.prototype.hasOwnProperty.call(mixer, "panic_trigger_key")) state.panicBinding = mixer.panic_trigger_key || null;
  if (typeof mixer.panic_file_path === "string") state.panicFilePath = mixer.panic_file_path;
  renderKeyButtons();
  renderPanicSound();
}

function applyPlaybackSettings(settings) {
  state.pttBinding = settings.ptt_trigger_key || null;
  state.voiceBinding = settings.voice_chat_key || null;
  state.panicBinding = settings.panic_trigger_key || null;
  state.panicFilePath = settings.panic_file_path || "";
  renderKeyButtons();
  renderPanicSound();
  setVolumeSlider("mixerMicVol", settings.mic_volume);
  setVolumeSlider("mixerSfxVol", settings.sfx_volume);
  byId("mixerHoldK").checked = settings.hold_voice_key !== false;
  byId("mixerLoop").checked = settings.loop === true;
  renderVoiceEffectControls(settings);
}

function startKeyCapture(target) {
  if (state.activeCapture) return Promise.resolve(false);
  return postJson("/api/mixer/keycapture/start", { target: target }).then(function (result) {
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.key_capture_start_failed")));
      return false;
    }
    state.activeCapture = { id: result.payload.capture_id, target: target };
    renderKeyButtons();
    state.captureTimer = window.setTimeout(pollKeyCapture, KEY_CAPTURE_POLL_MS);
    return true;
  });
}

function endKeyCapture() {
  window.clearTimeout(state.captureTimer);
  state.activeCapture = null;
  renderKeyButtons();
  return refreshStatus();
}

function pollKeyCapture() {
  var capture = state.activeCapture;
  if (!capture) return Promise.resolve();
  return postJson("/api/mixer/keycapture/status", { capture_id: capture.id }).then(function (result) {
    if (state.activeCapture !== capture) return;
    var payload = result.payload;
    if (!payload.ok) return endKeyCapture();
    if (payload.status === "waiting") {
      state.captureTimer = window.setTimeout(pollKeyCapture, KEY_CAPTURE_POLL_MS);
      return;
    }
    if (payload.status === "captured" && payload.binding) {
      state[BINDING_FIELDS[capture.target]] = payload.binding;
      showMixerStatus(t("playback.key_saved"), TRANSIENT_STATUS_MS);
    } else if (payload.status === "rejected") {
      showMixerStatus(payload.message || t("playback.mouse_reserved"));
    }
    return endKeyCapture();
  });
}

// Saves one change made by a panic control; the answer gives the binding and sound in force.
function savePanicSetting(change, successText) {
  return postJson("/api/mixer/settings/save", change).then(function (result) {
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.settings_save_failed")));
      return false;
    }
    var settings = result.payload.settings || {};
    keepSettings(settings);
    state.panicBinding = settings.panic_trigger_key || null;
    state.panicFilePath = settings.panic_file_path || "";
    renderKeyButtons();
    renderPanicSound();
    showMixerStatus(successText, TRANSIENT_STATUS_MS);
    return true;
  });
}

function clearPanicKey() {
  state.panicBinding = null;
  renderKeyButtons();
  return savePanicSetting({ panic_trigger_key: null }, t("server.settings_saved"));
}

function fileOfPath(path) {
  return (Array.isArray(state.files) ? state.files : []).filter(function (file) { return file.path === path; })[0] || null;
}

function lastPathPart(path) {
  var parts = String(path).split(/[\\/]/);
  return parts[parts.length - 1] || String(path);
}

// Also called by the file list when its files change.
function renderPanicSound() {
  var path = state.panicFilePath;
  var display = byId("mixerPanicFileDisplay");
  var file = path ? fileOfPath(path) : null;
  display.textContent = !path ? t("playback.panic_no_sound")
    : (file ? (file.relative_path || file.name || lastPathPart(path)) : lastPathPart(path));
  if (path) display.dataset.tooltip = path;
  else display.removeAttribute("data-tooltip");
  byId("mixerPanicFileClear").disabled = !path;

  var select = byId("mixerPanicFileSel");
  select.textContent = "";
  addOption(select, "", "");
  (Array.isArray(state.files) ? state.files : []).forEach(function (entry) {
    addOption(select, entry.path, entry.relative_path || entry.name);
  });
  if (path && !file) addOption(select, path, t("playback.panic_missing_file", { name: lastPathPart(path) }));
  select.value = path;
}

function setPanicSound(path, successText) {
  return savePanicSetting({ panic_file_path: path }, successText);
}

function browsePanicSound() {
  if (state.browsePanicFilePending) return Promise.resolve(false);
  state.browsePanicFilePending = true;
  var button = byId("mixerPanicFileBrowse");
  button.disabled = true;
  showMixerStatus(t("playback.panic_sound_preparing"));
  return postJson("/api/mixer/panic/browse-file").then(function (result) {
    var payload = result.payload;
    if (!payload.ok) {
      showMixerStatus(payload.code === "panic_sound_prepare_failed"
        ? t("playback.panic_sound_prepare_failed") + " (" + payload.code + ")"
        : describeApiFailure(result, t("errors.panic_file_picker_failed")));
      return false;
    }
    if (payload.cancelled) {
      showMixerStatus(t("playback.panic_sound_cancelled"), TRANSIENT_STATUS_MS);
      return false;
    }
    if (!payload.selected_path) return false;
    var successText = t(payload.prepared === true ? "playback.panic_sound_prepared" : "playback.panic_sound_selected");
    return runPageHooks("files").then(function () {
      return setPanicSound(payload.selected_path, successText);
    });
  }).then(function (done) {
    state.browsePanicFilePending = false;
    button.disabled = false;
    return done;
  });
}

function setVolumeSlider(id, volume) {
  var value = typeof volume === "number" && Number.isFinite(volume) ? Math.round(volume * 100) : 100;
  byId(id).value = String(value);
  byId(id + "Label").textContent = byId(id).value + "%";
}

function wireVolumeSlider(id, member) {
  byId(id).addEventListener("input", function () {
    byId(id + "Label").textContent = byId(id).value + "%";
    var change = {};
    change[member] = Number(byId(id).value) / 100;
    scheduleSetPayload(change);
  });
}

// A key matches by its code, or by its key at the binding's location (0 means any).
function bindingMatchesEvent(binding, event) {
  if (!binding) return false;
  if (binding.browser_code && binding.browser_code === event.code) return true;
  return Boolean(binding.browser_key) && binding.browser_key === event.key &&
    (!binding.location || binding.location === event.location);
}

function isTypingTarget(target) {
  if (!target || target.nodeType !== 1) return false;
  var tag = target.tagName;
  return tag === "INPUT" || tag === "TEXTAREA" || tag === "SELECT" || target.isContentEditable;
}

function onPageKeyDown(event) {
  if (!state.mixerRunning || state.browserPttActive || state.activeCapture || isTypingTarget(event.target)) return;
  if (!bindingMatchesEvent(state.pttBinding, event)) return;
  event.preventDefault();
  state.browserPttActive = true;
  postJson("/api/mixer/ptt/start").then(function (result) {
    if (result.payload.ok) return;
    state.browserPttActive = false;
    showMixerStatus(describeApiFailure(result, t("errors.ptt_start_failed")));
  });
}

function onPageKeyUp(event) {
  if (state.browserPttActive && bindingMatchesEvent(state.pttBinding, event)) stopBrowserPtt();
}

// Sent without waiting and without retry: the page may be going away.
function stopBrowserPtt() {
  state.browserPttActive = false;
  fetch("/api/mixer/ptt/stop", {
    method: "POST",
    keepalive: true,
    credentials: "same-origin",
    headers: { "Content-Type": "application/json" },
    body: "{}"
  }).catch(function () {});
}

function forgetBrowserPtt() {
  state.browserPttActive = false;
}

function onPageUnload() {
  if (state.browserPttActive) {
    state.browserPttActive = false;
    var sent = typeof navigator.sendBeacon === "function" &&
      navigator.sendBeacon("/api/mixer/ptt/stop", new Blob(["{}"], { type: "application/json" }));
    if (!sent) stopBrowserPtt();
  }
  releaseVoiceTestAudio();
}

function wirePlaybackControls() {
  Object.keys(KEY_BUTTONS).forEach(function (target) {
    byId(KEY_BUTTONS[target]).addEventListener("click", function () { startKeyCapture(target); });
  });
  byId("mixerPanicKeyClear").addEventListener("click", clearPanicKey);
  byId("mixerPanicFileBrowse").addEventListener("click", browsePanicSound);
  byId("mixerPanicFileClear").addEventListener("click", function () {
    setPanicSound("", t("playback.panic_sound_cleared"));
  });
  byId("mixerPanicFileSel").addEventListener("change", function (event) {
    setPanicSound(event.target.value, t("playback.panic_sound_selected"));
  });
  wireVolumeSlider("mixerMicVol", "mic_volume");
  wireVolumeSlider("mixerSfxVol", "sfx_volume");
  byId("mixerHoldK").addEventListener("change", function (event) {
    scheduleSetPayload({ hold_voice_key: event.target.checked });
  });
  byId("mixerLoop").addEventListener("change", function (event) {
    scheduleSetPayload({ loop: event.target.checked });
  });
  document.addEventListener("keydown", onPageKeyDown);
  document.addEventListener("keyup", onPageKeyUp);
  window.addEventListener("blur", function () { if (state.browserPttActive) stopBrowserPtt(); });
  document.addEventListener("visibilitychange", function () {
    if (document.hidden && state.browserPttActive) stopBrowserPtt();
  });
  window.addEventListener("pagehide", onPageUnload);
  if (window.ZennicI18n) window.ZennicI18n.onChange(function () { renderKeyButtons(); renderPanicSound(); });
}

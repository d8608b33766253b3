// Server Settings card and Save Settings: the port with its hint, the language, and the reset to
// defaults.

var DEFAULT_SERVER_PORT = 5000;
var MIN_SERVER_PORT = 1024;
var MAX_SERVER_PORT = 65535;
var RESET_MESSAGE_MS = 3500;

// A port the server can bind: rounded into 1024..65535; anything that is not a number is 5000.
function normalizedServerPort(text) {
  var raw = String(text == null ? "" : text).trim();
  var value = raw === "" ? NaN : Number(raw);
  if (!Number.isFinite(value)) return DEFAULT_SERVER_PORT;
  return Math.min(MAX_SERVER_PORT, Math.max(MIN_SERVER_PORT, Math.round(value)));
}

function effectiveServerPort() {
  if (state.effectiveServerPort >= MIN_SERVER_PORT) return state.effectiveServerPort;
  var pagePort = Number(window.location.port);
  return pagePort >= MIN_SERVER_PORT ? pagePort : DEFAULT_SERVER_PORT;
}

// The port the settings held when the page first read them. A different port configured since
// was saved (or reset) here and waits for a restart; only the first can have been found taken.
Object.assign(state, { serverPortAtLoad: null });

function updatePortHint() {
  var effective = effectiveServerPort();
  var saved = state.settings && typeof state.settings.server_port === "number";
  if (saved && state.serverPortAtLoad === null) state.serverPortAtLoad = state.settings.server_port;
  var configured = saved ? state.settings.server_port : normalizedServerPort(byId("mixerServerPort").value);
  var key = "server.port_hint";
  if (configured !== effective) {
    key = configured === state.serverPortAtLoad ? "server.port_hint_fallback" : "server.port_hint_restart";
  }
  byId("mixerServerPortHint").textContent = t(key, { effective_port: effective, configured_port: configured });
}

function bindingOrNull(binding) {
  return binding && typeof binding === "object" ? binding : null;
}

function saveSettings() {
  var portField = byId("mixerServerPort");
  var port = normalizedServerPort(portField.value);
  portField.value = String(port);
  var microphone = selectedDevice("mixerMicSel");
  if ((microphone && isCableName(microphone.name)) || (state.microphoneInvalidCableOutput && !microphone)) {
    return Promise.resolve(refuseCableMicrophone());
  }
  var output = selectedDevice("mixerOutSel");
  var monitor = selectedDevice("mixerMonitorSel");
  var settings = state.settings || {};
  var body = Object.assign({
    server_port: port,
    ui_language: state.uiLanguage,
    mic_name: microphone ? microphone.name : "",
    out_name: output ? output.name : "",
    monitor_name: monitor ? monitor.name : "",
    monitor_enabled: byId("mixerMonitorEnabled").checked,
    audio_management_enabled: byId("mixerAudioManagementEnabled").checked,
    audio_management_consent_granted: settings.audio_management_consent_granted === true,
    mic_volume: Number(byId("mixerMicVol").value) / 100,
    sfx_volume: Number(byId("mixerSfxVol").value) / 100,
    hold_voice_key: byId("mixerHoldK").checked,
    loop: byId("mixerLoop").checked,
    file_path: state.selectedFilePath,
    ptt_trigger_key: bindingOrNull(state.pttBinding),
    voice_chat_key: bindingOrNull(state.voiceBinding),
    panic_trigger_key: bindingOrNull(state.panicBinding),
    panic_file_path: state.panicFilePath,
    convert_keep_originals: byId("mixerConvertKeepOriginals").checked,
    convert_overwrite_existing: byId("mixerConvertOverwriteExisting").checked
  }, voiceEffectMembers());
  showMixerStatus(t("server.saving"));
  return postJson("/api/mixer/settings/save", body).then(function (result) {
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.settings_save_failed")));
      return false;
    }
    applySettings(result.payload);
    state.settingsLoadedFromDisk = true;
    var saved = state.settings.server_port;
    showMixerStatus(saved === effectiveServerPort() ? t("server.settings_saved")
      : t("server.settings_saved_restart", { port: saved }), TRANSIENT_STATUS_MS);
    return true;
  });
}

function resetToDefaults() {
  if (!window.confirm(t("server.reset_confirm"))) return Promise.resolve(false);
  showMixerStatus(t("server.resetting"));
  return postJson("/api/mixer/settings/reset").then(function (result) {
    var payload = result.payload;
    if (!payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.settings_reset_failed")));
      return false;
    }
    applySettings(payload);
    state.settingsLoadedFromDisk = false;
    state.selectedFilePath = "";
    return loadDevices({ mic_index: payload.mic_index, out_index: payload.out_index, monitor_index: payload.monitor_index })
      .then(applyFirstRunVbCableDefaults)
      .then(loadAudioManagementStatus)
      .then(function () { return runPageHooks("reset"); })
      .then(refreshStatus)
      .then(function () {
        showMixerStatus(payload.message || t("server.defaults_restored"), RESET_MESSAGE_MS);
        return true;
      });
  });
}

function chooseLanguage(code) {
  return switchLanguage(code).then(function () { return saveSettings(); });
}

function wireServerSettings() {
  byId("mixerServerPort").addEventListener("input", updatePortHint);
  byId("mixerResetDefaultsBtn").addEventListener("click", resetToDefaults);
  if (window.ZennicI18n) window.ZennicI18n.onChange(updatePortHint);
}

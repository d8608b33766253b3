// Audio Devices card: the three device lists, the cable and monitor chosen on a first run, the
// device notice, and the device choice saved shortly after each change. A chosen device that is
// missing stays the choice, shown as not connected, so that it is used again once it is back.

var DEVICE_SAVE_DELAY_MS = 200;
var VB_CABLE_NOTICE_MS = 3500;
var VB_CABLE_PLAYBACK_NAME = "CABLE Input (VB-Audio Virtual Cable)";
var MISSING_DEVICE_VALUE = "missing";
var MONITOR_NAME_SCORES = [
  [40, ["headphone", "headphones", "headset", "headsets", "earphone", "earphones", "earbud", "earbuds"]],
  [30, ["speaker", "speakers", "soundbar", "realtek", "razer", "logitech", "steelseries", "hyperx", "corsair",
    "sony", "bose"]]
];

Object.assign(state, {
  devices: null,
  deviceNotice: null,
  pendingDeviceSaveTimer: 0
});

// Device names are compared lower-cased without any white space.
function deviceNameKey(name) {
  return String(name || "").toLowerCase().replace(/\s+/g, "");
}

function isCablePlaybackName(name) {
  return deviceNameKey(name).indexOf("cablein") === 0;
}

function isCableRecordingName(name) {
  return deviceNameKey(name).indexOf("cableout") === 0;
}

function isCableName(name) {
  return isCablePlaybackName(name) || isCableRecordingName(name);
}

function preferredCablePlayback(outputs) {
  var wanted = deviceNameKey(VB_CABLE_PLAYBACK_NAME);
  return outputs.filter(function (device) { return deviceNameKey(device.name) === wanted; })[0]
    || outputs.filter(function (device) { return isCablePlaybackName(device.name); })[0]
    || null;
}

function monitorScore(name) {
  var text = String(name || "").toLowerCase();
  if (text.trim() === "" || isCableName(name)) return -1;
  for (var i = 0; i < MONITOR_NAME_SCORES.length; i += 1) {
    var words = MONITOR_NAME_SCORES[i][1];
    for (var j = 0; j < words.length; j += 1) {
      if (text.indexOf(words[j]) !== -1) return MONITOR_NAME_SCORES[i][0];
    }
  }
  return 10;
}

// The output of highest score other than the cable; a tie goes to the lower index.
function preferredMonitor(outputs, cable) {
  var best = null;
  var bestScore = -1;
  outputs.forEach(function (device) {
    if (cable && device.index === cable.index) return;
    var score = monitorScore(device.name);
    if (score < 0) return;
    if (score > bestScore || (score === bestScore && device.index < best.index)) {
      best = device;
      bestScore = score;
    }
  });
  return best;
}

// The chosen option as {index, name}; a missing device has no index.
function selectedDevice(selectId) {
  var select = byId(selectId);
  var option = select.options[select.selectedIndex];
  if (!option || option.value === "") return null;
  var missing = option.value === MISSING_DEVICE_VALUE;
  return { index: missing ? null : Number(option.value), name: option.dataset.deviceName };
}

function selectedDeviceIndex(selectId) {
  var device = selectedDevice(selectId);
  return device ? device.index : null;
}

function addOption(select, value, text, deviceName) {
  var option = document.createElement("option");
  option.value = value;
  option.textContent = text;
  if (deviceName !== undefined) option.dataset.deviceName = deviceName;
  select.appendChild(option);
  return option;
}

// The device wanted by index while it still has the wanted name (indices shift when devices come
// and go), else the first with that name.
function findWantedDevice(devices, index, name) {
  var key = deviceNameKey(name);
  var atIndex = devices.filter(function (device) { return device.index === index; })[0];
  if (atIndex && (key === "" || deviceNameKey(atIndex.name) === key)) return atIndex;
  if (key === "") return null;
  return devices.filter(function (device) { return deviceNameKey(device.name) === key; })[0] || null;
}

// wanted: {index, name}. A wanted name that no device has is added as a missing option and chosen.
function fillDeviceSelect(select, devices, wanted, blankText, emptyText) {
  select.textContent = "";
  if (blankText !== null) addOption(select, "", blankText);
  devices.forEach(function (device) { addOption(select, String(device.index), device.name, device.name); });
  var found = findWantedDevice(devices, wanted.index, wanted.name);
  if (found) {
    select.value = String(found.index);
  } else if (String(wanted.name || "").trim() !== "") {
    addOption(select, MISSING_DEVICE_VALUE, t("audio.device_missing", { name: wanted.name }), wanted.name);
    select.value = MISSING_DEVICE_VALUE;
  }
  if (select.options.length === 0) addOption(select, "", emptyText);
  if (select.selectedIndex < 0) select.selectedIndex = 0;
}

function setDeviceNotice(key, kind, withGuideLink) {
  state.deviceNotice = key ? { key: key, kind: kind, guideLink: withGuideLink } : null;
  renderDeviceNotice();
}

function renderDeviceNotice() {
  var notice = state.deviceNotice;
  var box = byId("mixerDeviceNotice");
  box.hidden = !notice;
  if (!notice) return;
  box.className = "notice notice-" + notice.kind;
  byId("mixerDeviceNoticeText").textContent = t(notice.key);
  byId("mixerDeviceNoticeGuideLink").hidden = !notice.guideLink;
}

function renderMissingDeviceOptions() {
  ["mixerMicSel", "mixerOutSel", "mixerMonitorSel"].forEach(function (id) {
    Array.prototype.forEach.call(byId(id).options, function (option) {
      if (option.value === MISSING_DEVICE_VALUE) {
        option.textContent = t("audio.device_missing", { name: option.dataset.deviceName });
      }
    });
  });
}

function microphoneNoticeShown() {
  return Boolean(state.deviceNotice) && state.deviceNotice.key === "audio_test.next_step.select_microphone";
}

// The device choice to show: the preferred indices and names (by default the saved names).
// Resolves to the device answer, or null when the list could not be read.
function loadDevices(preferred) {
  var settings = state.settings || {};
  var wanted = Object.assign({
    mic_name: settings.mic_name, out_name: settings.out_name, monitor_name: settings.monitor_name
  }, preferred);
  return postJson("/api/mixer/devices").then(function (result) {
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.devices_load_failed")));
      return null;
    }
    var devices = {
      inputs: Array.isArray(result.payload.inputs) ? result.payload.inputs : [],
      outputs: Array.isArray(result.payload.outputs) ? result.payload.outputs : [],
      vb_cable_detected: result.payload.vb_cable_detected === true
    };
    state.devices = devices;
    var microphones = devices.inputs.filter(function (device) { return !isCableName(device.name); });
    var micSelect = byId("mixerMicSel");
    if (state.microphoneInvalidCableOutput) {
      fillDeviceSelect(micSelect, microphones, {}, t("audio_test.next_step.select_microphone"), "");
      micSelect.value = "";
      setDeviceNotice("audio_test.next_step.select_microphone", "danger", false);
    } else {
      fillDeviceSelect(micSelect, microphones, { index: wanted.mic_index, name: wanted.mic_name }, null,
        t("audio.no_inputs"));
    }
    fillDeviceSelect(byId("mixerOutSel"), devices.outputs, { index: wanted.out_index, name: wanted.out_name }, null,
      t("audio.no_outputs"));
    fillDeviceSelect(byId("mixerMonitorSel"), devices.outputs,
      { index: wanted.monitor_index, name: wanted.monitor_name }, t("common.none_option"), "");
    return devices;
  });
}

function currentDeviceChoice() {
  var choice = {};
  [["mic", "mixerMicSel"], ["out", "mixerOutSel"], ["monitor", "mixerMonitorSel"]].forEach(function (pair) {
    var device = selectedDevice(pair[1]);
    choice[pair[0] + "_index"] = device ? device.index : null;
    choice[pair[0] + "_name"] = device ? device.name : "";
  });
  return choice;
}

// The notice for a machine without the cable's playback side; empty when it is there.
function cableNoticeKey(devices) {
  if (preferredCablePlayback(devices.outputs)) return "";
  var anyCable = devices.vb_cable_detected || devices.inputs.concat(devices.outputs).some(function (device) {
    return isCableName(device.name);
  });
  return anyCable ? "audio.vbcable_output_missing" : "audio.vbcable_missing";
}

// Whenever no cable exists the notice says so; the microphone notice goes first.
function showCableNotice(devices) {
  if (microphoneNoticeShown()) return;
  var key = cableNoticeKey(devices);
  setDeviceNotice(key || null, "warn", true);
}

// On a first run (no settings saved yet) the cable becomes "Send to game" and the most likely
// headphones the monitor.
function applyFirstRunVbCableDefaults(devices) {
  if (!devices) return Promise.resolve();
  var cable = preferredCablePlayback(devices.outputs);
  if (state.settingsLoadedFromDisk || !cable) {
    if (!state.settingsLoadedFromDisk) chooseFirstRunMonitor(devices, cable);
    showCableNotice(devices);
    return Promise.resolve();
  }
  chooseFirstRunMonitor(devices, cable);
  byId("mixerOutSel").value = String(cable.index);
  return persistDeviceSelectionSettings(true).then(function (saved) {
    if (!saved) return;
    setDeviceNotice("audio.vbcable_detected", "ok", false);
    showMixerStatus(t("audio.vbcable_detected"), VB_CABLE_NOTICE_MS);
  });
}

function chooseFirstRunMonitor(devices, cable) {
  var monitor = preferredMonitor(devices.outputs, cable);
  if (!monitor) return;
  byId("mixerMonitorSel").value = String(monitor.index);
  byId("mixerMonitorEnabled").checked = true;
}

function refuseCableMicrophone() {
  showMixerStatus(t("audio_test.next_step.select_microphone"));
  setDeviceNotice("audio_test.next_step.select_microphone", "danger", false);
  return false;
}

// Saves the three device choices; resolves to false when nothing was saved.
function persistDeviceSelectionSettings(quiet) {
  window.clearTimeout(state.pendingDeviceSaveTimer);
  state.pendingDeviceSaveTimer = 0;
  var microphone = selectedDevice("mixerMicSel");
  if ((microphone && isCableName(microphone.name)) || (state.microphoneInvalidCableOutput && !microphone)) {
    return Promise.resolve(refuseCableMicrophone());
  }
  var output = selectedDevice("mixerOutSel");
  var monitor = selectedDevice("mixerMonitorSel");
  return postJson("/api/mixer/settings/save", {
    mic_name: microphone ? microphone.name : "",
    out_name: output ? output.name : "",
    monitor_name: monitor ? monitor.name : "",
    monitor_enabled: byId("mixerMonitorEnabled").checked
  }).then(function (result) {
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.devices_save_failed")));
      return false;
    }
    keepSettings(result.payload.settings || state.settings);
    state.settingsLoadedFromDisk = true;
    if (!quiet) showMixerStatus(t("audio.settings_saved"), TRANSIENT_STATUS_MS);
    return true;
  });
}

function scheduleDeviceSave() {
  window.clearTimeout(state.pendingDeviceSaveTimer);
  state.pendingDeviceSaveTimer = window.setTimeout(function () {
    persistDeviceSelectionSettings(true);
  }, DEVICE_SAVE_DELAY_MS);
}

function refreshDevices() {
  showMixerStatus(t("audio.refreshing"));
  return loadDevices(currentDeviceChoice()).then(function (devices) {
    if (!devices) return;
    showMixerStatus(t("audio.devices_refreshed"), TRANSIENT_STATUS_MS);
    return applyFirstRunVbCableDefaults(devices);
  });
}

function wireAudioDevices() {
  byId("mixerMicSel").addEventListener("change", function () {
    state.microphoneInvalidCableOutput = false;
    if (microphoneNoticeShown()) {
      setDeviceNotice(null);
      if (state.devices) showCableNotice(state.devices);
    }
    scheduleDeviceSave();
  });
  byId("mixerOutSel").addEventListener("change", function () {
    if (state.deviceNotice && state.deviceNotice.kind !== "warn") setDeviceNotice(null);
    scheduleDeviceSave();
  });
  byId("mixerMonitorSel").addEventListener("change", scheduleDeviceSave);
  byId("mixerDevRefresh").addEventListener("click", refreshDevices);
  byId("mixerAudioDevicesSelfTestBtn").addEventListener("click", function () { openFullSetupCheck(); });
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      renderDeviceNotice();
      renderMissingDeviceOptions();
    });
  }
}

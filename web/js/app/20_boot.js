// Main page state, boot card, fatal error card and the boot sequence.

var state = {
  uiLanguage: "en",
  settings: null,
  settingsLoadedFromDisk: false,
  effectiveServerPort: 5000,
  mixerRunning: false,
  mixerStartPending: false,
  browserPttActive: false,
  statusTimer: 0
};

function byId(id) {
  return document.getElementById(id);
}

function setBootState(label, message, badgeClass) {
  var badge = byId("bootBadge");
  badge.textContent = label;
  badge.className = badgeClass || "badge badge-warn";
  byId("bootMessage").textContent = message;
}

function showFatalError(step, detailText) {
  var detail = detailText == null || detailText === "" ? t("errors.boot_unknown") : String(detailText);
  byId("bootErrorTitle").textContent = step;
  byId("bootErrorText").textContent = cutDisplayText(detail);
  var badge = byId("bootErrorBadge");
  badge.textContent = t("common.error");
  badge.className = "badge badge-error";
  byId("bootErrorBox").hidden = false;
}

function clearFatalError() {
  byId("bootErrorBox").hidden = true;
}

function errorMessage(error, fallback) {
  return error && error.message ? error.message : fallback;
}

function fillLanguageSelect() {
  var select = byId("mixerUiLanguageSel");
  var current = window.ZennicI18n ? window.ZennicI18n.getCurrentLanguage() : "en";
  select.textContent = "";
  (window.ZennicI18n ? window.ZennicI18n.getSupportedLanguages() : []).forEach(function (language) {
    var option = document.createElement("option");
    option.value = language.code;
    option.textContent = language.name;
    option.selected = language.code === current;
    select.appendChild(option);
  });
}

function switchLanguage(code) {
  if (!window.ZennicI18n) return Promise.resolve("en");
  return window.ZennicI18n.setLanguage(code, { persist: true }).then(function (applied) {
    state.uiLanguage = applied;
    fillLanguageSelect();
    return applied;
  });
}

function initializeMixerApp() {
  var answer;
  return postJson("/api/mixer/settings/load").then(function (result) {
    if (!result.payload.ok) throw new Error(describeApiFailure(result, t("errors.settings_load_failed")));
    answer = result.payload;
    state.settings = answer.settings || {};
    if (state.settings.ui_language) return switchLanguage(state.settings.ui_language);
  }).then(function () {
    // Every area takes the settings; the mixer side then lists the devices with the first-run
    // cable choice and reads the Windows audio status.
    return applySettings(answer);
  }).then(function () {
    return loadDevices({ mic_index: answer.mic_index, out_index: answer.out_index, monitor_index: answer.monitor_index });
  }).then(applyFirstRunVbCableDefaults)
    .then(loadAudioManagementStatus)
    // Files side: the active profile's preparation in the background, and its clips.
    .then(function () {
      triggerAutoPrepareForActiveProfile();
      return loadFiles();
    })
    .then(refreshStatus)
    .then(startStatusTimer);
}

function reportScriptFailure(step, message, lines, stack) {
  if (stack) lines.push("stack:", String(stack).slice(0, DISPLAY_TEXT_LIMIT));
  setBootState(t("common.error"), message, "badge badge-error");
  showFatalError(step, lines.join("\n"));
}

window.addEventListener("error", function (event) {
  var message = event.message || "Unhandled script error";
  reportScriptFailure("javascript_runtime", message, [
    "step: javascript_runtime",
    "message: " + message,
    "source: " + (event.filename || window.location.href),
    "line: " + (event.lineno || 0),
    "column: " + (event.colno || 0)
  ], event.error && event.error.stack);
});

window.addEventListener("unhandledrejection", function (event) {
  var reason = event.reason;
  var message = reason && reason.message ? reason.message : String(reason);
  reportScriptFailure("unhandled_promise", message, [
    "step: unhandled_promise",
    "message: " + message
  ], reason && reason.stack);
});

function bootMainPage() {
  // Quick Play's "Run Full Setup Check" link comes to the Audio Devices card's anchor, its Start
  // Mixer link to "#start": the start runs here, with its consent and set-up questions.
  var setupCheckAsked = window.location.hash === "#audioDevicesSection";
  var startAsked = window.location.hash === "#start";
  byId("mixerUiLanguageSel").addEventListener("change", function (event) {
    chooseLanguage(event.target.value);
  });
  byId("sessionLostReloadBtn").addEventListener("click", function () { window.location.reload(); });
  // Mixer side.
  wireMixerCard();
  wireDropouts();
  wireAudioDevices();
  wireWindowsAudioCard();
  wireServerSettings();
  wireFullSetupCheck();
  wirePlaybackControls();
  wireVoiceEffects();
  wireVoiceTest();
  wireUpdateAbout();
  // Files side.
  wireProfilesCard();
  wireFileBrowser();
  wireAutoPrepare();
  wireAnalyzerCard();
  wireSoundLinks();
  wireSoundInbox();
  var i18nReady = window.ZennicI18n ? window.ZennicI18n.init({ persist: false }) : Promise.resolve("en");
  return i18nReady.then(function (code) {
    state.uiLanguage = code;
    fillLanguageSelect();
    setBootState(t("common.loading"), t("main.boot.establishing_session"));
    return ensureSessionEstablished();
  }).then(function () {
    checkForUpdates(true, false);
    byId("bootShell").hidden = true;
    byId("mixerApp").hidden = false;
    window.location.hash = "mixer";
    return initializeMixerApp().then(function () {
      clearFatalError();
      showMainStatusText();
      if (setupCheckAsked) openFullSetupCheck();
      else if (startAsked && !state.mixerRunning) startMixer();
    }, function (error) {
      var message = errorMessage(error, t("errors.mixer_ui_bootstrap_failed"));
      showMixerStatus(message);
      setBootState(t("common.error"), message, "badge badge-error");
      showFatalError("mixer_ui_load", message);
    });
  }, function (error) {
    var message = error instanceof Error ? error.message : t("errors.network_error", { attempts: REQUEST_RETRY_ATTEMPTS });
    setBootState(t("common.error"), message, "badge badge-error");
    showFatalError("boot_sequence", message);
  });
}

document.addEventListener("DOMContentLoaded", bootMainPage);

// The names the page publishes, for the console and the tests.
window.state = state;
window.postJson = postJson;
window.fetchText = fetchText;
window.describeApiFailure = describeApiFailure;
window.showFatalError = showFatalError;
window.clearFatalError = clearFatalError;
window.ensureSessionEstablished = ensureSessionEstablished;
window.setBootState = setBootState;

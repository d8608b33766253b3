// Quick Play state, error card and boot.

var PLAY_ALL_CATEGORY = "__all__";
var PLAY_STOP_RETURN_DELAY_MS = 350;

var playState = {
  settings: null,
  uiLanguage: "en",
  categories: [],
  activeCategory: PLAY_ALL_CATEGORY,
  files: [],
  selectedFilePath: "",
  soundLinks: [],
  selectedSoundLinkId: "",
  soundInboxRevision: null,
  refreshTimer: 0,
  mixerRunning: false,
  // Raised whenever the page itself changes the selected clip: a status poll sent before then
  // carries the old one.
  selectionRevision: 0
};

function playById(id) {
  return document.getElementById(id);
}

function playShowError(message) {
  playById("playBoot").hidden = true;
  playById("playApp").hidden = true;
  playById("playErrorText").textContent = cutDisplayText(message);
  playById("playError").hidden = false;
}

function playShowNotice(text) {
  var notice = playById("playNotice");
  notice.textContent = text;
  notice.hidden = false;
}

function playActiveProfile(settings) {
  var profiles = Array.isArray(settings.profiles) ? settings.profiles : [];
  for (var i = 0; i < profiles.length; i += 1) {
    if (profiles[i] && profiles[i].id === settings.selected_profile_id) return profiles[i];
  }
  return profiles[0] || null;
}

// Every dialog and the trim editor (with its playback) close before the mixer stops.
function playStopMixer() {
  while (playFileDialogs && playFileDialogs.closeFirstOpen()) { /* closes one per call */ }
  playTrimClose();
  playTrimCloseWarning();
  return playPostJson("/api/mixer/stop", {}).then(function (result) {
    var message = result.payload.ok ? playT("play.stop_returning")
      : playDescribeFailure(result, playT("errors.mixer_stop_failed"));
    if (playById("playApp").hidden) playById("playErrorText").textContent = message;
    else playShowNotice(message);
    if (result.payload.ok) {
      window.setTimeout(function () { window.location.href = "/"; }, PLAY_STOP_RETURN_DELAY_MS);
    }
  });
}

function playBoot() {
  var i18nReady = window.ZennicI18n ? window.ZennicI18n.init({ persist: false }) : Promise.resolve("en");
  return i18nReady.then(function (code) {
    playState.uiLanguage = code;
    return playEnsureSession();
  }).then(function () {
    return playPostJson("/api/mixer/settings/load", {});
  }).then(function (result) {
    if (!result.payload.ok) throw new Error(playDescribeFailure(result, playT("errors.settings_load_failed")));
    var settings = result.payload.settings || {};
    playState.settings = settings;
    var language = settings.ui_language && window.ZennicI18n
      ? window.ZennicI18n.setLanguage(settings.ui_language, { persist: true }) : Promise.resolve(playState.uiLanguage);
    return language.then(function (code) {
      playState.uiLanguage = code;
      playState.selectedFilePath = settings.file_path || "";
      playState.soundLinks = Array.isArray(settings.sound_links) ? settings.sound_links : [];
      var profile = playActiveProfile(settings);
      playById("playProfileName").textContent = profile && profile.name ? profile.name : playT("play.active_profile");
      playById("playBoot").hidden = true;
      playById("playError").hidden = true;
      playById("playApp").hidden = false;
      playTakeSoundLinks(playState.soundLinks);
      return playLoadFiles();
    }).then(function () {
      playAutoPrepare();
      playRefreshStatus();
      playStartStatusTimer();
    });
  }).catch(function (error) {
    playShowError(error && error.message ? error.message : String(error));
  });
}

document.addEventListener("DOMContentLoaded", function () {
  ["playStopBtn", "playStopBtnError", "playAudioRouteStopBtn"].forEach(function (id) {
    playById(id).addEventListener("click", playStopMixer);
  });
  playWireClipList();
  playWireStatus();
  playTrimWire();
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      playRenderList(true);
      playFileDialogs.rerender();
      if (playState.trim.open) playTrimRender();
    });
  }
  playBoot();
});

window.playState = playState;
window.playPostJson = playPostJson;
window.playDescribeFailure = playDescribeFailure;

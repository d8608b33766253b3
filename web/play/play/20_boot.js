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
  // The status' verdict on the selected clip ("compatible", "missing"...).
  selectedFileState: "unknown",
  soundLinks: [],
  selectedSoundLinkId: "",
  soundInboxRevision: null,
  refreshTimer: 0,
  mixerRunning: false,
  // False while the status poll gets no answer.
  statusAnswered: false,
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

function playCloseOverlays() {
  while (playFileDialogs && playFileDialogs.closeFirstOpen()) { /* closes one per call */ }
  playTrimClose();
  playTrimCloseWarning();
}

// A program that restarted knows no session of this page, and its mixer is not this page's run:
// polling ends, and the error card says so, without a Stop button that would be refused too.
function playSessionLost(result) {
  window.clearInterval(playState.refreshTimer);
  playState.refreshTimer = 0;
  playCloseOverlays();
  playShowError(playDescribeFailure(result, playT("errors.session_required")));
  playById("playStopBtnError").hidden = true;
}

// Every dialog and the trim editor (with its playback) close before the mixer stops.
function playStopMixer() {
  playCloseOverlays();
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
      // The preparation starts before the list is read, so the list finds it running.
      playAutoPrepare();
      return playLoadFiles();
    }).then(function () {
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
  playById("playReloadBtn").addEventListener("click", function () { window.location.reload(); });
  playWireClipList();
  playWireStatus();
  playTrimWire();
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      var badge = playById("playMixerState");
      if (!badge.hidden) renderMixerBadge(badge, badge.dataset.state, playT);
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

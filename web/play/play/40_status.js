// Quick Play's status poll: whether the mixer runs and its devices play (with Start or Stop to
// match), the clip on the trigger key and whether it can play, the sound links, new clips from the
// Sound Inbox and the warning when Windows stopped recording from the cable.

var PLAY_STATUS_REFRESH_MS = 2500;
var PLAY_SOUND_LINK_URL = /^https?:\/\/\S+$/i;

function playRenderSoundLinks() {
  var links = playState.soundLinks;
  playById("playSoundLinksBar").hidden = links.length === 0;
  if (!links.some(function (link) { return link.id === playState.selectedSoundLinkId; })) {
    playState.selectedSoundLinkId = links.length ? links[0].id : "";
  }
  var select = playById("playSoundLinkSel");
  select.textContent = "";
  links.forEach(function (link) {
    var option = playElement("option", "", link.name || link.url);
    option.value = link.id;
    select.appendChild(option);
  });
  select.value = playState.selectedSoundLinkId;
  var chosen = links.find(function (link) { return link.id === playState.selectedSoundLinkId; });
  var open = playById("playSoundLinkOpenBtn");
  if (chosen) open.href = chosen.url.trim();
  else open.removeAttribute("href");
}

function playTakeSoundLinks(links) {
  playState.soundLinks = (Array.isArray(links) ? links : []).filter(function (link) {
    return link && typeof link.id === "string" && link.id !== "" && PLAY_SOUND_LINK_URL.test(String(link.url || "").trim());
  });
  playRenderSoundLinks();
}

function playRenderRouteWarning(audio) {
  var warning = audio.audio_route_warning === true;
  var code = audio.audio_route_warning_code || "";
  var text = "";
  if (code === "windows_input_changed") text = playT("audio_management.route_changed_warning");
  else if (code === "orphaned_cable_input") text = playT("audio_management.input_still_cable_warning");
  else text = audio.audio_route_warning_message || "";
  playById("playAudioRouteWarning").hidden = !warning;
  playById("playAudioRouteWarningText").textContent = warning ? text : "";
  playById("playAudioRouteStopBtn").hidden = !(warning && code === "windows_input_changed" && playState.mixerRunning);
}

// Stop Mixer only while there is a run to stop; Start Mixer, which starts it on the main page,
// while there is none. `mixer` is null while the program does not answer.
function playRenderMixerState(mixer) {
  var badge = playById("playMixerState");
  renderMixerBadge(badge, mixerBadgeState(mixer), playT);
  badge.hidden = false;
  playById("playStopBtn").hidden = !playState.mixerRunning;
  playById("playStartLink").hidden = playState.mixerRunning;
}

// `selectionRevision`: the page's selection revision when the poll was sent.
function playApplyStatus(mixer, selectionRevision) {
  playState.mixerRunning = mixer.running === true;
  playState.statusAnswered = true;
  if (Array.isArray(mixer.sound_links)) playTakeSoundLinks(mixer.sound_links);
  var reload = Promise.resolve();
  var revision = mixer.sound_inbox && typeof mixer.sound_inbox.revision === "number" ? mixer.sound_inbox.revision : null;
  if (revision !== null) {
    if (playState.soundInboxRevision !== null && revision !== playState.soundInboxRevision) reload = playLoadFiles();
    playState.soundInboxRevision = revision;
  }
  playById("playDevicesStopped").hidden = !(playState.mixerRunning && mixer.devices_stopped === true);
  playRenderMixerState(mixer);
  playRenderRouteWarning(mixer.audio_management || {});
  if (typeof mixer.file_path === "string" && selectionRevision === playState.selectionRevision) {
    playState.selectedFileState = typeof mixer.file_compatible_state === "string" ? mixer.file_compatible_state : "unknown";
    if (mixer.file_path !== playState.selectedFilePath) {
      playMarkSelected(mixer.file_path);
      playRenderList(true);
      return reload;
    }
  }
  // Whether the key plays the clip follows the run too.
  playRenderSelectedBar();
  return reload;
}

function playRefreshStatus() {
  var selectionRevision = playState.selectionRevision;
  return playPostJson("/api/mixer/status", {}).then(function (result) {
    if (result.payload.ok) return playApplyStatus(result.payload.mixer || {}, selectionRevision);
    if (result.payload.code === "session_required") playSessionLost(result);
    // Until the program answers again the page does not know whether the key plays anything.
    playState.statusAnswered = false;
    playRenderMixerState(null);
    playRenderSelectedBar();
    return null;
  });
}

function playStartStatusTimer() {
  var inFlight = false;
  window.clearInterval(playState.refreshTimer);
  playState.refreshTimer = window.setInterval(function () {
    // A slow answer is not stacked with more polls; failures wait for the next tick.
    if (inFlight) return;
    inFlight = true;
    var work = [playRefreshStatus()];
    if (playState.autoPrepareActive) work.push(playLoadFiles());
    Promise.all(work).catch(function () {}).then(function () { inFlight = false; });
  }, PLAY_STATUS_REFRESH_MS);
}

function playWireStatus() {
  playById("playSoundLinkSel").addEventListener("change", function () {
    playState.selectedSoundLinkId = playById("playSoundLinkSel").value;
    playRenderSoundLinks();
  });
}

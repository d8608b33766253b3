// What both sides of the main page share: the moments at which the areas join in, the mixer
// card's status line, the clip's compatibility chip, and the status poll, which ends when the
// page's session is gone.

var STATUS_REFRESH_MS = 2000;

Object.assign(state, {
  selectedFilePath: "",
  // The status' verdict on the selected clip, with the path it was given for.
  selectedFileStatus: { path: "", state: "unknown" },
  statusRequestInFlight: false,
  // The text of the last status poll that got no answer; "" once the program answers.
  statusFailureText: "",
  sessionLost: false,
  // Raised whenever the page changes or receives settings: a status answer to a poll sent
  // before then carries older settings.
  settingsRevision: 0
});

// The areas of the page join in at these moments: "settings" (settings applied), "status" (a
// status answer, with the settings revision the poll was sent at), "reset" (settings reset),
// "files" (the file list must be read again). A listener may return a promise.
var pageHooks = { settings: [], status: [], reset: [], files: [] };

function onPageHook(name, listener) {
  pageHooks[name].push(listener);
}

function runPageHooks(name, argument, detail) {
  return Promise.all(pageHooks[name].map(function (listener) { return listener(argument, detail); }));
}

// Shows a text in a status line and, when asked, clears it after `clearAfterMs` unless another
// text took its place meanwhile.
function showStatusLine(id, text, clearAfterMs) {
  var line = byId(id);
  line.textContent = text;
  if (!clearAfterMs) return;
  window.setTimeout(function () {
    if (line.textContent === text) line.textContent = "";
  }, clearAfterMs);
}

// The mixer card's line says what the user's last action did, for as long as that holds, and
// otherwise what is true of the mixer now. A note about the selected clip ("clip") holds until
// the clip is chosen again or changes; any other note until it is replaced or its time is up.
var mixerStatusNote = null;

function showMixerStatus(text, clearAfterMs, about) {
  var note = { text: text, about: about || "", clip: selectedClipKey() };
  mixerStatusNote = note;
  byId("mixerSaveStatus").textContent = text;
  if (!clearAfterMs) return;
  window.setTimeout(function () {
    if (mixerStatusNote === note) showMainStatusText();
  }, clearAfterMs);
}

// The clip the trigger key plays and whether it can: a note about it is stale once this changes.
function selectedClipKey() {
  return state.selectedFilePath + "\n" + selectedClipState();
}

// What is true of the mixer now: whether the program answers, whether the mixer runs, and
// whether the trigger key then plays the selected clip.
function mainStatusText() {
  if (state.statusFailureText) return state.statusFailureText;
  if (!state.mixerRunning) return t("main.status.ready_text");
  var clipState = selectedClipState();
  if (clipState === "none") return t("main.status.running_no_clip");
  if (clipCannotPlay(clipState)) return t("main.start_clip_unplayable", { name: selectedClipName() });
  return t("main.status.running_text");
}

function showMainStatusText() {
  mixerStatusNote = null;
  byId("mixerSaveStatus").textContent = mainStatusText();
}

// Takes down a note about `about`, which has just gone well.
function settleMixerStatus(about) {
  if (mixerStatusNote && mixerStatusNote.about === about) showMainStatusText();
}

// Brings the line up to date after anything the mixer text follows has changed.
function renderMixerStatusLine() {
  var note = mixerStatusNote;
  if (note && note.about === "clip" && note.clip !== selectedClipKey()) note = null;
  if (!note) showMainStatusText();
}

function renderSelectedFileState(compatibilityState) {
  var chip = compatibilityChip(compatibilityState, t);
  var element = byId("mixerSelectedFileState");
  element.textContent = chip.text;
  element.className = chip.className;
  element.dataset.state = compatibilityState;
}

function refreshStatus() {
  var settingsRevision = state.settingsRevision;
  return postJson("/api/mixer/status").then(function (result) {
    if (!result.payload.ok) {
      state.statusFailureText = describeApiFailure(result, t("errors.status_refresh_failed"));
      if (result.payload.code === "session_required") showSessionLost();
      showStatusUnanswered();
      showMainStatusText();
      return false;
    }
    state.statusFailureText = "";
    var mixer = result.payload.mixer || {};
    if (typeof mixer.file_path === "string") {
      state.selectedFilePath = mixer.file_path;
      takeSelectedFileStatus(mixer);
    }
    var joined = runPageHooks("status", mixer, settingsRevision);
    renderMixerStatusLine();
    return joined.then(function () { return true; });
  });
}

function takeSelectedFileStatus(mixer) {
  state.selectedFileStatus = { path: mixer.file_path, state: mixer.file_compatible_state || "unknown" };
}

// A program that restarted knows no session of this page: every request is refused from now on,
// so polling stops and the page says so until it is reloaded.
function showSessionLost() {
  state.sessionLost = true;
  window.clearInterval(state.statusTimer);
  state.statusTimer = 0;
  byId("sessionLostNotice").hidden = false;
}

function startStatusTimer() {
  window.clearInterval(state.statusTimer);
  if (state.sessionLost) return;
  state.statusTimer = window.setInterval(function () {
    // A slow answer is not stacked with more polls.
    if (state.statusRequestInFlight) return;
    state.statusRequestInFlight = true;
    refreshStatus().then(function () { state.statusRequestInFlight = false; });
  }, STATUS_REFRESH_MS);
}

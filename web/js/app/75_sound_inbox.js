// Sound Inbox: the watched folder whose new downloads the program prepares into the active
// profile. The page switches it, chooses its folder, and shows what the program reports.

Object.assign(state, {
  soundInboxStatus: null,
  soundInboxRevision: null,
  soundInboxBusy: false,
  browseSoundInboxPending: false
});

var SOUND_INBOX_PHASES = {
  watching: ["sound_inbox.status_watching", "badge badge-warn"],
  detected: ["sound_inbox.status_detected", "badge badge-warn"],
  preparing: ["sound_inbox.status_preparing", "badge badge-warn"],
  ready: ["sound_inbox.status_ready", "badge badge-ok"],
  failed: ["sound_inbox.status_failed", "badge badge-error"]
};
// The status text last written into the line; an action's message stays until the status changes.
var shownSoundInboxText = null;
// A status poll already on its way when a change ended carries the inbox from before it.
var soundInboxStatusStale = false;

function soundInboxStatusFromSettings(settings) {
  var enabled = Boolean(settings && settings.sound_inbox_enabled);
  return { enabled: enabled, phase: enabled ? "watching" : "disabled", code: "", message: "" };
}

function soundInboxStatusText(status) {
  var code = typeof status.code === "string" ? status.code : "";
  if (code) return t("errors." + code, null, typeof status.message === "string" && status.message ? status.message : code);
  return t((SOUND_INBOX_PHASES[status.phase] || ["sound_inbox.status_disabled"])[0]);
}

// Codes of a folder the inbox cannot watch; any other failure is about one file.
var SOUND_INBOX_FOLDER_CODES = ["sound_inbox_folder_required", "sound_inbox_folder_invalid", "sound_inbox_drive_root",
  "sound_inbox_profile_overlap", "sound_inbox_too_many_files"];

// A sound the inbox could not prepare is named, so the user knows which download to look at.
function soundInboxFailedFile(status) {
  if (status.phase !== "failed" || SOUND_INBOX_FOLDER_CODES.indexOf(status.code) !== -1) return "";
  return typeof status.last_source_path === "string" ? status.last_source_path.split(/[\\/]/).pop() : "";
}

function renderSoundInboxStatus() {
  var status = state.soundInboxStatus || soundInboxStatusFromSettings(state.settings);
  var badgeText = soundInboxStatusText(status);
  var failedFile = soundInboxFailedFile(status);
  var text = failedFile ? badgeText + " " + t("sound_inbox.last_file", { name: failedFile }) : badgeText;
  var badge = byId("soundInboxStatusBadge");
  badge.textContent = badgeText;
  badge.className = (SOUND_INBOX_PHASES[status.phase] || [null, "badge badge-warn"])[1];
  badge.dataset.phase = status.phase || "disabled";
  if (text !== shownSoundInboxText) byId("soundInboxStatusText").textContent = text;
  shownSoundInboxText = text;
}

function fillSoundInboxControls() {
  var settings = state.settings || {};
  byId("soundInboxEnabled").checked = settings.sound_inbox_enabled === true;
  byId("soundInboxDirInput").value = typeof settings.sound_inbox_dir === "string" ? settings.sound_inbox_dir : "";
}

function setSoundInboxControlsDisabled(disabled) {
  ["soundInboxEnabled", "soundInboxUseDownloadsBtn", "soundInboxCreateDefaultBtn", "soundInboxDirInput",
    "soundInboxBrowseBtn", "soundInboxSaveBtn"].forEach(function (id) { byId(id).disabled = disabled; });
}

function soundInboxRequestRunning() {
  return state.soundInboxBusy || state.browseSoundInboxPending;
}

function showSoundInboxMessage(text) {
  byId("soundInboxStatusText").textContent = text;
}

function sendSoundInboxRequest(path, body, pendingKey, successKey) {
  state.soundInboxBusy = true;
  setSoundInboxControlsDisabled(true);
  showSoundInboxMessage(t(pendingKey));
  return postJson(path, body).then(function (result) {
    state.soundInboxBusy = false;
    soundInboxStatusStale = state.statusRequestInFlight;
    setSoundInboxControlsDisabled(false);
    if (!result.payload.ok) {
      fillSoundInboxControls();
      showSoundInboxMessage(describeApiFailure(result, t("sound_inbox.save_failed")));
      return false;
    }
    var stored = result.payload.settings || {};
    if (!state.settings) state.settings = {};
    state.settings.sound_inbox_enabled = stored.sound_inbox_enabled === true;
    state.settings.sound_inbox_dir = typeof stored.sound_inbox_dir === "string" ? stored.sound_inbox_dir : "";
    if (result.payload.sound_inbox && typeof result.payload.sound_inbox === "object") {
      state.soundInboxStatus = result.payload.sound_inbox;
    }
    fillSoundInboxControls();
    renderSoundInboxStatus();
    showSoundInboxMessage(t(successKey));
    return true;
  });
}

function sendSoundInboxConfiguration(enabled, folder) {
  if (enabled && folder === "") return requestDefaultSoundInbox("ruzerad_inbox");
  return sendSoundInboxRequest("/api/mixer/sound-inbox/configure", { enabled: enabled, folder_path: folder },
    enabled ? "sound_inbox.enable_starting" : "sound_inbox.disable_stopping",
    enabled ? "sound_inbox.enabled_saved" : "sound_inbox.disabled_saved");
}

// The checkbox and Save Inbox: on with an empty folder means the default inbox folder.
function configureSoundInbox() {
  if (soundInboxRequestRunning()) return Promise.resolve(false);
  return sendSoundInboxConfiguration(byId("soundInboxEnabled").checked, byId("soundInboxDirInput").value.trim());
}

function useDefaultSoundInbox(mode) {
  if (soundInboxRequestRunning()) return Promise.resolve(false);
  return requestDefaultSoundInbox(mode);
}

function requestDefaultSoundInbox(mode) {
  return sendSoundInboxRequest("/api/mixer/sound-inbox/use-default", { enabled: true, mode: mode },
    mode === "downloads" ? "sound_inbox.using_downloads" : "sound_inbox.creating_default", "sound_inbox.folder_set");
}

// A folder chosen on the desktop is saved and watched in the same action.
function browseSoundInboxFolder() {
  if (soundInboxRequestRunning()) return Promise.resolve(false);
  state.browseSoundInboxPending = true;
  setSoundInboxControlsDisabled(true);
  showSoundInboxMessage(t("sound_inbox.waiting_for_folder"));
  return postJson("/api/mixer/browse-folder", { initial_path: byId("soundInboxDirInput").value }).then(function (result) {
    if (!result.payload.ok) {
      showSoundInboxMessage(describeApiFailure(result, t("sound_inbox.browse_failed")));
      return false;
    }
    if (result.payload.cancelled === true || !result.payload.selected_path) {
      showSoundInboxMessage(shownSoundInboxText || "");
      return false;
    }
    byId("soundInboxDirInput").value = result.payload.selected_path;
    byId("soundInboxEnabled").checked = true;
    return sendSoundInboxConfiguration(true, result.payload.selected_path);
  }).then(function (done) {
    state.browseSoundInboxPending = false;
    setSoundInboxControlsDisabled(false);
    return done;
  });
}

// A new revision means the inbox added clips: the list is read again.
function followSoundInboxStatus(mixer) {
  var status = mixer.sound_inbox;
  if (!status || typeof status !== "object") return null;
  if (soundInboxRequestRunning() || soundInboxStatusStale) {
    soundInboxStatusStale = false;
    return null;
  }
  state.soundInboxStatus = status;
  renderSoundInboxStatus();
  if (typeof status.revision !== "number") return null;
  var previous = state.soundInboxRevision;
  state.soundInboxRevision = status.revision;
  return typeof previous === "number" && previous !== status.revision ? loadFiles() : null;
}

function wireSoundInbox() {
  byId("soundInboxEnabled").addEventListener("change", configureSoundInbox);
  byId("soundInboxSaveBtn").addEventListener("click", configureSoundInbox);
  byId("soundInboxUseDownloadsBtn").addEventListener("click", function () { useDefaultSoundInbox("downloads"); });
  byId("soundInboxCreateDefaultBtn").addEventListener("click", function () { useDefaultSoundInbox("ruzerad_inbox"); });
  byId("soundInboxBrowseBtn").addEventListener("click", browseSoundInboxFolder);
  onPageHook("settings", function () {
    if (soundInboxRequestRunning()) return;
    fillSoundInboxControls();
    renderSoundInboxStatus();
  });
  onPageHook("status", followSoundInboxStatus);
  if (window.ZennicI18n) window.ZennicI18n.onChange(renderSoundInboxStatus);
}

// Windows Audio Management card: the switching setting, the route warning, the current and saved
// defaults, and the three ways back to the user's own devices.

Object.assign(state, {
  audioManagementStatus: null
});

function textOrDash(value) {
  return typeof value === "string" && value !== "" ? value : "-";
}

function showAudioManagementStatus(text, clearAfterMs) {
  showStatusLine("mixerAudioManagementStatus", text, clearAfterMs);
}

function loadAudioManagementStatus() {
  return postJson("/api/mixer/audio/status").then(function (result) {
    if (!result.payload.ok) {
      showAudioManagementStatus(describeApiFailure(result, t("errors.audio_status_failed")));
      return null;
    }
    renderAudioManagementStatus(result.payload.audio_management || {});
    return state.audioManagementStatus;
  });
}

function routeWarningText(status) {
  if (status.audio_route_warning_code === "windows_input_changed") return t("audio_management.route_changed_warning");
  if (status.audio_route_warning_code === "orphaned_cable_input") return t("audio_management.input_still_cable_warning");
  return status.audio_route_warning_message || "";
}

// `known`: false while the page has no answer from the program, which then says nothing of it.
function setRestoreAvailability(buttonId, lineId, available, backupExists, known) {
  byId(buttonId).disabled = !available;
  var line = byId(lineId);
  line.hidden = available || !known;
  line.textContent = available || !known ? ""
    : t(backupExists ? "audio_management.advanced_unsafe" : "audio_management.advanced_unavailable");
}

function renderBackupLines(status, known) {
  var backup = byId("mixerAudioBackupStatus");
  var session = byId("mixerAudioSessionStatus");
  var lastGoodOutput = "-";
  var lastGoodInput = "-";
  if (!known) {
    backup.textContent = "-";
    session.textContent = "-";
  } else if (!status.backup_exists) {
    backup.textContent = t("audio_management.no_backup");
    session.textContent = t("common.no");
  } else if (status.backup_valid === false) {
    backup.textContent = status.error || t("audio_management.backup_invalid");
    session.textContent = t(status.session_active ? "common.yes" : "common.no");
  } else {
    var date = status.last_known_good_saved_at || status.current_session_saved_at || "";
    backup.textContent = date ? t("audio_management.backup_saved", { date: date }) : t("audio_management.no_backup");
    session.textContent = t(status.session_active ? "common.yes" : "common.no");
    lastGoodOutput = textOrDash(status.last_known_good_output_name);
    lastGoodInput = textOrDash(status.last_known_good_input_name);
  }
  byId("mixerAudioLastGoodOutput").textContent = lastGoodOutput;
  byId("mixerAudioLastGoodInput").textContent = lastGoodInput;
}

// Draws the card from `status`, or from the last status the program sent; with none, the
// values it would show are unknown.
function renderAudioManagementStatus(status) {
  if (status) state.audioManagementStatus = status;
  var known = state.audioManagementStatus !== null;
  var audio = state.audioManagementStatus || {};
  var enabled = Boolean(state.settings) && state.settings.audio_management_enabled === true;
  byId("mixerAudioManagementEnabled").checked = enabled;
  byId("mixerAudioManagementManualHint").hidden = enabled;

  var warning = audio.audio_route_warning === true;
  var code = audio.audio_route_warning_code || "";
  byId("mixerAudioRouteWarning").hidden = !warning;
  byId("mixerAudioRouteWarningText").textContent = warning ? routeWarningText(audio) : "";
  byId("mixerAudioRouteSetupBtn").hidden = code !== "windows_input_changed";
  byId("mixerAudioRouteStopBtn").hidden = !(code === "windows_input_changed" && state.mixerRunning);
  byId("mixerAudioRouteRestoreBtn").hidden = !(code === "orphaned_cable_input" ||
    audio.current_default_output_is_cable === true || (audio.session_active === true && !state.mixerRunning));

  byId("mixerAudioCurrentOutput").textContent = textOrDash(audio.current_default_output_name);
  byId("mixerAudioCurrentInput").textContent = textOrDash(audio.current_default_input_name);
  var sessionRestorable = audio.restore_session_available === true && audio.current_session_safe_normal_pc === true;
  var lastGoodRestorable = audio.restore_last_known_good_available === true && audio.last_known_good_safe_normal_pc === true;
  setRestoreAvailability("mixerRestoreSessionBtn", "mixerRestoreSessionAvailability", sessionRestorable,
    audio.restore_session_available === true, known);
  setRestoreAvailability("mixerRestoreLastGoodBtn", "mixerRestoreLastGoodAvailability", lastGoodRestorable,
    audio.restore_last_known_good_available === true, known);
  byId("mixerRestoreMySoundBtn").disabled = audio.current_default_output_is_cable !== true &&
    audio.current_default_input_is_cable !== true && audio.restore_session_available !== true &&
    audio.restore_last_known_good_available !== true;

  byId("mixerAudioRestoreWarning").hidden = audio.current_default_output_is_cable !== true;
  byId("mixerAudioInputRestoreWarning").hidden = !(audio.current_default_input_is_cable === true &&
    !state.mixerRunning && !warning);
  renderBackupLines(audio, known);
}

function setAudioManagementEnabled(enabled) {
  return postJson("/api/mixer/settings/save", { audio_management_enabled: enabled }).then(function (result) {
    if (!result.payload.ok) {
      byId("mixerAudioManagementEnabled").checked = !enabled;
      showAudioManagementStatus(describeApiFailure(result, t("errors.settings_save_failed")));
      return false;
    }
    applySettings(result.payload);
    showAudioManagementStatus(t(enabled ? "audio_management.enabled_status" : "audio_management.disabled_status"),
      TRANSIENT_STATUS_MS);
    return true;
  });
}

function restoreMySoundText(payload) {
  var parts = [t({
    full: "audio_management.restore_my_sound_complete",
    partial: "audio_management.restore_my_sound_partial"
  }[payload.restore_status] || "audio_management.restore_my_sound_manual")];
  if (payload.audio_management_disabled === true && payload.audio_management_disable_persisted !== true) {
    parts.push(t("audio_management.restore_not_saved"));
  }
  return parts.concat(Array.isArray(payload.messages) ? payload.messages : []).join(" ");
}

function restoreMySound() {
  return loadAudioManagementStatus().then(function () {
    showAudioManagementStatus(t("audio_management.restore_my_sound_running"));
    return postJson("/api/mixer/audio/restore-my-sound");
  }).then(function (result) {
    var payload = result.payload;
    if (!payload.ok) {
      showAudioManagementStatus(describeApiFailure(result, t("errors.audio_restore_my_sound_failed")));
      return false;
    }
    if (payload.settings) applySettings(payload);
    renderAudioManagementStatus(payload.audio_management);
    return refreshStatus().then(function () {
      showAudioManagementStatus(restoreMySoundText(payload));
      return true;
    });
  });
}

// kind: "session" or "last_good".
function restoreBackup(kind) {
  return loadAudioManagementStatus().then(function (status) {
    var audio = status || {};
    var session = kind === "session";
    var savedAt = session ? audio.current_session_saved_at : audio.last_known_good_saved_at;
    if (!savedAt) {
      showAudioManagementStatus(t("audio_management.no_restore_backup"));
      return false;
    }
    var question = t(session ? "audio_management.restore_session_preview" : "audio_management.restore_last_good_preview", {
      output: textOrDash(session ? audio.current_session_output_name : audio.last_known_good_output_name),
      input: textOrDash(session ? audio.current_session_input_name : audio.last_known_good_input_name)
    });
    if (state.mixerRunning) question += "\n\n" + t("audio_management.restore_stops_mixer");
    if (!window.confirm(question)) return false;
    showAudioManagementStatus(t("audio_management.restoring"));
    var route = session ? "/api/mixer/audio/restore-session" : "/api/mixer/audio/restore-last-known-good";
    return postJson(route).then(function (result) {
      var payload = result.payload;
      if (!payload.ok) {
        showAudioManagementStatus(describeApiFailure(result, t("errors.audio_restore_failed")));
        return false;
      }
      renderAudioManagementStatus(payload.audio_management);
      return refreshStatus().then(function () {
        var messages = Array.isArray(payload.messages) ? payload.messages : [];
        showAudioManagementStatus(messages.length ? messages.join(" ") : t("audio_management.restore_complete"));
        return true;
      });
    });
  });
}

function openAudioBackupFolder() {
  return postJson("/api/mixer/audio/open-backup-folder").then(function (result) {
    showAudioManagementStatus(result.payload.ok ? t("audio_management.backup_folder_opened")
      : describeApiFailure(result, t("errors.open_backup_folder_failed")));
    return result.payload.ok === true;
  });
}

function wireWindowsAudioCard() {
  byId("mixerAudioManagementEnabled").addEventListener("change", function (event) {
    setAudioManagementEnabled(event.target.checked);
  });
  byId("mixerAudioRouteSetupBtn").addEventListener("click", function () { openFullSetupCheck(); });
  byId("mixerAudioRouteStopBtn").addEventListener("click", stopMixer);
  byId("mixerAudioRouteRestoreBtn").addEventListener("click", restoreMySound);
  byId("mixerRestoreMySoundBtn").addEventListener("click", restoreMySound);
  byId("mixerRestoreSessionBtn").addEventListener("click", function () { restoreBackup("session"); });
  byId("mixerRestoreLastGoodBtn").addEventListener("click", function () { restoreBackup("last_good"); });
  byId("mixerOpenAudioBackupFolderBtn").addEventListener("click", openAudioBackupFolder);
  if (window.ZennicI18n) window.ZennicI18n.onChange(function () { renderAudioManagementStatus(null); });
}

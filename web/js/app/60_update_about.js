// Update banner and the About footer's update panel: the check at boot and on request, the
// release notes, and a banner the user can dismiss for one version.

var UPDATE_DISMISSED_VERSION_KEY = "zennic.update.dismissed.version";
var UPDATE_STATUS_KEYS = {
  up_to_date: "update.up_to_date",
  invalid_manifest: "update.invalid_manifest"
};
var RELEASE_NOTE_MARK = /^[-*\u2022\u2023\u25E6\u2043\u2219]\s*/;

Object.assign(state, {
  updateCheckResult: null
});

function readDismissedUpdateVersion() {
  try {
    return window.localStorage.getItem(UPDATE_DISMISSED_VERSION_KEY) || "";
  } catch (ignored) {
    return "";
  }
}

function writeDismissedUpdateVersion(version) {
  try {
    if (version) window.localStorage.setItem(UPDATE_DISMISSED_VERSION_KEY, version);
    else window.localStorage.removeItem(UPDATE_DISMISSED_VERSION_KEY);
  } catch (ignored) {
    // Storage may be refused; the banner then shows again on the next visit.
  }
}

function describeUpdateStatus(result) {
  if (!result) return t("update.idle");
  var params = { current: result.current_version || "-", latest: result.latest_version || "" };
  if (result.check_status === "update_required") return t("update.required_body", params);
  if (result.check_status === "update_available") {
    return t(result.update_level === "critical" ? "update.critical_body" : "update.available_body", params);
  }
  return t(UPDATE_STATUS_KEYS[result.check_status] || "update.unavailable", params);
}

// Release notes as a list of texts, or one text of lines; list marks and blank items dropped.
function releaseNoteItems(notes) {
  var items = Array.isArray(notes) ? notes : (typeof notes === "string" ? notes.split(/\r?\n/) : []);
  return items.map(function (item) {
    return String(item == null ? "" : item).trim().replace(RELEASE_NOTE_MARK, "").trim();
  }).filter(function (item) { return item !== ""; });
}

function renderReleaseNotes(result) {
  var block = byId("updateNotesBlock");
  var status = result ? result.check_status : "";
  block.hidden = status !== "update_available" && status !== "update_required" && status !== "up_to_date";
  if (block.hidden) return;
  var newer = result.update_available === true || result.update_required === true;
  byId("updateNotesTitle").textContent = newer
    ? t("update.whats_new_available", { version: result.latest_version || result.current_version || "" })
    : t("update.whats_new_current");
  var list = byId("updateReleaseNotes");
  list.textContent = "";
  var items = releaseNoteItems(result.release_notes);
  items.forEach(function (item) {
    var entry = document.createElement("li");
    entry.textContent = item;
    list.appendChild(entry);
  });
  list.hidden = items.length === 0;
  byId("updateNoReleaseNotes").hidden = items.length > 0;
}

function renderUpdateBanner(result, available, statusText) {
  var banner = byId("updateBanner");
  var latest = result ? result.latest_version || "" : "";
  if (!available || readDismissedUpdateVersion() === latest) {
    banner.hidden = true;
    return;
  }
  var required = result.update_required === true;
  var critical = required || result.update_level === "critical";
  banner.className = critical ? "update-banner critical" : "update-banner";
  byId("updateBannerTitle").textContent = t(required ? "update.required_title"
    : (critical ? "update.critical_title" : "update.available_title"));
  byId("updateBannerText").textContent = statusText;
  byId("updateBannerDownload").href = result.download_url;
  banner.dataset.latestVersion = latest;
  banner.hidden = false;
}

function renderUpdateUi(result) {
  state.updateCheckResult = result || null;
  var statusText = describeUpdateStatus(result);
  byId("aboutCurrentVersion").textContent = (result && result.current_version) || "-";
  byId("updateLatestVersion").textContent = (result && result.latest_version) || "-";
  byId("updateStatusText").textContent = statusText;
  byId("updateDetailText").textContent = result && result.published_at
    ? t("update.published_at", { date: result.published_at }) : "";
  renderReleaseNotes(result);
  var available = Boolean(result) && result.update_available === true && Boolean(result.download_url);
  var download = byId("updateDownloadBtn");
  download.hidden = !available;
  if (available) download.href = result.download_url;
  renderUpdateBanner(result, available, statusText);
}

function unavailableUpdateResult(currentVersion, message) {
  return { check_status: "unavailable", current_version: currentVersion, error_message: message };
}

function checkForUpdates(automatic, force) {
  var button = byId("updateCheckBtn");
  if (!automatic) {
    button.disabled = true;
    byId("updateStatusText").textContent = t("update.checking");
    byId("updateDetailText").textContent = "";
    byId("updateNotesBlock").hidden = true;
  }
  var previousVersion = (state.updateCheckResult && state.updateCheckResult.current_version) || "-";
  return postJson("/api/mixer/update/check", { force: force === true }).then(function (result) {
    renderUpdateUi(result.payload.ok ? result.payload
      : unavailableUpdateResult(previousVersion, describeApiFailure(result, t("update.unavailable"))));
  }).catch(function (error) {
    renderUpdateUi(unavailableUpdateResult("-", errorMessage(error, t("update.unavailable"))));
  }).then(function () {
    button.disabled = false;
  });
}

function dismissUpdateBanner() {
  var banner = byId("updateBanner");
  writeDismissedUpdateVersion(banner.dataset.latestVersion || "");
  banner.hidden = true;
}

function wireUpdateAbout() {
  byId("updateCheckBtn").addEventListener("click", function () { checkForUpdates(false, true); });
  byId("updateBannerDismiss").addEventListener("click", dismissUpdateBanner);
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      if (state.updateCheckResult) renderUpdateUi(state.updateCheckResult);
    });
  }
}

// Profiles card: choose, create, rename and delete clip libraries, pick a profile's folder with
// the desktop's chooser, and open it in the file manager. Each outcome is told in the card's own
// status line, beside the button that caused it.

Object.assign(state, {
  browseFolderPending: false
});

// The profile whose id the settings select, else the first one.
function activeProfile(settings) {
  var profiles = settings && Array.isArray(settings.profiles) ? settings.profiles : [];
  return profiles.find(function (profile) {
    return profile && profile.id === settings.selected_profile_id;
  }) || profiles[0] || null;
}

function showProfileStatus(text) {
  showStatusLine("mixerProfileStatus", text);
}

function renderProfiles() {
  var settings = state.settings || {};
  var select = byId("mixerProfileSel");
  select.textContent = "";
  (Array.isArray(settings.profiles) ? settings.profiles : []).forEach(function (profile) {
    var option = document.createElement("option");
    option.value = profile.id;
    option.textContent = profile.name;
    select.appendChild(option);
  });
  var profile = activeProfile(settings);
  select.value = profile ? profile.id : "";
  byId("mixerProfileNameInput").value = profile ? profile.name : "";
  byId("mixerDir").value = profile ? profile.audio_dir : "";
  renderOpenFolderButton();
}

function renderOpenFolderButton() {
  byId("mixerOpenFolderBtn").disabled = byId("mixerDir").value.trim() === "";
}

function takeProfilesAnswer(answer) {
  if (!state.settings) state.settings = {};
  if (Array.isArray(answer.profiles)) state.settings.profiles = answer.profiles;
  if (typeof answer.selected_profile_id === "string") state.settings.selected_profile_id = answer.selected_profile_id;
  if (answer.file_cleared === true) forgetSelectedFile();
  renderProfiles();
}

// The profile's list of clips and its preparation follow every change of the active profile.
function profileChanged(message) {
  showProfileStatus(message);
  triggerAutoPrepareForActiveProfile();
  return loadFiles().then(function () { return true; });
}

// Creates a profile from the fields (New) or stores them into the chosen one (Save).
function saveProfile(createNew, successKey) {
  var body = {
    id: createNew ? "" : byId("mixerProfileSel").value,
    name: byId("mixerProfileNameInput").value.trim(),
    audio_dir: byId("mixerDir").value.trim()
  };
  return postJson("/api/mixer/profiles/upsert", body).then(function (result) {
    if (!result.payload.ok) {
      showProfileStatus(describeApiFailure(result, t("errors.profile_save_failed")));
      return false;
    }
    takeProfilesAnswer(result.payload);
    return profileChanged(t(successKey || (createNew ? "profiles.created" : "profiles.saved")));
  });
}

function deleteProfile() {
  var id = byId("mixerProfileSel").value;
  if (!id) return Promise.resolve(false);
  return postJson("/api/mixer/profiles/delete", { id: id }).then(function (result) {
    if (!result.payload.ok) {
      showProfileStatus(describeApiFailure(result, t("errors.profile_delete_failed")));
      return false;
    }
    takeProfilesAnswer(result.payload);
    forgetSelectedFile();
    return profileChanged(t("profiles.deleted"));
  });
}

function selectProfile(id) {
  return postJson("/api/mixer/profiles/select", { id: id }).then(function (result) {
    if (!result.payload.ok) {
      showProfileStatus(describeApiFailure(result, t("errors.profile_switch_failed")));
      renderProfiles();
      return false;
    }
    var answer = result.payload;
    state.settings.selected_profile_id = answer.selected_profile_id;
    if (answer.file_cleared === true) forgetSelectedFile();
    renderProfiles();
    triggerAutoPrepareForActiveProfile();
    showFiles(answer.files);
    clearAnalyzer();
    showProfileStatus(t("profiles.switched"));
    return true;
  });
}

// The chosen folder is stored in the profile at once.
function browseProfileFolder() {
  if (state.browseFolderPending) return Promise.resolve(false);
  state.browseFolderPending = true;
  var button = byId("mixerBrowseFolderBtn");
  button.disabled = true;
  showProfileStatus(t("profiles.waiting_for_folder"));
  return postJson("/api/mixer/browse-folder", { initial_path: byId("mixerDir").value }).then(function (result) {
    if (!result.payload.ok) {
      showProfileStatus(describeApiFailure(result, t("errors.folder_picker_failed")));
      return false;
    }
    if (result.payload.cancelled === true || !result.payload.selected_path) {
      showProfileStatus(t("profiles.folder_cancelled"));
      return false;
    }
    byId("mixerDir").value = result.payload.selected_path;
    return saveProfile(false, "profiles.folder_saved");
  }).then(function (saved) {
    state.browseFolderPending = false;
    button.disabled = false;
    return saved;
  });
}

function openProfileFolder() {
  var button = byId("mixerOpenFolderBtn");
  var profile = activeProfile(state.settings);
  button.disabled = true;
  return postJson("/api/mixer/open-folder", profile ? { profile_id: profile.id } : {}).then(function (result) {
    showProfileStatus(result.payload.ok ? t("files.open_folder_done")
      : describeApiFailure(result, t("files.open_folder_failed")));
    renderOpenFolderButton();
    return result.payload.ok === true;
  });
}

function wireProfilesCard() {
  byId("mixerProfileSel").addEventListener("change", function (event) { selectProfile(event.target.value); });
  byId("mixerProfileNewBtn").addEventListener("click", function () { saveProfile(true); });
  byId("mixerProfileSaveBtn").addEventListener("click", function () { saveProfile(false); });
  byId("mixerProfileDeleteBtn").addEventListener("click", deleteProfile);
  byId("mixerBrowseFolderBtn").addEventListener("click", browseProfileFolder);
  byId("mixerOpenFolderBtn").addEventListener("click", openProfileFolder);
  byId("mixerDir").addEventListener("input", renderOpenFolderButton);
  byId("mixerDirRefresh").addEventListener("click", loadFiles);
  onPageHook("settings", renderProfiles);
}

// File Browser card: the active profile's clips with search, the clip on the trigger key,
// compatibility and volume chips, and the row actions that open the file dialogs.

Object.assign(state, {
  files: [],
  fileSearchQuery: "",
  selectedFilePath: "",
  volumeHealthRunId: 0
});

var fileDialogs = null;
// The selection the list shows, so a status answer only redraws the list when it changed.
var listedSelectedPath = null;

function loadFiles() {
  var profile = activeProfile(state.settings);
  return postJson("/api/mixer/files", profile ? { profile_id: profile.id } : {}).then(function (result) {
    if (!result.payload.ok) {
      byId("mixerCurrentFile").textContent = describeApiFailure(result, t("errors.files_load_failed"));
      return false;
    }
    showFiles(result.payload.files);
    return true;
  });
}

function showFiles(files) {
  state.files = keepPendingVolumeChecks(state.files, Array.isArray(files) ? files : []);
  renderFiles();
  prepareNewClips();
}

function isSelectedFile(file) {
  return state.selectedFilePath ? file.path === state.selectedFilePath : file.selected === true;
}

function markSelectedFile(path) {
  state.selectedFilePath = path;
  if (state.settings) state.settings.file_path = path;
  state.files.forEach(function (file) { file.selected = file.path === path; });
}

// The clip this page chose last. A status poll already on its way then answers with the clip
// selected before, which must not take the choice back.
var selectionChosenHere = "";
var selectionPollPending = false;

function setSelectedFile(path) {
  selectionChosenHere = path;
  selectionPollPending = state.statusRequestInFlight;
  markSelectedFile(path);
}

function forgetSelectedFile() {
  setSelectedFile("");
}

function shownCompatibility(file) {
  return state.autoPrepareConvertingPaths.has(file.path) ? "converting" : file.compatible_state;
}

function chipElement(text, className) {
  var chip = document.createElement("span");
  chip.className = className;
  chip.textContent = text;
  return chip;
}

function rowAction(key, onClick, options) {
  var button = document.createElement("button");
  button.type = "button";
  button.className = "button button-small" + (options && options.primary ? " button-primary" : "");
  button.textContent = t(key);
  if (options && options.tooltipKey) button.dataset.tooltip = t(options.tooltipKey);
  button.disabled = Boolean(options && options.disabled);
  button.addEventListener("click", onClick);
  return button;
}

// What a click on the row gives: only a ready clip plays on the trigger key; one that needs
// conversion says where it stands.
function fileRowHint(file, compatibility) {
  if (compatibility === "compatible") return t("files.click_to_select");
  if (compatibility === "converting") return t("files.background_preparing");
  var failure = conversionFailures[file.path];
  if (compatibility === "needs_conversion" && failure) return conversionFailureText(failure, t);
  if (compatibility === "needs_conversion" && state.autoPrepareActive) return t("files.background_preparing");
  return t("files.hint_cannot_play");
}

function fileRow(file) {
  var health = volumeHealthOf(file);
  var compatibility = shownCompatibility(file);
  var selected = isSelectedFile(file);
  var row = document.createElement("div");
  row.className = "file-row" + (selected ? " selected" : "");
  row.dataset.path = file.path;

  var select = document.createElement("button");
  select.type = "button";
  select.className = "file-select";
  select.appendChild(chipElement(file.name, "file-name"));
  var hint = fileRowHint(file, compatibility);
  var relative = file.relative_path && file.relative_path !== file.name ? file.relative_path + " | " : "";
  select.appendChild(chipElement(relative + hint, "file-meta"));
  var badges = document.createElement("span");
  badges.className = "file-badges";
  // A selected clip the key cannot play shows why, not that it is on the key.
  if (selected && !clipCannotPlay(compatibility)) {
    badges.appendChild(chipElement(t(compatibility === "converting" ? "files.selected_converting" : "files.selected_for_ptt"),
      "state-chip state-selected"));
  } else {
    var chip = compatibilityChip(compatibility, t);
    badges.appendChild(chipElement(chip.text, chip.className));
  }
  if (file.compatible_state === "compatible") {
    var volume = volumeChip(health, t);
    var volumeElement = chipElement(volume.text, volume.className);
    if (health.state !== "unknown" && health.state !== "checking") {
      volumeElement.dataset.tooltip = t("volume_health.peak_title", { peak: health.peak_dbfs.toFixed(1) + " dBFS" });
    }
    badges.appendChild(volumeElement);
  }
  select.appendChild(badges);
  select.addEventListener("click", function () { selectFile(file); });
  row.appendChild(select);

  var actions = document.createElement("div");
  actions.className = "file-actions";
  actions.appendChild(rowAction("move.open", function () { fileDialogs.openMove(file); }, { tooltipKey: "move.open_title" }));
  actions.appendChild(rowAction("rename.open", function () { fileDialogs.openRename(file); }));
  actions.appendChild(rowAction("merge.open", function () { fileDialogs.openMerge(file); }, {
    disabled: file.compatible_state !== "compatible", tooltipKey: file.compatible_state === "compatible" ? "" : "merge.compatible_only"
  }));
  var fix = volumeFixRecommended(health);
  actions.appendChild(rowAction(fix ? "volume_health.fix_volume" : "volume_health.manual_normalize",
    function () { fileDialogs.openNormalize(file); }, { primary: fix, disabled: !normalizeAllowed(health) }));
  actions.appendChild(rowAction("common.delete", function () { fileDialogs.openDelete(file); }, { tooltipKey: "delete.open_title" }));
  row.appendChild(actions);
  return row;
}

// Draws the list; unless the volume check itself asked for the redraw, the shown clips that
// were never checked are checked next.
function renderFiles(fromVolumeCheck) {
  var list = byId("mixerFiles");
  var shown = searchClips(state.files, clipSearchQuery(state.fileSearchQuery));
  list.textContent = "";
  if (state.files.length === 0 || shown.length === 0) {
    list.appendChild(chipElement(t(state.files.length === 0 ? "files.no_supported" : "files.no_match"), "file-list-empty"));
  }
  shown.forEach(function (file) { list.appendChild(fileRow(file)); });
  renderCurrentFile();
  if (!fromVolumeCheck) {
    runVolumeHealthCheck({
      state: state,
      post: postJson,
      redraw: function () { renderFiles(true); },
      arrived: function (verdicts) { fileDialogs.volumeHealthArrived(verdicts); }
    }, shown);
  }
}

// The selected clip's state: the list's while it is being converted, else the status' verdict
// (which knows a clip deleted since the list was read), else the list's.
function selectedClipState() {
  if (!state.selectedFilePath) return "none";
  var selected = state.files.find(isSelectedFile);
  if (selected && shownCompatibility(selected) === "converting") return "converting";
  if (state.selectedFileStatus.path === state.selectedFilePath) return state.selectedFileStatus.state;
  return selected ? selected.compatible_state : "unknown";
}

function selectedClipName() {
  var selected = state.files.find(isSelectedFile);
  return selected ? selected.name : clipFileName(state.selectedFilePath);
}

function renderCurrentFile() {
  listedSelectedPath = state.selectedFilePath;
  var name = selectedClipName();
  var clipState = selectedClipState();
  var line = name ? t("files.selected_prefix", { name: name }) : t("files.selected_none");
  if (name && clipCannotPlay(clipState)) line += " " + t("files.selected_unplayable");
  byId("mixerCurrentFile").textContent = line;
  renderSelectedFileState(clipState);
}

function selectFile(file) {
  return postJson("/api/mixer/set", { file_path: file.path }).then(function (result) {
    if (!result.payload.ok) {
      showMixerStatus(describeApiFailure(result, t("errors.file_select_failed")), 0, "clip");
      // A clip deleted since the list was read: the list is read again without it.
      if (result.payload.code === "file_not_found") loadFiles();
      return false;
    }
    setSelectedFile(file.path);
    var mixer = result.payload.mixer;
    if (mixer && mixer.file_path === file.path) takeSelectedFileStatus(mixer);
    renderFiles();
    settleMixerStatus("clip");
    renderMixerStatusLine();
    return true;
  });
}

function renderFileSearch() {
  state.fileSearchQuery = byId("mixerFileSearch").value;
  byId("mixerFileSearchClearBtn").hidden = state.fileSearchQuery === "";
  renderFiles();
}

// The selection can change outside this page (Quick Play, a deleted or converted clip).
function followStatusSelection() {
  if (selectionPollPending) {
    selectionPollPending = false;
    markSelectedFile(selectionChosenHere);
    return;
  }
  if (state.selectedFilePath === listedSelectedPath) {
    renderCurrentFile();
    return;
  }
  markSelectedFile(state.selectedFilePath);
  renderFiles();
}

function createMainPageFileDialogs() {
  return createFileDialogs({
    prefix: "file",
    overlays: {
      move: "fileMoveModal", rename: "fileRenameModal", merge: "fileMergeModal",
      normalize: "fileNormalizeModal", remove: "fileDeleteConfirmModal"
    },
    state: state,
    t: t,
    post: postJson,
    removeFile: function (body) { return deleteJson("/api/mixer/files/delete", body); },
    describeFailure: describeApiFailure,
    files: function () { return state.files; },
    mergeOrder: function () { return state.files; },
    selectedPath: function () { return state.selectedFilePath; },
    pathsMoved: function (answer) {
      if (answer.ptt_path_updated === true) setSelectedFile(answer.new_path);
      if (answer.panic_path_updated === true && state.settings) state.settings.panic_file_path = answer.new_path;
    },
    forgetFile: function (path) {
      state.files = state.files.filter(function (file) { return file.path !== path; });
      renderFiles(true);
    },
    forgetSelection: forgetSelectedFile,
    reload: function () {
      return loadFiles().then(function (listed) {
        return refreshStatus().then(function () { return listed; });
      });
    },
    showResult: showMixerStatus
  });
}

function wireFileBrowser() {
  fileDialogs = createMainPageFileDialogs();
  byId("mixerFileSearch").addEventListener("input", renderFileSearch);
  byId("mixerFileSearchClearBtn").addEventListener("click", function () {
    byId("mixerFileSearch").value = "";
    renderFileSearch();
    byId("mixerFileSearch").focus();
  });
  document.addEventListener("keydown", function (event) {
    if (event.key === "Escape") fileDialogs.closeFirstOpen();
  });
  onPageHook("status", followStatusSelection);
  onPageHook("files", loadFiles);
  // Defaults in force: no clip chosen, no analysis, and the default profile's folder prepared.
  onPageHook("reset", function () {
    forgetSelectedFile();
    clearAnalyzer();
    triggerAutoPrepareForActiveProfile();
    return loadFiles();
  });
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      renderFiles(true);
      fileDialogs.rerender();
    });
  }
}

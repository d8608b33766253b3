// Quick Play's clip list: the ready clips of the active profile by category and search, one click
// to put a clip on the trigger key, and the row actions that open the shared file dialogs.

Object.assign(playState, { volumeHealthRunId: 0 });

var playFileDialogs = null;

function playCategoryKey(text) {
  return String(text == null ? "" : text).trim().toLowerCase();
}

// The answer's categories, then each file's, trimmed; the first spelling of a name is kept.
function playCollectCategories(answerCategories, files) {
  var seen = {};
  var categories = [];
  (Array.isArray(answerCategories) ? answerCategories : []).concat(files.map(function (file) { return file.category; }))
    .forEach(function (category) {
      var text = String(category == null ? "" : category).trim();
      if (text === "" || seen[text.toLowerCase()]) return;
      seen[text.toLowerCase()] = true;
      categories.push(text);
    });
  return categories;
}

function playSetCategories(categories) {
  playState.categories = categories;
  var active = playCategoryKey(playState.activeCategory);
  if (playState.activeCategory !== PLAY_ALL_CATEGORY &&
      !categories.some(function (category) { return playCategoryKey(category) === active; })) {
    playState.activeCategory = PLAY_ALL_CATEGORY;
  }
}

function playLoadFiles() {
  var profile = playActiveProfile(playState.settings || {});
  return playPostJson("/api/mixer/files", profile ? { profile_id: profile.id } : {}).then(function (result) {
    if (!result.payload.ok) {
      playShowNotice(playDescribeFailure(result, playT("errors.files_load_failed")));
      return false;
    }
    var files = Array.isArray(result.payload.files) ? result.payload.files : [];
    playState.files = keepPendingVolumeChecks(playState.files, files);
    playSetCategories(playCollectCategories(result.payload.categories, files));
    playRenderList();
    // Clips that came into the folder since and need conversion are prepared as at opening.
    if (!playState.autoPrepareActive && newClipsToPrepare(files).length > 0) playAutoPrepare();
    return true;
  });
}

function playReloadFilesAndStatus() {
  return playLoadFiles().then(function (listed) {
    return playRefreshStatus().then(function () { return listed; });
  });
}

function playVisibleFiles() {
  var active = playCategoryKey(playState.activeCategory);
  var ready = playState.files.filter(function (file) {
    return file.compatible_state === "compatible" &&
      (playState.activeCategory === PLAY_ALL_CATEGORY || playCategoryKey(file.category) === active);
  });
  return searchClips(ready, clipSearchQuery(playById("playSearchInput").value));
}

function playElement(tag, className, text) {
  var element = document.createElement(tag);
  if (className) element.className = className;
  if (text !== undefined) element.textContent = text;
  return element;
}

function playRenderCategoryBar() {
  var bar = playById("playCategoryBar");
  bar.textContent = "";
  [PLAY_ALL_CATEGORY].concat(playState.categories).forEach(function (category) {
    var button = playElement("button", "play-button", category === PLAY_ALL_CATEGORY ? playT("play.category_all") : category);
    button.type = "button";
    var active = category === PLAY_ALL_CATEGORY ? playState.activeCategory === PLAY_ALL_CATEGORY
      : playCategoryKey(category) === playCategoryKey(playState.activeCategory);
    button.classList.toggle("active", active);
    button.addEventListener("click", function () {
      playState.activeCategory = category;
      playRenderList();
    });
    bar.appendChild(button);
  });
}

function playRowAction(key, onClick, options) {
  var button = playElement("button", "play-button play-small" + (options && options.recommended ? " recommended" : ""), playT(key));
  button.type = "button";
  var tip = playT(options && options.tooltipKey ? options.tooltipKey : key);
  button.dataset.tooltip = tip;
  button.setAttribute("aria-label", tip);
  button.disabled = Boolean(options && options.disabled);
  button.addEventListener("click", onClick);
  return button;
}

function playFileRow(file) {
  var selected = file.path === playState.selectedFilePath;
  var health = volumeHealthOf(file);
  var row = playElement("div", "play-row" + (selected ? " selected" : ""));
  row.dataset.path = file.path;

  var select = playElement("button", "play-select");
  select.type = "button";
  select.appendChild(playElement("span", "play-name", file.name));
  var meta = playElement("span", "play-meta",
    file.relative_path && file.relative_path !== file.name ? file.relative_path : playT("play.select_hint"));
  var chip = volumeChip(health, playT);
  meta.appendChild(playElement("span", chip.className, chip.text));
  if (selected) meta.appendChild(playElement("span", "state-chip state-selected", playT("files.selected_for_ptt")));
  select.appendChild(meta);
  select.addEventListener("click", function () { playSelectFile(file); });
  row.appendChild(select);

  var actions = playElement("div", "play-row-actions");
  actions.appendChild(playRowAction("trim.open_editor", function () { playTrimOpen(file); }));
  actions.appendChild(playRowAction("move.open", function () { playFileDialogs.openMove(file); }));
  actions.appendChild(playRowAction("rename.open", function () { playFileDialogs.openRename(file); }));
  actions.appendChild(playRowAction("merge.open", function () { playFileDialogs.openMerge(file); }));
  var fix = volumeFixRecommended(health);
  actions.appendChild(playRowAction(fix ? "volume_health.fix_volume" : "normalize.open",
    function () { playFileDialogs.openNormalize(file); }, { recommended: fix, disabled: !normalizeAllowed(health) }));
  actions.appendChild(playRowAction("playback.voice_custom_delete", function () { playFileDialogs.openDelete(file); },
    { tooltipKey: "delete.open_title" }));
  row.appendChild(actions);
  return row;
}

// Draws the bar and the list; unless the volume check asked for the redraw, the shown clips that
// were never checked are checked next.
function playRenderList(fromVolumeCheck) {
  playRenderCategoryBar();
  var query = clipSearchQuery(playById("playSearchInput").value);
  playById("playSearchClearBtn").hidden = playById("playSearchInput").value === "";
  var shown = playVisibleFiles();
  var list = playById("playList");
  list.textContent = "";
  if (shown.length === 0) {
    list.appendChild(playElement("p", "play-empty",
      playT(query.length >= CLIP_SEARCH_MIN_LENGTH ? "play.empty_no_match" : "play.empty_no_ready")));
  }
  shown.forEach(function (file) { list.appendChild(playFileRow(file)); });
  playRenderSelectedBar();
  if (!fromVolumeCheck) {
    runVolumeHealthCheck({
      state: playState,
      post: playPostJson,
      redraw: function () { playRenderList(true); },
      arrived: function (verdicts) { playFileDialogs.volumeHealthArrived(verdicts); }
    }, shown);
  }
}

// The clip on the trigger key, and whether the key can play it: a clip that cannot play is not in
// the list below, so the bar names it and says why; without a run the key plays nothing yet.
function playRenderSelectedBar() {
  var path = playState.selectedFilePath;
  var selected = playState.files.find(function (file) { return file.path === path; });
  playById("playSelectedFile").textContent = !path ? playT("play.none_selected")
    : (selected ? selected.name : clipFileName(path));
  var cannotPlay = path !== "" && clipCannotPlay(playState.selectedFileState);
  var chip = playById("playSelectedState");
  chip.hidden = !cannotPlay;
  if (cannotPlay) {
    var shown = compatibilityChip(playState.selectedFileState, playT);
    chip.textContent = shown.text;
    chip.className = shown.className;
  }
  var hint = playById("playSelectedHint");
  if (cannotPlay) hint.textContent = playT("files.selected_unplayable");
  else if (playState.statusAnswered && playState.mixerRunning) hint.textContent = playT("play.ptt_explanation");
  else hint.textContent = playT("play.ptt_needs_mixer");
  hint.classList.toggle("play-cannot-play", cannotPlay);
}

function playMarkSelected(path) {
  playState.selectedFilePath = path;
  if (playState.settings) playState.settings.file_path = path;
  playState.files.forEach(function (file) { file.selected = file.path === path; });
}

// The page's own change of the selected clip, which an older status answer must not undo.
function playSelectionChanged(path) {
  playState.selectionRevision += 1;
  playMarkSelected(path);
}

function playSelectFile(file) {
  return playPostJson("/api/mixer/set", { file_path: file.path }).then(function (result) {
    if (!result.payload.ok) {
      playShowNotice(playDescribeFailure(result, playT("errors.file_select_failed")));
      // A clip deleted since the list was read: the list is read again without it.
      if (result.payload.code === "file_not_found") playLoadFiles();
      return;
    }
    playSelectionChanged(file.path);
    var mixer = result.payload.mixer || {};
    playState.selectedFileState = mixer.file_path === file.path && mixer.file_compatible_state
      ? mixer.file_compatible_state : file.compatible_state;
    playRenderList(true);
  });
}

function playCreateFileDialogs() {
  return createFileDialogs({
    prefix: "play",
    overlays: {
      move: "playMoveModalOverlay", rename: "playRenameModalOverlay", merge: "playMergeModalOverlay",
      normalize: "playNormalizeModalOverlay", remove: "playDeleteConfirmOverlay"
    },
    state: playState,
    t: playT,
    post: playPostJson,
    removeFile: function (body) { return playDeleteJson("/api/mixer/files/delete", body); },
    describeFailure: playDescribeFailure,
    files: function () { return playState.files; },
    mergeOrder: playVisibleFiles,
    selectedPath: function () { return playState.selectedFilePath; },
    pathsMoved: function (answer, oldPath) {
      if (answer.ptt_path_updated === true) playSelectionChanged(answer.new_path);
      if (answer.panic_path_updated === true && playState.settings) playState.settings.panic_file_path = answer.new_path;
      // The editor holds the clip by its old path, which no longer exists.
      if (playState.trim.file && playState.trim.file.path === oldPath) playTrimClose();
    },
    forgetFile: function (path) {
      playState.files = playState.files.filter(function (file) { return file.path !== path; });
      playSetCategories(playCollectCategories([], playState.files));
      playRenderList(true);
    },
    forgetSelection: function () { playSelectionChanged(""); },
    reload: playReloadFilesAndStatus,
    showResult: playShowNotice
  });
}

function playWireClipList() {
  playFileDialogs = playCreateFileDialogs();
  var search = playById("playSearchInput");
  search.addEventListener("input", function () { playRenderList(); });
  playById("playSearchClearBtn").addEventListener("click", function () {
    search.value = "";
    playRenderList();
    search.focus();
  });
  document.addEventListener("keydown", function (event) {
    if (event.key !== "Escape" || playFileDialogs.closeFirstOpen()) return;
    if (!playById("playTrimModalOverlay").hidden) playTrimClose();
    else if (!playById("playTrimWarningOverlay").hidden) playTrimCloseWarning();
  });
}

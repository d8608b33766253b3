// Automatic preparation of the active profile's folder, on the main page: one run at a time; a
// trigger during a run queues exactly one more run, which starts when the current one ends.

Object.assign(state, {
  autoPrepareRunId: 0,
  autoPrepareActive: false,
  autoPreparePhase: "idle",
  autoPrepareQueued: false,
  autoPrepareFolderKey: "",
  autoPrepareConvertingPaths: new Set(),
  autoPrepareSummary: 0
});

function renderAutoPrepareStatus() {
  var chip = byId("mixerAutoPrepareStatus");
  chip.hidden = state.autoPreparePhase === "idle";
  chip.className = "state-chip state-busy";
  chip.textContent = state.autoPreparePhase === "converting"
    ? t("files.preparing_count", { count: state.autoPrepareSummary }) : t("files.scanning");
  var notice = byId("mixerAutoPrepareNotice");
  notice.hidden = state.autoPreparePhase === "idle" || autoPrepareFolderSeen(state.autoPrepareFolderKey);
  notice.textContent = t("files.preparing");
}

function setAutoPreparePhase(phase) {
  state.autoPreparePhase = phase;
  renderAutoPrepareStatus();
}

function triggerAutoPrepareForActiveProfile() {
  if (!state.settings) return Promise.resolve();
  if (state.autoPrepareActive) {
    state.autoPrepareQueued = true;
    return Promise.resolve();
  }
  var runId = state.autoPrepareRunId + 1;
  state.autoPrepareRunId = runId;
  state.autoPrepareActive = true;
  var isCurrent = function () { return state.autoPrepareRunId === runId; };

  function finish() {
    if (!isCurrent()) return;
    state.autoPrepareActive = false;
    state.autoPrepareConvertingPaths = new Set();
    setAutoPreparePhase("idle");
    renderFiles(true);
    if (state.autoPrepareQueued) {
      state.autoPrepareQueued = false;
      triggerAutoPrepareForActiveProfile();
    } else {
      // A list read while this run went on may hold clips that came meanwhile.
      prepareNewClips();
    }
  }

  var profile = activeProfile(state.settings);
  if (!profile || !profile.audio_dir) {
    finish();
    return Promise.resolve();
  }
  state.autoPrepareFolderKey = autoPrepareFolderKey(profile);
  setAutoPreparePhase("scanning");
  return prepareProfileFolder({
    post: postJson,
    describeFailure: describeApiFailure,
    t: t,
    profileId: profile.id,
    folderKey: state.autoPrepareFolderKey,
    listed: state.files,
    isCurrent: isCurrent,
    converting: function (paths) {
      state.autoPrepareConvertingPaths = new Set(paths);
      state.autoPrepareSummary = paths.length;
      setAutoPreparePhase("converting");
      renderFiles(true);
    },
    failed: showMixerStatus
  }).then(function (outcome) {
    if (outcome !== "converted" && outcome !== "conversion_failed") return null;
    return loadFiles().then(refreshStatus);
  }).catch(function (error) {
    showMixerStatus(errorMessage(error, t("errors.auto_prepare_failed")));
  }).then(finish);
}

// Clips that need conversion and came into the list since the last run are prepared as a
// changed folder is. The triggers that start a run (boot, a profile change) start it before the
// list is read, so the list finds it running.
function prepareNewClips() {
  var profile = activeProfile(state.settings);
  if (profile && profile.audio_dir && !state.autoPrepareActive && newClipsToPrepare(state.files).length > 0) {
    triggerAutoPrepareForActiveProfile();
  }
}

function wireAutoPrepare() {
  if (window.ZennicI18n) window.ZennicI18n.onChange(renderAutoPrepareStatus);
}

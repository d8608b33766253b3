// Automatic preparation of the active profile's folder when Quick Play opens, and when a list
// shows clips that came since. A new run voids the later steps of any earlier one; there is no
// queue.

Object.assign(playState, {
  autoPrepareRunId: 0,
  autoPrepareActive: false,
  autoPrepareConvertingPaths: []
});

function playRenderPrepChip(folderKey) {
  var chip = playById("playPrepChip");
  chip.hidden = !playState.autoPrepareActive;
  chip.textContent = playState.autoPrepareConvertingPaths.length
    ? playT("files.preparing_count", { count: playState.autoPrepareConvertingPaths.length }) : playT("files.scanning");
  if (playState.autoPrepareActive && !autoPrepareFolderSeen(folderKey)) playShowNotice(playT("files.preparing"));
}

function playAutoPrepare() {
  var profile = playActiveProfile(playState.settings || {});
  if (!profile || !profile.audio_dir) return Promise.resolve();
  var runId = playState.autoPrepareRunId + 1;
  playState.autoPrepareRunId = runId;
  playState.autoPrepareActive = true;
  playState.autoPrepareConvertingPaths = [];
  var isCurrent = function () { return playState.autoPrepareRunId === runId; };
  var folderKey = autoPrepareFolderKey(profile);
  var firstTime = !autoPrepareFolderSeen(folderKey);
  playRenderPrepChip(folderKey);
  return prepareProfileFolder({
    post: playPostJson,
    describeFailure: playDescribeFailure,
    t: playT,
    profileId: profile.id,
    folderKey: folderKey,
    listed: playState.files,
    isCurrent: isCurrent,
    converting: function (paths) {
      playState.autoPrepareConvertingPaths = paths;
      playRenderPrepChip(folderKey);
    },
    failed: playShowNotice,
    // This list shows ready clips only: one that could not be made ready is named here.
    notConverted: function (results) {
      var texts = notConvertedTexts(results, playT);
      if (texts.length) playShowNotice(texts.join(" "));
    }
  }).then(function (outcome) {
    if (outcome === "nothing") return playLoadFiles();
    if (outcome === "converted" || outcome === "conversion_failed") return playReloadFilesAndStatus();
    return null;
  }).catch(function (error) {
    if (isCurrent()) playShowNotice(error && error.message ? error.message : playT("errors.auto_prepare_failed"));
  }).then(function () {
    if (!isCurrent()) return;
    playState.autoPrepareActive = false;
    playState.autoPrepareConvertingPaths = [];
    playRenderPrepChip(folderKey);
    // The first-run notice goes once the run is over, unless a failure took its place.
    var notice = playById("playNotice");
    if (firstTime && notice.textContent === playT("files.preparing")) notice.hidden = true;
  });
}

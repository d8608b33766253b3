// The automatic preparation both pages run on the active profile's folder: analyse it, then
// convert every file that needs it and can be converted. It never overwrites: when the converted
// name is already taken (the user's own "intro.wav" beside "intro.mp3") that file fails with
// "target_exists" and both files stay as they are. The "seen" memory only decides whether the
// first-run notice shows; it never skips a run.

var AUTO_PREPARE_SEEN_KEY = "zennic.auto_prepare.v1.seen";

function autoPrepareFolderKey(profile) {
  return String(profile && profile.audio_dir ? profile.audio_dir : "").trim().toLowerCase();
}

function readAutoPrepareSeen() {
  try {
    var seen = JSON.parse(window.localStorage.getItem(AUTO_PREPARE_SEEN_KEY));
    return seen && typeof seen === "object" && !Array.isArray(seen) ? seen : {};
  } catch (ignored) {
    return {};
  }
}

function autoPrepareFolderSeen(folderKey) {
  return readAutoPrepareSeen()[folderKey] === true;
}

function markAutoPrepareFolderSeen(folderKey) {
  var seen = readAutoPrepareSeen();
  seen[folderKey] = true;
  try {
    window.localStorage.setItem(AUTO_PREPARE_SEEN_KEY, JSON.stringify(seen));
  } catch (ignored) {
    // Without storage the notice shows again next time; nothing else depends on it.
  }
}

// run: post(path, body), describeFailure(result, fallback), t(key), profileId, folderKey,
// isCurrent() (false once a newer run took over), converting(paths), failed(text).
// Resolves to "stale", "failed", "nothing", "converted" or "conversion_failed".
function prepareProfileFolder(run) {
  return run.post("/api/mixer/analyze", { profile_id: run.profileId }).then(function (analysed) {
    if (!run.isCurrent()) return "stale";
    if (!analysed.payload.ok) {
      run.failed(run.describeFailure(analysed, run.t("errors.auto_prepare_failed")));
      return "failed";
    }
    var paths = (Array.isArray(analysed.payload.files) ? analysed.payload.files : []).filter(function (file) {
      return file && file.compatibility_state === "needs_conversion" && file.convertible === true;
    }).map(function (file) { return file.path; });
    if (paths.length === 0) {
      markAutoPrepareFolderSeen(run.folderKey);
      return "nothing";
    }
    run.converting(paths);
    return run.post("/api/mixer/convert", { paths: paths, keep_originals: true, overwrite_existing: false })
      .then(function (converted) {
        if (!run.isCurrent()) return "stale";
        if (!converted.payload.ok) {
          run.failed(run.describeFailure(converted, run.t("errors.auto_conversion_failed")));
          return "conversion_failed";
        }
        markAutoPrepareFolderSeen(run.folderKey);
        return "converted";
      });
  });
}

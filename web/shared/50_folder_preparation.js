// The automatic preparation both pages run on the active profile's folder: analyse it, then
// convert every file that needs it and can be converted. It never overwrites: when the converted
// name is already taken (the user's own "intro.wav" beside "intro.mp3") that file fails with
// "target_exists" and both files stay as they are. The "seen" memory only decides whether the
// first-run notice shows; it never skips a run. A clip that needs conversion and turns up in a
// list later (copied into the folder, found by Refresh Files) is prepared as a changed folder
// is, once per file as it stands.

var AUTO_PREPARE_SEEN_KEY = "zennic.auto_prepare.v1.seen";
// The clips a run took on, by path and size.
var autoPrepareTakenClips = {};
// Why a clip was not converted, by path: the code and message of its conversion's item.
var conversionFailures = {};

function clipStandingKey(file) {
  return file.path + "|" + file.size_bytes;
}

// Clips of a list (`stateKey`: "compatible_state") or an analysis ("compatibility_state") that
// need conversion.
function clipsNeedingConversion(files, stateKey) {
  return (Array.isArray(files) ? files : []).filter(function (file) {
    return file && file[stateKey] === "needs_conversion";
  });
}

// A list's clips that need conversion and that no run has taken on yet.
function newClipsToPrepare(files) {
  return clipsNeedingConversion(files, "compatible_state").filter(function (file) {
    return !autoPrepareTakenClips[clipStandingKey(file)];
  });
}

function takeOnClips(files) {
  files.forEach(function (file) { autoPrepareTakenClips[clipStandingKey(file)] = true; });
}

// Why a conversion item failed, in the user's language where the code has a text; a generic
// failure's own sentence says more than its code.
function conversionFailureText(failure, t) {
  var message = typeof failure.message === "string" ? failure.message : "";
  return failure.code && failure.code !== "conversion_failed" ? t("errors." + failure.code, null, message) : message;
}

// "Not converted: <name> (<why>)" for each failed item of a conversion's answer.
function notConvertedTexts(results, t) {
  return (Array.isArray(results) ? results : []).filter(function (item) {
    return item && item.status === "failed";
  }).map(function (item) {
    return t("files.not_converted", { name: clipFileName(item.source_path), reason: conversionFailureText(item, t) });
  });
}

function rememberConversionOutcomes(results) {
  (Array.isArray(results) ? results : []).forEach(function (item) {
    if (!item || typeof item.source_path !== "string") return;
    if (item.status === "failed") conversionFailures[item.source_path] = { code: item.code || "", message: item.message || "" };
    else delete conversionFailures[item.source_path];
  });
}

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
// listed (the page's list, whose clips the run takes on), isCurrent() (false once a newer run
// took over), converting(paths), failed(text), notConverted(results) (the answer's items).
// Resolves to "stale", "failed", "nothing", "converted" or "conversion_failed".
function prepareProfileFolder(run) {
  takeOnClips(clipsNeedingConversion(run.listed, "compatible_state"));
  return run.post("/api/mixer/analyze", { profile_id: run.profileId }).then(function (analysed) {
    if (!run.isCurrent()) return "stale";
    if (!analysed.payload.ok) {
      run.failed(run.describeFailure(analysed, run.t("errors.auto_prepare_failed")));
      return "failed";
    }
    var needing = clipsNeedingConversion(analysed.payload.files, "compatibility_state");
    takeOnClips(needing);
    var paths = needing.filter(function (file) {
      return file.convertible === true;
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
        rememberConversionOutcomes(converted.payload.results);
        if (run.notConverted) run.notConverted(converted.payload.results);
        markAutoPrepareFolderSeen(run.folderKey);
        return "converted";
      });
  });
}

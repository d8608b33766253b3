// Rules both pages apply to their clip lists: the search and its order, a clip's compatibility
// chip and whether the trigger key can play it, the volume verdict of an entry with its chip, and
// the volume check that asks the program in batches.

var CLIP_SEARCH_MIN_LENGTH = 3;
var VOLUME_HEALTH_BATCH_SIZE = 8;

var VOLUME_CHIPS = {
  volume_ok: ["volume_health.ok", "volume-ok"],
  quiet: ["volume_health.quiet", "volume-quiet"],
  very_quiet: ["volume_health.very_quiet", "volume-very-quiet"],
  near_clipping: ["volume_health.near_clipping", "volume-near-clipping"],
  silent: ["volume_health.silent", "volume-silent"],
  checking: ["volume_health.checking", "volume-checking"]
};

var COMPATIBILITY_CHIPS = {
  compatible: ["files.state.compatible", "state-chip state-good"],
  converting: ["files.state.converting", "state-chip state-busy"],
  needs_conversion: ["files.state.needs_conversion", "state-chip state-warn"],
  unsupported: ["files.state.unsupported", "state-chip state-bad"],
  error: ["common.error", "state-chip state-bad"],
  missing: ["files.state.missing", "state-chip state-bad"],
  none: ["files.none_selected", "state-chip"]
};

// The text and class of a clip's compatibility chip.
function compatibilityChip(compatibilityState, translate) {
  var chip = COMPATIBILITY_CHIPS[compatibilityState] || ["errors.unknown_short", "state-chip"];
  return { text: translate(chip[0]), className: chip[1] };
}

// States of a selected clip that the engine refuses to load: the trigger key would play nothing.
// A clip being converted is on its way to playing, and "unknown" claims nothing either way.
function clipCannotPlay(compatibilityState) {
  return ["needs_conversion", "unsupported", "error", "missing"].indexOf(compatibilityState) >= 0;
}

// The last part of a path, for a selected clip that no list holds any more. In a path with "/"
// a backslash may be part of a name.
function clipFileName(path) {
  var text = String(path || "");
  return text.slice(text.lastIndexOf(text.indexOf("/") >= 0 ? "/" : "\\") + 1);
}

function clipSearchQuery(text) {
  return String(text || "").trim().toLowerCase();
}

// The files a query shows: all of them in list order below three characters; else those whose
// name or relative path holds the query, names that start with it first, then by where the name
// holds it (a match in the path alone counts as -1), then shorter names, then by name.
function searchClips(files, query) {
  if (query.length < CLIP_SEARCH_MIN_LENGTH) return files.slice();
  return files.map(function (file) {
    var name = String(file.name || "").toLowerCase();
    return { file: file, name: name, position: name.indexOf(query) };
  }).filter(function (entry) {
    return entry.position >= 0 || String(entry.file.relative_path || "").toLowerCase().indexOf(query) >= 0;
  }).sort(function (a, b) {
    var startsA = a.position === 0 ? 0 : 1;
    var startsB = b.position === 0 ? 0 : 1;
    if (startsA !== startsB) return startsA - startsB;
    if (a.position !== b.position) return a.position - b.position;
    if (a.name.length !== b.name.length) return a.name.length - b.name.length;
    return a.name.localeCompare(b.name);
  }).map(function (entry) { return entry.file; });
}

// An entry's volume verdict; one never checked reads as unknown.
function volumeHealthOf(file) {
  var health = file && file.volume_health && typeof file.volume_health === "object" ? file.volume_health : {};
  return {
    state: typeof health.state === "string" && health.state ? health.state : "unknown",
    peak_dbfs: typeof health.peak_dbfs === "number" ? health.peak_dbfs : -120,
    normalize_recommended: health.normalize_recommended === true,
    recommended_target_peak_dbfs: typeof health.recommended_target_peak_dbfs === "number"
      ? health.recommended_target_peak_dbfs : -1,
    can_normalize: health.can_normalize !== false,
    error_code: typeof health.error_code === "string" ? health.error_code : ""
  };
}

function volumeChip(health, translate) {
  var chip = VOLUME_CHIPS[health.state] || ["volume_health.unknown", "volume-unknown"];
  return { text: translate(chip[0]), className: "volume-chip " + chip[1] };
}

function volumeFixRecommended(health) {
  return health.state === "quiet" || health.state === "very_quiet" || health.normalize_recommended;
}

function normalizeAllowed(health) {
  return health.state !== "silent" && health.error_code !== "file_unsupported";
}

function setVolumeHealth(files, paths, health) {
  files.forEach(function (file) {
    if (paths.indexOf(file.path) >= 0) file.volume_health = Object.assign({}, health);
  });
}

// Checks the volume of the shown compatible clips not yet checked, eight paths per request and
// one request at a time. A newer run makes this one stop after its current request, whose
// answer is still kept: its clips are marked "checking" and no other run asks for them.
// page: state (with files and volumeHealthRunId), post(path, body), redraw(), arrived(verdicts).
function runVolumeHealthCheck(page, shownFiles) {
  var runId = page.state.volumeHealthRunId + 1;
  page.state.volumeHealthRunId = runId;
  var paths = shownFiles.filter(function (file) {
    var health = volumeHealthOf(file);
    return file.compatible_state === "compatible" && health.state === "unknown" && !health.error_code;
  }).map(function (file) { return file.path; });

  function nextBatch(offset) {
    if (offset >= paths.length || page.state.volumeHealthRunId !== runId) return Promise.resolve();
    var batch = paths.slice(offset, offset + VOLUME_HEALTH_BATCH_SIZE).filter(function (path) {
      return page.state.files.some(function (file) {
        return file.path === path && volumeHealthOf(file).state === "unknown";
      });
    });
    if (batch.length === 0) return nextBatch(offset + VOLUME_HEALTH_BATCH_SIZE);
    setVolumeHealth(page.state.files, batch, { state: "checking" });
    page.redraw();
    return page.post("/api/mixer/files/volume-health", { paths: batch }).then(function (result) {
      if (result.payload.ok && Array.isArray(result.payload.files)) {
        result.payload.files.forEach(function (verdict) {
          if (verdict && typeof verdict.path === "string") setVolumeHealth(page.state.files, [verdict.path], verdict);
        });
        page.arrived(result.payload.files);
      }
      // A failed batch is not asked again in this page's life.
      setVolumeHealth(page.state.files, batch.filter(function (path) {
        return page.state.files.some(function (file) {
          return file.path === path && volumeHealthOf(file).state === "checking";
        });
      }), { state: "unknown", error_code: "volume_health_failed" });
      page.redraw();
      return nextBatch(offset + VOLUME_HEALTH_BATCH_SIZE);
    });
  }
  return nextBatch(0);
}

// A fresh list from the server knows nothing of a check still on its way: such clips stay
// "checking" so that no other run asks for them again.
function keepPendingVolumeChecks(previousFiles, freshFiles) {
  var pending = previousFiles.filter(function (file) {
    return volumeHealthOf(file).state === "checking";
  }).map(function (file) { return file.path; });
  freshFiles.forEach(function (file) {
    if (pending.indexOf(file.path) >= 0 && volumeHealthOf(file).state === "unknown") {
      file.volume_health = { state: "checking" };
    }
  });
  return freshFiles;
}

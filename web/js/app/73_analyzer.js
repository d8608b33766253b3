// Advanced card: analyse the active profile's folder and convert chosen files by hand, with the
// user's own choices about keeping originals and overwriting.

Object.assign(state, {
  analyzerFiles: [],
  analyzerSummary: null,
  selectedAnalyzePaths: new Set()
});

function isConvertibleEntry(file) {
  return file.compatibility_state === "needs_conversion" && file.convertible === true;
}

function clearAnalyzer() {
  state.analyzerFiles = [];
  state.analyzerSummary = null;
  state.selectedAnalyzePaths = new Set();
  renderAnalyzer();
}

function analyzerFormatLine(file) {
  var known = function (value) { return value ? String(value) : "?"; };
  return [known(file.container), known(file.codec), known(file.sample_rate) + " Hz",
    known(file.channels) + " ch", (file.duration_ms || 0) + " ms"].join(" / ");
}

function analyzerRow(file) {
  var row = document.createElement("label");
  row.className = "analyzer-row";
  var box = document.createElement("input");
  box.type = "checkbox";
  box.disabled = !isConvertibleEntry(file);
  box.checked = state.selectedAnalyzePaths.has(file.path);
  box.addEventListener("change", function () {
    if (box.checked) state.selectedAnalyzePaths.add(file.path);
    else state.selectedAnalyzePaths.delete(file.path);
  });
  row.appendChild(box);
  var text = document.createElement("span");
  text.className = "analyzer-text";
  text.appendChild(chipElement(file.relative_path || file.name, "file-name"));
  var chip = compatibilityChip(file.compatibility_state, t);
  text.appendChild(chipElement(chip.text, chip.className));
  text.appendChild(chipElement(analyzerFormatLine(file), "file-meta"));
  var issues = Array.isArray(file.issue_messages) && file.issue_messages.length
    ? file.issue_messages.join(", ") : t("advanced.already_matches");
  text.appendChild(chipElement(issues, "file-meta"));
  row.appendChild(text);
  return row;
}

// `note`, when given, leads the summary line (the outcome of a conversion).
function renderAnalyzer(note) {
  var summary = state.analyzerSummary;
  var summaryText = summary ? t("advanced.summary", {
    total: summary.total || 0, compatible: summary.compatible || 0, needs_conversion: summary.needs_conversion || 0,
    unsupported: summary.unsupported || 0, error: summary.error || 0
  }) : t("advanced.no_analysis");
  byId("mixerAnalyzerSummary").textContent = note ? note + " " + summaryText : summaryText;
  var list = byId("mixerAnalyzerList");
  list.textContent = "";
  if (!summary) return;
  var onlyIncompatible = byId("mixerAnalyzerShowIncompatible").checked;
  var shown = state.analyzerFiles.filter(function (file) {
    return !onlyIncompatible || file.compatibility_state !== "compatible";
  });
  if (shown.length === 0) list.appendChild(chipElement(t("advanced.no_files_to_show"), "file-list-empty"));
  shown.forEach(function (file) { list.appendChild(analyzerRow(file)); });
}

function showAnalyzerAlerts(alerts) {
  var texts = (Array.isArray(alerts) ? alerts : []).filter(function (text) {
    return typeof text === "string" && text.trim() !== "";
  });
  var line = byId("mixerAnalyzerAlert");
  line.textContent = texts.join(" ");
  line.hidden = texts.length === 0;
}

function analyzeFolder(note) {
  var profile = activeProfile(state.settings);
  return postJson("/api/mixer/analyze", profile ? { profile_id: profile.id } : {}).then(function (result) {
    if (!result.payload.ok) {
      byId("mixerAnalyzerSummary").textContent = describeApiFailure(result, t("errors.analyze_failed"));
      return false;
    }
    showAnalyzerAlerts(result.payload.alerts);
    state.analyzerFiles = Array.isArray(result.payload.files) ? result.payload.files : [];
    state.analyzerSummary = result.payload.summary || {};
    state.selectedAnalyzePaths = new Set();
    renderAnalyzer(note);
    return true;
  });
}

function selectIncompatibleFiles() {
  state.selectedAnalyzePaths = new Set(state.analyzerFiles.filter(isConvertibleEntry).map(function (file) {
    return file.path;
  }));
  renderAnalyzer();
}

function convertSelectedFiles() {
  var paths = Array.from(state.selectedAnalyzePaths);
  if (paths.length === 0) {
    byId("mixerAnalyzerSummary").textContent = t("advanced.select_first");
    return Promise.resolve(false);
  }
  return postJson("/api/mixer/convert", {
    paths: paths,
    keep_originals: byId("mixerConvertKeepOriginals").checked,
    overwrite_existing: byId("mixerConvertOverwriteExisting").checked
  }).then(function (result) {
    if (!result.payload.ok) {
      byId("mixerAnalyzerSummary").textContent = describeApiFailure(result, t("errors.conversion_failed"));
      return false;
    }
    showAnalyzerAlerts(result.payload.alerts);
    var counts = result.payload.summary || {};
    // Tried by hand: the list that follows does not take them for new clips to prepare.
    takeOnClips(state.analyzerFiles.filter(function (file) { return paths.indexOf(file.path) >= 0; }));
    rememberConversionOutcomes(result.payload.results);
    // Each file that failed is named beside the count, with why.
    var note = [t("advanced.conversion_complete", {
      converted: counts.converted || 0, skipped: counts.skipped || 0, failed: counts.failed || 0
    })].concat(notConvertedTexts(result.payload.results, t)).join(" ");
    return loadFiles().then(function () { return analyzeFolder(note); });
  });
}

function toggleAdvancedPanel() {
  var panel = byId("mixerAdvancedPanel");
  panel.hidden = !panel.hidden;
  renderAdvancedToggle();
}

function renderAdvancedToggle() {
  var open = !byId("mixerAdvancedPanel").hidden;
  var button = byId("mixerAdvancedToggleBtn");
  button.textContent = t(open ? "common.hide_advanced" : "common.show_advanced");
  button.setAttribute("aria-expanded", open ? "true" : "false");
}

function wireAnalyzerCard() {
  byId("mixerAdvancedPanel").hidden = true;
  byId("mixerAdvancedToggleBtn").addEventListener("click", toggleAdvancedPanel);
  byId("mixerAnalyzeBtn").addEventListener("click", function () { analyzeFolder(); });
  byId("mixerAnalyzerSelectAllBtn").addEventListener("click", selectIncompatibleFiles);
  byId("mixerAnalyzerShowIncompatible").addEventListener("change", function () { renderAnalyzer(); });
  byId("mixerConvertBtn").addEventListener("click", convertSelectedFiles);
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () {
      renderAdvancedToggle();
      renderAnalyzer();
    });
  }
}

// The file dialogs of both pages: move (with a new folder on the way), rename, merge, normalise
// and the delete confirmation. A page makes them once with `createFileDialogs(host)`:
//   prefix            element id prefix ("file" on the main page, "play" on Quick Play)
//   overlays          ids of the five overlays: {move, rename, merge, normalize, remove}
//   state             the page state that holds the dialog fields
//   t(key, params)    catalogue lookup; describeFailure(result, fallback) the text of a failure
//   post(path, body), removeFile(body)   the page's requests, which give merge and normalise
//                     their long single attempt; removeFile sends the delete route with DELETE
//   files()           the page's clip list; mergeOrder() the clips merge suggests from, in order
//   selectedPath()    the clip on the trigger key
//   pathsMoved(answer, oldPath)   a move or rename answer's "ptt_path_updated"/"panic_path_updated"
//   forgetFile(path)  drops a clip from the shown list at once
//   forgetSelection() the deleted clip was the selected one
//   reload()          reloads the list and the status; resolves to false when the list failed
//   showResult(text)  where results and failures go once a dialog has closed

var MERGE_GAPS = [0, 0.5, 1, 2];
var NORMALIZE_TARGETS = [-1, -3, -6];
var NORMALIZE_RECOMMENDATIONS = {
  quiet: "volume_health.modal_quiet",
  very_quiet: "volume_health.modal_very_quiet",
  volume_ok: "volume_health.modal_ok",
  near_clipping: "volume_health.modal_near_clipping",
  silent: "volume_health.modal_silent",
  checking: "volume_health.modal_checking"
};

// Folder paths compare with separators made one backslash, "." as the root, and any case.
function folderKey(path) {
  var key = String(path || "").replace(/[\\/]+/g, "\\");
  if (key === "." || key === ".\\") return "";
  return key.toLowerCase();
}

function folderOfRelativePath(relativePath) {
  var text = String(relativePath || "");
  return text.slice(0, Math.max(0, text.lastIndexOf("/"), text.lastIndexOf("\\")));
}

function clipLabel(file) {
  return file.relative_path || file.name || file.path;
}

function createFileDialogs(host) {
  var s = host.state;
  var t = host.t;
  var moveToken = 0;
  var movePreferredKey = "";
  var normalizeTargetChosen = false;

  Object.assign(s, {
    moveFile: null, moveFolders: [], moveFoldersLoading: false, moveBusy: false, moveCreatingFolder: false,
    renameFile: null, renameBusy: false,
    mergeFile: null, mergeSecondPath: "", mergeBusy: false, mergeOutputEdited: false,
    normalizeFile: null, normalizeBusy: false,
    pendingDeleteFile: null, deleteBusy: false
  });

  function el(name) {
    return document.getElementById(host.prefix + name);
  }

  function overlay(kind) {
    return document.getElementById(host.overlays[kind]);
  }

  function isOpen(kind) {
    return !overlay(kind).hidden;
  }

  // While a request runs, every control of the dialog waits, Cancel too.
  function setControlsDisabled(kind, disabled) {
    overlay(kind).querySelectorAll("input, select, button").forEach(function (control) {
      control.disabled = disabled;
    });
  }

  function freshEntry(file) {
    return host.files().find(function (entry) { return entry.path === file.path; }) || file;
  }

  function showOverlay(kind, focusTarget) {
    overlay(kind).hidden = false;
    if (focusTarget) focusTarget.focus();
  }

  function reloadAndShow(text, refreshFailedText) {
    return host.reload().then(function (listLoaded) {
      host.showResult(listLoaded || !refreshFailedText ? text : refreshFailedText);
    });
  }

  // ---- Move

  function openMove(file) {
    s.moveFile = freshEntry(file);
    s.moveFolders = [];
    s.moveBusy = false;
    s.moveCreatingFolder = false;
    movePreferredKey = "";
    el("MoveName").textContent = s.moveFile.name || "";
    el("MoveCurrentPath").textContent = clipLabel(s.moveFile);
    el("MoveCreateMessage").textContent = "";
    el("MoveMessage").textContent = "";
    el("MoveNewFolderInput").value = "";
    el("MoveDestinationSel").textContent = "";
    showOverlay("move");
    return loadMoveFolders();
  }

  function loadMoveFolders() {
    var token = ++moveToken;
    s.moveFoldersLoading = true;
    el("MoveMessage").textContent = t("move.loading_folders");
    renderMoveControls();
    return host.post("/api/mixer/folders", {}).then(function (result) {
      if (token !== moveToken || !isOpen("move")) return;
      s.moveFoldersLoading = false;
      el("MoveMessage").textContent = "";
      if (!result.payload.ok) {
        s.moveFolders = [];
        el("MoveMessage").textContent = host.describeFailure(result, t("move.folder_load_failed"));
      } else {
        s.moveFolders = (Array.isArray(result.payload.folders) ? result.payload.folders : []).filter(function (folder) {
          return folder && typeof folder.relative_path === "string";
        });
        if (!s.moveFolders.some(function (folder) { return folderKey(folder.relative_path) === ""; })) {
          s.moveFolders.unshift({ relative_path: "", label: "" });
        }
      }
      renderMoveOptions();
    });
  }

  // The folder just created is chosen when it is there, else the one chosen before a redraw,
  // else the first one the clip can move to.
  function renderMoveOptions() {
    var select = el("MoveDestinationSel");
    var previous = select.selectedIndex >= 0 ? select.value : null;
    var currentKey = folderKey(folderOfRelativePath(s.moveFile.relative_path));
    select.textContent = "";
    s.moveFolders.forEach(function (folder) {
      var option = document.createElement("option");
      option.value = folder.relative_path;
      option.disabled = folderKey(folder.relative_path) === currentKey;
      var label = folder.label || folder.relative_path || t("move.root_folder");
      option.textContent = option.disabled ? label + " (" + t("move.current_folder") + ")" : label;
      select.appendChild(option);
    });
    var options = Array.prototype.slice.call(select.options).filter(function (option) { return !option.disabled; });
    var chosen = options.find(function (option) { return movePreferredKey && folderKey(option.value) === movePreferredKey; }) ||
      options.find(function (option) { return option.value === previous; }) || options[0];
    if (chosen) select.value = chosen.value;
    else select.selectedIndex = -1;
    if (!chosen && !s.moveFoldersLoading && !el("MoveMessage").textContent) {
      el("MoveMessage").textContent = t("move.no_destination");
    }
    renderMoveControls();
  }

  function chosenMoveOption() {
    var select = el("MoveDestinationSel");
    return select.selectedIndex >= 0 ? select.options[select.selectedIndex] : null;
  }

  function renderMoveControls() {
    var waiting = s.moveBusy || s.moveCreatingFolder || s.moveFoldersLoading;
    setControlsDisabled("move", waiting);
    el("MoveCancelBtn").disabled = s.moveBusy || s.moveCreatingFolder;
    el("MoveCreateFolderBtn").disabled = waiting || el("MoveNewFolderInput").value === "";
    var option = chosenMoveOption();
    el("MoveConfirmBtn").disabled = waiting || !option || option.disabled;
  }

  function createMoveFolder() {
    if (s.moveBusy || s.moveFoldersLoading || s.moveCreatingFolder) return Promise.resolve(false);
    var name = el("MoveNewFolderInput").value;
    var refusal = checkFolderName(name);
    if (refusal) {
      el("MoveCreateMessage").textContent = t(refusal);
      return Promise.resolve(false);
    }
    s.moveCreatingFolder = true;
    el("MoveCreateMessage").textContent = t("move.create_folder_creating");
    renderMoveControls();
    return host.post("/api/mixer/folders/create", { folder_name: name }).then(function (result) {
      s.moveCreatingFolder = false;
      if (!result.payload.ok) {
        el("MoveCreateMessage").textContent = host.describeFailure(result, t("move.create_folder_failed"));
        renderMoveControls();
        return false;
      }
      var created = typeof result.payload.relative_path === "string" ? result.payload.relative_path : name;
      el("MoveNewFolderInput").value = "";
      el("MoveCreateMessage").textContent = t("move.create_folder_success", { folder: created });
      movePreferredKey = folderKey(created);
      return loadMoveFolders().then(function () { return true; });
    });
  }

  function confirmMove() {
    var option = chosenMoveOption();
    if (el("MoveConfirmBtn").disabled || !option) return Promise.resolve(false);
    if (option.disabled) {
      el("MoveMessage").textContent = t("move.same_destination");
      return Promise.resolve(false);
    }
    var file = s.moveFile;
    s.moveBusy = true;
    el("MoveMessage").textContent = t("move.processing");
    renderMoveControls();
    return host.post("/api/mixer/files/move", { path: file.path, destination_relative_dir: option.value }).then(function (result) {
      s.moveBusy = false;
      if (!result.payload.ok) {
        el("MoveMessage").textContent = host.describeFailure(result, t("move.error"));
        renderMoveControls();
        return false;
      }
      var answer = result.payload;
      host.pathsMoved(answer, file.path);
      closeMove();
      host.forgetFile(file.path);
      var text = t("move.success", { path: answer.new_relative_path || answer.new_path || file.name });
      if (answer.ptt_path_updated === true) text += " " + t("move.ptt_updated");
      return reloadAndShow(text, t("move.success_refresh_failed")).then(function () { return true; });
    });
  }

  function closeMove() {
    moveToken += 1;
    s.moveFile = null;
    s.moveFoldersLoading = false;
    overlay("move").hidden = true;
  }

  // ---- Rename

  function openRename(file) {
    s.renameFile = freshEntry(file);
    s.renameBusy = false;
    el("RenameName").textContent = s.renameFile.name || "";
    el("RenameCurrentPath").textContent = clipLabel(s.renameFile);
    el("RenameMessage").textContent = "";
    var input = el("RenameInput");
    input.value = s.renameFile.name || "";
    renderRenameHint();
    renderRenameControls();
    showOverlay("rename", input);
    input.select();
  }

  function renderRenameHint() {
    var extension = fileExtension(s.renameFile.name || "");
    el("RenameExtensionHint").textContent = extension
      ? t("rename.extension_hint", { extension: extension }) : t("rename.extension_hint_none");
  }

  function renderRenameControls() {
    setControlsDisabled("rename", s.renameBusy);
    el("RenameConfirmBtn").disabled = s.renameBusy || el("RenameInput").value.trim() === "";
  }

  function confirmRename() {
    if (s.renameBusy) return Promise.resolve(false);
    var typed = el("RenameInput").value;
    if (typed.trim() === "") {
      el("RenameMessage").textContent = t("rename.name_required");
      return Promise.resolve(false);
    }
    var file = s.renameFile;
    s.renameBusy = true;
    el("RenameMessage").textContent = t("rename.processing");
    renderRenameControls();
    var body = { path: file.path, new_filename: completeRenameName(file.name || "", typed) };
    return host.post("/api/mixer/files/rename", body).then(function (result) {
      s.renameBusy = false;
      if (!result.payload.ok) {
        el("RenameMessage").textContent = host.describeFailure(result, t("rename.error"));
        renderRenameControls();
        return false;
      }
      var answer = result.payload;
      host.pathsMoved(answer, file.path);
      closeRename();
      var text = t("rename.success", { path: answer.new_relative_path || answer.new_path || answer.new_filename });
      return reloadAndShow(text).then(function () { return true; });
    });
  }

  function closeRename() {
    s.renameFile = null;
    overlay("rename").hidden = true;
  }

  // ---- Output names of merge and normalise

  function renderOutputHint(hintName, inputName) {
    var refusal = checkOutputFilename(el(inputName).value);
    var hint = el(hintName);
    hint.textContent = t(refusal || "export.output_filename_hint");
    hint.classList.toggle("is-invalid", refusal !== "");
    return refusal === "";
  }

  // ---- Merge

  function mergeCandidates() {
    return host.files().filter(function (file) { return file.compatible_state === "compatible"; });
  }

  // The selected clip when it is another one; else the next ready clip after the first,
  // wrapping around; else any other ready clip; else the first clip itself.
  function suggestedSecondPath(first) {
    var selected = host.selectedPath();
    var candidates = mergeCandidates();
    if (selected && selected !== first.path && candidates.some(function (file) { return file.path === selected; })) {
      return selected;
    }
    var ordered = host.mergeOrder().filter(function (file) { return file.compatible_state === "compatible"; });
    var index = ordered.findIndex(function (file) { return file.path === first.path; });
    if (index >= 0 && ordered.length > 1) return ordered[(index + 1) % ordered.length].path;
    var other = candidates.find(function (file) { return file.path !== first.path; });
    return other ? other.path : first.path;
  }

  function suggestedMergeName() {
    var second = mergeCandidates().find(function (file) { return file.path === s.mergeSecondPath; });
    return fileStem(s.mergeFile.name || "") + "_plus_" + fileStem(second ? second.name || "" : "");
  }

  function openMerge(file) {
    s.mergeFile = freshEntry(file);
    s.mergeSecondPath = suggestedSecondPath(s.mergeFile);
    s.mergeBusy = false;
    s.mergeOutputEdited = false;
    el("MergeFirstName").textContent = s.mergeFile.name || "";
    el("MergeSecondSearch").value = "";
    el("MergeGapSel").value = "0.5";
    el("MergeMessage").textContent = "";
    renderMergeSecondList();
    showOverlay("merge", el("MergeConfirmBtn"));
  }

  function renderMergeSecondList() {
    var query = el("MergeSecondSearch").value.trim().toLowerCase();
    var shown = mergeCandidates().filter(function (file) {
      return clipLabel(file).toLowerCase().indexOf(query) >= 0;
    });
    var select = el("MergeSecondSel");
    select.textContent = "";
    if (shown.length === 0) {
      var none = document.createElement("option");
      none.disabled = true;
      none.textContent = t("merge.no_second_clip");
      select.appendChild(none);
      s.mergeSecondPath = "";
    } else {
      if (!shown.some(function (file) { return file.path === s.mergeSecondPath; })) s.mergeSecondPath = shown[0].path;
      shown.forEach(function (file) {
        var option = document.createElement("option");
        option.value = file.path;
        option.textContent = clipLabel(file);
        select.appendChild(option);
      });
      select.value = s.mergeSecondPath;
    }
    if (!s.mergeOutputEdited) el("MergeOutputFilenameInput").value = s.mergeSecondPath ? suggestedMergeName() : "";
    renderMergeControls();
  }

  function renderMergeControls() {
    setControlsDisabled("merge", s.mergeBusy);
    var nameOk = renderOutputHint("MergeOutputFilenameHint", "MergeOutputFilenameInput");
    el("MergeConfirmBtn").disabled = s.mergeBusy || !s.mergeSecondPath || !nameOk;
  }

  function confirmMerge() {
    if (el("MergeConfirmBtn").disabled) return Promise.resolve(false);
    var gap = Number(el("MergeGapSel").value);
    if (MERGE_GAPS.indexOf(gap) < 0) {
      el("MergeMessage").textContent = t("errors.invalid_gap");
      return Promise.resolve(false);
    }
    var body = { first_path: s.mergeFile.path, second_path: s.mergeSecondPath, gap_seconds: gap };
    var typed = el("MergeOutputFilenameInput").value;
    if (s.mergeOutputEdited && typed.trim() !== "") body.output_filename = completeOutputFilename(typed);
    s.mergeBusy = true;
    el("MergeMessage").textContent = t("merge.processing");
    renderMergeControls();
    return host.post("/api/mixer/files/merge", body).then(function (result) {
      s.mergeBusy = false;
      if (!result.payload.ok) {
        el("MergeMessage").textContent = host.describeFailure(result, t("merge.error"));
        renderMergeControls();
        return false;
      }
      var answer = result.payload;
      closeMerge();
      return reloadAndShow(t("merge.success", { path: answer.relative_path || answer.new_filename || answer.new_path }))
        .then(function () { return true; });
    });
  }

  function closeMerge() {
    s.mergeFile = null;
    overlay("merge").hidden = true;
  }

  // ---- Normalise

  function defaultNormalizeTarget(health) {
    if (NORMALIZE_TARGETS.indexOf(health.recommended_target_peak_dbfs) >= 0) {
      return String(health.recommended_target_peak_dbfs);
    }
    return health.state === "near_clipping" ? "-3" : "-1";
  }

  function peakText(health) {
    return health.state === "unknown" ? t("volume_health.peak_unknown") : health.peak_dbfs.toFixed(1) + " dBFS";
  }

  function openNormalize(file) {
    s.normalizeFile = freshEntry(file);
    s.normalizeBusy = false;
    normalizeTargetChosen = false;
    el("NormalizeName").textContent = s.normalizeFile.name || "";
    el("NormalizeCurrentPath").textContent = clipLabel(s.normalizeFile);
    el("NormalizeMessage").textContent = "";
    el("NormalizeOutputFilenameInput").value = fileStem(s.normalizeFile.name || "") + "_normalized";
    renderNormalizeHealth();
    showOverlay("normalize", el("NormalizeTargetSel"));
  }

  function renderNormalizeHealth() {
    var health = volumeHealthOf(s.normalizeFile);
    var target = defaultNormalizeTarget(health);
    if (!normalizeTargetChosen) el("NormalizeTargetSel").value = target;
    el("NormalizePeak").textContent = peakText(health);
    el("NormalizeRecommendation").textContent = t(NORMALIZE_RECOMMENDATIONS[health.state] || "volume_health.modal_unknown",
      { peak: peakText(health), target: target + " dBFS" });
    el("NormalizeConfirmBtn").textContent = t(volumeFixRecommended(health) ? "volume_health.fix_volume" : "normalize.button");
    renderNormalizeControls();
  }

  function renderNormalizeControls() {
    setControlsDisabled("normalize", s.normalizeBusy);
    var nameOk = renderOutputHint("NormalizeOutputFilenameHint", "NormalizeOutputFilenameInput");
    el("NormalizeConfirmBtn").disabled = s.normalizeBusy || !nameOk;
  }

  function confirmNormalize() {
    if (el("NormalizeConfirmBtn").disabled) return Promise.resolve(false);
    var target = Number(el("NormalizeTargetSel").value);
    if (NORMALIZE_TARGETS.indexOf(target) < 0) {
      el("NormalizeMessage").textContent = t("normalize.invalid_target");
      return Promise.resolve(false);
    }
    var body = { path: s.normalizeFile.path, target_peak_dbfs: target };
    var typed = el("NormalizeOutputFilenameInput").value;
    if (typed.trim() !== "") body.output_filename = completeOutputFilename(typed);
    s.normalizeBusy = true;
    el("NormalizeMessage").textContent = t("normalize.processing");
    renderNormalizeControls();
    return host.post("/api/mixer/files/normalize", body).then(function (result) {
      s.normalizeBusy = false;
      if (!result.payload.ok) {
        el("NormalizeMessage").textContent = host.describeFailure(result, t("normalize.error"));
        renderNormalizeControls();
        return false;
      }
      var answer = result.payload;
      closeNormalize();
      return reloadAndShow(t("normalize.success", { path: answer.relative_path || answer.new_filename || answer.new_path }))
        .then(function () { return true; });
    });
  }

  function closeNormalize() {
    s.normalizeFile = null;
    overlay("normalize").hidden = true;
  }

  // A verdict that arrives while the dialog is open updates it.
  function volumeHealthArrived(verdicts) {
    if (!s.normalizeFile || !isOpen("normalize")) return;
    var verdict = verdicts.find(function (entry) { return entry && entry.path === s.normalizeFile.path; });
    if (!verdict) return;
    s.normalizeFile = Object.assign({}, s.normalizeFile, { volume_health: verdict });
    renderNormalizeHealth();
  }

  // ---- Delete

  function openDelete(file) {
    s.pendingDeleteFile = freshEntry(file);
    s.deleteBusy = false;
    var name = el("DeleteConfirmName");
    if (name) name.textContent = s.pendingDeleteFile.name || "";
    setControlsDisabled("remove", false);
    showOverlay("remove", el("DeleteConfirmNoBtn"));
  }

  function confirmDelete() {
    if (s.deleteBusy || !s.pendingDeleteFile) return Promise.resolve(false);
    var file = s.pendingDeleteFile;
    s.deleteBusy = true;
    setControlsDisabled("remove", true);
    return host.removeFile({ path: file.path }).then(function (result) {
      s.deleteBusy = false;
      closeDelete();
      if (!result.payload.ok) {
        host.showResult(host.describeFailure(result, t("delete.error")));
        return false;
      }
      var text = t("delete.success");
      host.forgetFile(file.path);
      if (result.payload.selection_cleared === true || host.selectedPath() === file.path) {
        host.forgetSelection();
        text += " " + t("delete.selection_cleared");
      }
      return reloadAndShow(text).then(function () { return true; });
    });
  }

  function closeDelete() {
    s.pendingDeleteFile = null;
    overlay("remove").hidden = true;
  }

  // ---- Wiring

  var closers = { remove: closeDelete, move: closeMove, rename: closeRename, merge: closeMerge, normalize: closeNormalize };

  function isBusy(kind) {
    return { remove: s.deleteBusy, move: s.moveBusy || s.moveCreatingFolder, rename: s.renameBusy,
      merge: s.mergeBusy, normalize: s.normalizeBusy }[kind];
  }

  function onEnter(input, action) {
    input.addEventListener("keydown", function (event) {
      if (event.key !== "Enter") return;
      event.preventDefault();
      action();
    });
  }

  el("MoveDestinationSel").addEventListener("change", renderMoveControls);
  el("MoveNewFolderInput").addEventListener("input", renderMoveControls);
  onEnter(el("MoveNewFolderInput"), createMoveFolder);
  el("MoveCreateFolderBtn").addEventListener("click", createMoveFolder);
  el("MoveConfirmBtn").addEventListener("click", confirmMove);
  el("MoveCancelBtn").addEventListener("click", closeMove);

  el("RenameInput").addEventListener("input", renderRenameControls);
  onEnter(el("RenameInput"), confirmRename);
  el("RenameConfirmBtn").addEventListener("click", confirmRename);
  el("RenameCancelBtn").addEventListener("click", closeRename);

  el("MergeSecondSearch").addEventListener("input", renderMergeSecondList);
  el("MergeSecondSel").addEventListener("change", function (event) {
    s.mergeSecondPath = event.target.value;
    if (!s.mergeOutputEdited) el("MergeOutputFilenameInput").value = suggestedMergeName();
    renderMergeControls();
  });
  el("MergeOutputFilenameInput").addEventListener("input", function () {
    s.mergeOutputEdited = true;
    renderMergeControls();
  });
  onEnter(el("MergeOutputFilenameInput"), confirmMerge);
  el("MergeConfirmBtn").addEventListener("click", confirmMerge);
  el("MergeCancelBtn").addEventListener("click", closeMerge);

  el("NormalizeTargetSel").addEventListener("change", function () { normalizeTargetChosen = true; });
  el("NormalizeOutputFilenameInput").addEventListener("input", renderNormalizeControls);
  el("NormalizeConfirmBtn").addEventListener("click", confirmNormalize);
  el("NormalizeCancelBtn").addEventListener("click", closeNormalize);

  el("DeleteConfirmYesBtn").addEventListener("click", confirmDelete);
  el("DeleteConfirmNoBtn").addEventListener("click", closeDelete);

  return {
    openMove: openMove,
    openRename: openRename,
    openMerge: openMerge,
    openNormalize: openNormalize,
    openDelete: openDelete,
    volumeHealthArrived: volumeHealthArrived,
    // Closes the first open dialog that is not waiting for the program; false when none was.
    closeFirstOpen: function () {
      var kind = ["remove", "move", "rename", "merge", "normalize"].find(function (name) {
        return isOpen(name) && !isBusy(name);
      });
      if (kind) closers[kind]();
      return Boolean(kind);
    },
    // Redraws the texts an open dialog composed, after a language change.
    rerender: function () {
      if (s.moveFile && isOpen("move")) renderMoveOptions();
      if (s.renameFile && isOpen("rename")) renderRenameHint();
      if (s.mergeFile && isOpen("merge")) renderMergeSecondList();
      if (s.normalizeFile && isOpen("normalize")) renderNormalizeHealth();
    }
  };
}

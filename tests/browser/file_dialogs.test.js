// The file dialogs of the main page in chromium against the built program, on real files: each
// edit leaves the list and the disk in agreement, the selection follows the clip, and the names
// the page refuses are the names the program refuses.
"use strict";

const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const { useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo, settingsOnDisk } = require("./harness");
const { emptySoundsFolder, writeWav, readWav } = require("./clip_files");

const shared = useProgramAndBrowser();

// Relative paths of the clips on disk, "_originals" left out as the program does.
function clipsOnDisk(folder, prefix = "") {
  return fs.readdirSync(path.join(folder, prefix), { withFileTypes: true }).flatMap((entry) => {
    const relative = prefix ? prefix + "/" + entry.name : entry.name;
    if (entry.isDirectory()) return entry.name.toLowerCase() === "_originals" ? [] : clipsOnDisk(folder, relative);
    return [relative];
  }).sort();
}

async function assertListMatchesDisk(page, folder) {
  const listed = await page.evaluate(() => window.state.files.map((file) => file.relative_path).sort());
  assert.deepStrictEqual(listed, clipsOnDisk(folder));
}

function row(page, name) {
  return page.locator("#mixerFiles .file-row", { has: page.locator(".file-name", { hasText: name }) });
}

async function rowAction(page, name, label) {
  await row(page, name).locator(".file-actions button", { hasText: label }).first().click();
}

// Waits for the dialog to close and the page's result line to show `text`.
async function resultShown(page, modal, text) {
  await page.locator(modal).waitFor({ state: "hidden" });
  await page.waitForFunction((expected) => document.getElementById("mixerSaveStatus").textContent === expected, text);
}

browserTest(shared, "move, rename, merge, normalise and delete keep the list, the disk and the selection in step", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "a.wav"), { seconds: 1, peak: 0.5 });
  writeWav(path.join(folder, "b.wav"), { seconds: 1, peak: 0.1 });
  await openMainPage(shared, page);
  await row(page, "a.wav").locator(".file-select").click();
  await row(page, "a.wav").and(page.locator(".selected")).waitFor();

  // Move the selected clip into a folder made on the way.
  await rowAction(page, "a.wav", en["move.open"]);
  await page.fill("#fileMoveNewFolderInput", "Drums");
  await page.click("#fileMoveCreateFolderBtn");
  await page.waitForFunction(() => document.getElementById("fileMoveDestinationSel").value === "Drums");
  await page.click("#fileMoveConfirmBtn");
  await resultShown(page, "#fileMoveModal", en["move.success"].replace("{{path}}", "Drums/a.wav") + " " + en["move.ptt_updated"]);
  await assertListMatchesDisk(page, folder);
  assert.deepStrictEqual(clipsOnDisk(folder), ["Drums/a.wav", "b.wav"]);
  assert.strictEqual(settingsOnDisk(shared).file_path, path.join(folder, "Drums/a.wav"));
  assert.strictEqual(await row(page, "a.wav").getAttribute("class"), "file-row selected");

  // Rename without an extension keeps the clip's own.
  await rowAction(page, "b.wav", en["rename.open"]);
  await page.fill("#fileRenameInput", "boom");
  await page.press("#fileRenameInput", "Enter");
  await resultShown(page, "#fileRenameModal", en["rename.success"].replace("{{path}}", "boom.wav"));
  await assertListMatchesDisk(page, folder);

  // Merge with a second of silence between the two one-second clips.
  await rowAction(page, "a.wav", en["merge.open"]);
  await page.selectOption("#fileMergeSecondSel", { label: "boom.wav" });
  assert.strictEqual(await page.inputValue("#fileMergeOutputFilenameInput"), "a_plus_boom");
  await page.selectOption("#fileMergeGapSel", "1");
  await page.click("#fileMergeConfirmBtn");
  await resultShown(page, "#fileMergeModal", en["merge.success"].replace("{{path}}", "Drums/a_plus_boom.wav"));
  await assertListMatchesDisk(page, folder);
  const merged = readWav(path.join(folder, "Drums/a_plus_boom.wav"));
  assert.deepStrictEqual([merged.rate, merged.channels, merged.frames], [48000, 2, 3 * 48000]);

  // The quiet clip is offered a fix to -3 dBFS.
  await row(page, "boom.wav").locator(".volume-chip", { hasText: en["volume_health.quiet"] }).waitFor();
  await rowAction(page, "boom.wav", en["volume_health.fix_volume"]);
  assert.strictEqual(await page.inputValue("#fileNormalizeTargetSel"), "-3");
  await page.click("#fileNormalizeConfirmBtn");
  await resultShown(page, "#fileNormalizeModal", en["normalize.success"].replace("{{path}}", "boom_normalized.wav"));
  await assertListMatchesDisk(page, folder);
  const normalized = readWav(path.join(folder, "boom_normalized.wav"));
  assert.ok(Math.abs(20 * Math.log10(normalized.peak) + 3) < 0.05, "peak " + normalized.peak);

  // Deleting the selected clip clears the selection; the route is sent as Quick Play sends it.
  const deletes = requestsTo(page, "/api/mixer/files/delete");
  await rowAction(page, "a.wav", en["common.delete"]);
  await page.click("#fileDeleteConfirmYesBtn");
  await resultShown(page, "#fileDeleteConfirmModal", en["delete.success"] + " " + en["delete.selection_cleared"]);
  await assertListMatchesDisk(page, folder);
  assert.deepStrictEqual(clipsOnDisk(folder), ["Drums/a_plus_boom.wav", "boom.wav", "boom_normalized.wav"]);
  assert.strictEqual(settingsOnDisk(shared).file_path, "");
  assert.strictEqual(await page.locator("#mixerFiles .file-row.selected").count(), 0);
  assert.deepStrictEqual(deletes.map((request) => request.method()), ["DELETE"]);
});

browserTest(shared, "merge output names are completed or refused in the page, and _originals is no new folder", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "one.wav"));
  writeWav(path.join(folder, "two.wav"));
  const merges = requestsTo(page, "/api/mixer/files/merge");
  const creates = requestsTo(page, "/api/mixer/folders/create");
  await openMainPage(shared, page);

  for (const [typed, sent] of [["boom", "boom.wav"], ["boom.WAV", "boom.wav"]]) {
    await rowAction(page, "one.wav", en["merge.open"]);
    await page.fill("#fileMergeOutputFilenameInput", typed);
    await page.press("#fileMergeOutputFilenameInput", "Enter");
    // Busy from the press until the page has taken the answer.
    await page.waitForFunction(() => !window.state.mergeBusy);
    assert.strictEqual(merges[merges.length - 1].postDataJSON().output_filename, sent);
    if (await page.locator("#fileMergeModal").isVisible()) await page.click("#fileMergeCancelBtn");
  }
  assert.ok(fs.existsSync(path.join(folder, "boom.wav")));

  await rowAction(page, "one.wav", en["merge.open"]);
  for (const [typed, key] of [["boom.mp3", "errors.extension_invalid"], ["con.wav", "errors.reserved_filename"]]) {
    await page.fill("#fileMergeOutputFilenameInput", typed);
    assert.strictEqual(await page.locator("#fileMergeOutputFilenameHint").textContent(), en[key]);
    assert.strictEqual(await page.locator("#fileMergeConfirmBtn").isDisabled(), true);
    await page.press("#fileMergeOutputFilenameInput", "Enter");
  }
  await page.fill("#fileMergeSecondSearch", "nothing like it");
  await page.fill("#fileMergeOutputFilenameInput", "");
  assert.strictEqual(await page.locator("#fileMergeConfirmBtn").isDisabled(), true, "no second clip");
  await page.click("#fileMergeCancelBtn");
  assert.strictEqual(merges.length, 2);

  await rowAction(page, "one.wav", en["move.open"]);
  await page.fill("#fileMoveNewFolderInput", "_Originals");
  await page.click("#fileMoveCreateFolderBtn");
  assert.strictEqual(await page.locator("#fileMoveCreateMessage").textContent(), en["errors.folder_name_invalid"]);
  assert.strictEqual(creates.length, 0);
});

browserTest(shared, "a rename keeps the clip's type unless the new name brings its own", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "clip.wav"));
  const renames = requestsTo(page, "/api/mixer/files/rename");
  await openMainPage(shared, page);
  for (const [from, typed, sent] of [["clip.wav", "intro", "intro.wav"], ["intro.wav", "intro.ogg", "intro.ogg"],
    ["intro.wav", "INTRO.WAV", "INTRO.WAV"]]) {
    await rowAction(page, from, en["rename.open"]);
    assert.strictEqual(await page.locator("#fileRenameExtensionHint").textContent(),
      en["rename.extension_hint"].replace("{{extension}}", ".wav"));
    await page.fill("#fileRenameInput", typed);
    await page.click("#fileRenameConfirmBtn");
    await page.waitForFunction(() => !window.state.renameBusy);
    assert.strictEqual(renames[renames.length - 1].postDataJSON().new_filename, sent);
    if (await page.locator("#fileRenameModal").isVisible()) {
      assert.match(await page.locator("#fileRenameMessage").textContent(), /\(extension_invalid\)$/);
      await page.click("#fileRenameCancelBtn");
    }
  }
  assert.deepStrictEqual(clipsOnDisk(folder), ["INTRO.WAV"]);
});

// The page's verdict on a name, as the program's code: "" for a name it sends.
const OUTPUT_NAME_CODES = {
  "export.output_filename_hint": "", "export.output_filename_invalid": "filename_invalid",
  "errors.extension_invalid": "extension_invalid", "errors.reserved_filename": "reserved_filename"
};
const FOLDER_NAME_CODES = {
  "move.create_folder_name_required": "folder_name_required", "errors.folder_name_invalid": "folder_name_invalid",
  "errors.reserved_folder_name": "reserved_folder_name"
};

browserTest(shared, "the page refuses exactly the names the program refuses", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "ready.wav"));
  // Not audio: a name the program accepts is then refused only when it decodes, and nothing is written.
  fs.writeFileSync(path.join(folder, "broken.wav"), "not audio");
  await openMainPage(shared, page);

  const outputNames = ["boom", "boom.WAV", "boom.mp3", "boom.take2", "boom.v2.final!", "con.wav", "COM1", ".hidden",
    "mix.Wav", "mix.flac", "mix.my take", "mix." + "a".repeat(17), "   ", " intro.wav", "intro.wav ", "a:b.wav",
    "a/b.wav", "a\\b.wav", "nul.txt.wav", "lpt9", "com10.wav", "console.wav", "com0.wav", ".", "..", "x.", ".wav",
    "aux.tar.gz", "Take 2.final mix", "tab\there"];
  await rowAction(page, "ready.wav", en["merge.open"]);
  for (const name of outputNames) {
    await page.fill("#fileMergeOutputFilenameInput", name);
    const hint = await page.locator("#fileMergeOutputFilenameHint").textContent();
    const pageCode = OUTPUT_NAME_CODES[Object.keys(OUTPUT_NAME_CODES).find((key) => en[key] === hint)];
    const answer = await page.evaluate((outputName) => window.postJson("/api/mixer/files/merge", {
      first_path: window.state.files.find((file) => file.name === "broken.wav").path,
      second_path: window.state.files.find((file) => file.name === "broken.wav").path,
      output_filename: outputName
    }).then((result) => result.payload), name);
    const programCode = answer.code === "file_decode_failed" ? "" : answer.code;
    assert.strictEqual(pageCode, programCode, JSON.stringify(name) + ": page " + hint + ", program " + answer.error);
  }
  await page.click("#fileMergeCancelBtn");

  const folderNames = ["Drums", "_Originals", "_originals", "originals", "_originals2", "con", "COM1", "com10", "lpt0",
    "a/b", "a:b", "   ", ".", "..", "x.", "x "];
  const creates = requestsTo(page, "/api/mixer/folders/create");
  await rowAction(page, "ready.wav", en["move.open"]);
  for (const name of folderNames) {
    await page.locator("#fileMoveNewFolderInput:enabled").fill(name);
    const sentBefore = creates.length;
    await page.click("#fileMoveCreateFolderBtn");
    let pageCode;
    let programCode;
    if (creates.length > sentBefore) {
      const answer = await (await creates[creates.length - 1].response()).json();
      pageCode = "";
      programCode = answer.ok ? "" : answer.code;
    } else {
      const message = await page.locator("#fileMoveCreateMessage").textContent();
      pageCode = FOLDER_NAME_CODES[Object.keys(FOLDER_NAME_CODES).find((key) => en[key] === message)];
      const answer = await page.evaluate((folderName) => window.postJson("/api/mixer/folders/create",
        { folder_name: folderName }).then((result) => result.payload), name);
      programCode = answer.ok ? "" : answer.code;
    }
    assert.strictEqual(pageCode, programCode, JSON.stringify(name));
  }
});

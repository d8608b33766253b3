// The main page's file browser in chromium against the built program, on real clip files in the
// default profile's folder: search order, volume checks in batches, selection, and names that
// hold markup.
"use strict";

const assert = require("node:assert");
const path = require("node:path");
const { useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo } = require("./harness");
const { emptySoundsFolder, writeWav } = require("./clip_files");

const shared = useProgramAndBrowser();

function rowNames(page) {
  return page.locator("#mixerFiles .file-row .file-name").allTextContents();
}

browserTest(shared, "the search filters from three letters and orders by where the name holds the query", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  for (const name of ["dog bark.wav", "hotdog.wav", "big dog.wav", "dogs/x.wav"]) writeWav(path.join(folder, name));
  await openMainPage(shared, page);
  await page.locator("#mixerFiles .file-row").nth(3).waitFor();

  await page.fill("#mixerFileSearch", "do");
  assert.strictEqual((await rowNames(page)).length, 4, "two letters show every clip");
  assert.strictEqual(await page.locator("#mixerFileSearchClearBtn").isVisible(), true);

  await page.fill("#mixerFileSearch", "dog");
  assert.deepStrictEqual(await rowNames(page), ["dog bark.wav", "x.wav", "hotdog.wav", "big dog.wav"]);

  await page.fill("#mixerFileSearch", "cat");
  const en = await servedCatalogue(shared, "en");
  assert.strictEqual(await page.locator("#mixerFiles").textContent(), en["files.no_match"]);
  await page.click("#mixerFileSearchClearBtn");
  assert.strictEqual((await rowNames(page)).length, 4);
  assert.strictEqual(await page.locator("#mixerFileSearchClearBtn").isVisible(), false);
});

browserTest(shared, "twenty clips are checked for volume in batches of eight, eight and four", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  for (let i = 0; i < 20; i += 1) writeWav(path.join(folder, "clip" + String(i).padStart(2, "0") + ".wav"), { peak: 0.5 });
  const checks = requestsTo(page, "/api/mixer/files/volume-health");
  await openMainPage(shared, page);
  const en = await servedCatalogue(shared, "en");
  // A peak of -6 dBFS is a good volume.
  await page.waitForFunction((text) => {
    const chips = Array.from(document.querySelectorAll("#mixerFiles .volume-chip"));
    return chips.length === 20 && chips.every((chip) => chip.textContent === text);
  }, en["volume_health.ok"]);
  // A few status polls later nothing was asked again.
  await page.waitForTimeout(4500);
  assert.deepStrictEqual(checks.map((request) => request.postDataJSON().paths.length), [8, 8, 4]);
  const asked = checks.flatMap((request) => request.postDataJSON().paths);
  assert.strictEqual(new Set(asked).size, 20, "every clip asked once");
});

browserTest(shared, "a clicked row becomes the clip on the trigger key, in the page and in the program", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "first.wav"));
  writeWav(path.join(folder, "second.wav"));
  await openMainPage(shared, page);
  await page.locator("#mixerFiles .file-row").nth(1).waitFor();
  await page.click("#mixerFiles .file-row:nth-child(2) .file-select");
  await page.locator("#mixerFiles .file-row.selected").waitFor();
  const en = await servedCatalogue(shared, "en");
  assert.strictEqual(await page.locator("#mixerFiles .file-row.selected .file-name").textContent(), "second.wav");
  assert.strictEqual(await page.locator("#mixerCurrentFile").textContent(),
    en["files.selected_prefix"].replace("{{name}}", "second.wav"));
  const stored = await page.evaluate(() => window.postJson("/api/mixer/settings/load").then((result) => result.payload.settings));
  assert.strictEqual(stored.file_path, path.join(folder, "second.wav"));
});

browserTest(shared, "a clip named with markup is text in the list and in every dialog", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  const name = "<img src=x onerror=alert(1)>.wav";
  writeWav(path.join(folder, name));
  writeWav(path.join(folder, "plain.wav"));
  const dialogs = [];
  page.on("dialog", (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
  await openMainPage(shared, page);
  const row = page.locator("#mixerFiles .file-row", { hasText: name });
  await row.waitFor();
  assert.strictEqual(await row.locator(".file-name").textContent(), name);

  const opened = [
    ["move.open", "#fileMoveModal", "#fileMoveName", "#fileMoveCancelBtn"],
    ["rename.open", "#fileRenameModal", "#fileRenameName", "#fileRenameCancelBtn"],
    ["merge.open", "#fileMergeModal", "#fileMergeFirstName", "#fileMergeCancelBtn"],
    ["common.delete", "#fileDeleteConfirmModal", "#fileDeleteConfirmName", "#fileDeleteConfirmNoBtn"]
  ];
  const en = await servedCatalogue(shared, "en");
  for (const [label, modal, nameElement, cancel] of opened) {
    await row.locator(".file-actions button", { hasText: en[label] }).first().click();
    await page.locator(modal).waitFor({ state: "visible" });
    assert.strictEqual(await page.locator(nameElement).textContent(), name, label);
    await page.click(cancel);
  }
  await row.locator(".file-actions button").nth(3).click();
  await page.locator("#fileNormalizeModal").waitFor({ state: "visible" });
  assert.strictEqual(await page.locator("#fileNormalizeName").textContent(), name);
  assert.strictEqual(await page.inputValue("#fileNormalizeOutputFilenameInput"), "<img src=x onerror=alert(1)>_normalized");
  await page.keyboard.press("Escape");
  assert.strictEqual(await page.locator("#fileNormalizeModal").isHidden(), true);

  assert.strictEqual(await page.locator("img").count(), 0);
  assert.deepStrictEqual(dialogs, []);
});

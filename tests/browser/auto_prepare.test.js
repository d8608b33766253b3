// Automatic preparation of the active profile's folder when the main page opens, against the
// built program on real MP3 and WAV files; and the manual conversion of the Advanced card.
"use strict";

const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const { useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo } = require("./harness");
const { emptySoundsFolder, wavBytes, writeMp3, writeWav } = require("./clip_files");

const shared = useProgramAndBrowser();

// Each listed clip's name with the hint its row gives.
function rowHints(page) {
  return page.evaluate(() => Object.fromEntries(Array.from(document.querySelectorAll("#mixerFiles .file-row"),
    (row) => [row.querySelector(".file-name").textContent, row.querySelector(".file-meta").textContent])));
}

function listedState(page, name) {
  return page.evaluate((clip) => {
    const file = window.state.files.find((entry) => entry.name === clip);
    return file ? file.compatible_state : null;
  }, name);
}

browserTest(shared, "an MP3 becomes a ready WAV without a click, and a WAV of the user's keeps its bytes", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  writeMp3(path.join(folder, "drop.mp3"));
  writeMp3(path.join(folder, "intro.mp3"));
  const ownIntro = wavBytes({ seconds: 0.3, peak: 0.2, frequency: 220 });
  fs.writeFileSync(path.join(folder, "intro.wav"), ownIntro);
  const conversions = requestsTo(page, "/api/mixer/convert");

  const opened = Date.now();
  await openMainPage(shared, page);
  await page.waitForFunction(() => window.state.files.some((file) =>
    file.name === "drop.wav" && file.compatible_state === "compatible"), null, { timeout: 10000 });
  const seconds = (Date.now() - opened) / 1000;

  assert.ok(fs.existsSync(path.join(folder, "_originals/drop.mp3")), "the MP3 is kept under _originals");
  assert.ok(!fs.existsSync(path.join(folder, "drop.mp3")));
  assert.ok(fs.readFileSync(path.join(folder, "intro.wav")).equals(ownIntro), "intro.wav keeps its bytes");
  assert.ok(fs.existsSync(path.join(folder, "intro.mp3")), "the MP3 beside it stays");
  assert.deepStrictEqual(conversions.map((request) => request.postDataJSON()), [{
    paths: [path.join(folder, "drop.mp3"), path.join(folder, "intro.mp3")].sort(),
    keep_originals: true,
    overwrite_existing: false
  }]);
  assert.strictEqual(await listedState(page, "intro.mp3"), "needs_conversion");
  await page.locator("#mixerAutoPrepareStatus").waitFor({ state: "hidden" });
  assert.ok(seconds < 10, "ready after " + seconds + " s");
});

browserTest(shared, "the Convert button of the Advanced card overwrites only when the user ticks it, and names a file it could not convert", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  await openMainPage(shared, page);
  // Dropped once the page's own preparation has run; one of them cut off halfway.
  await page.waitForFunction(() => !window.state.autoPrepareActive);
  writeMp3(path.join(folder, "intro.mp3"));
  const ownIntro = wavBytes({ seconds: 0.3, peak: 0.2, frequency: 220 });
  fs.writeFileSync(path.join(folder, "intro.wav"), ownIntro);
  writeMp3(path.join(folder, "cut.mp3"), 4);
  fs.truncateSync(path.join(folder, "cut.mp3"), fs.statSync(path.join(folder, "cut.mp3")).size / 2);

  await page.click("#mixerAdvancedToggleBtn");
  assert.strictEqual(await page.getAttribute("#mixerAdvancedToggleBtn", "aria-expanded"), "true");
  assert.strictEqual(await page.locator("#mixerAdvancedToggleBtn").textContent(), en["common.hide_advanced"]);
  await page.click("#mixerAnalyzeBtn");
  await page.locator("#mixerAnalyzerList .analyzer-row").nth(1).waitFor();
  await page.click("#mixerAnalyzerSelectAllBtn");
  await page.check("#mixerConvertOverwriteExisting");
  const converted = page.waitForResponse("**/api/mixer/convert");
  await page.click("#mixerConvertBtn");
  assert.strictEqual((await converted).request().postDataJSON().overwrite_existing, true);
  await page.waitForFunction((prefix) => document.getElementById("mixerAnalyzerSummary").textContent.startsWith(prefix),
    en["advanced.conversion_complete"].split("{{")[0]);
  const summary = await page.locator("#mixerAnalyzerSummary").textContent();
  assert.ok(summary.includes(en["files.not_converted"].replace("{{name}}", "cut.mp3")
    .replace("{{reason}}", en["errors.audio_truncated"])), summary);
  assert.ok(!fs.readFileSync(path.join(folder, "intro.wav")).equals(ownIntro), "the user asked to overwrite");
  assert.strictEqual(await listedState(page, "intro.wav"), "compatible");
});

browserTest(shared, "a clip copied into a prepared folder becomes playable where it is chosen, and no row promises more", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "ready.wav"));
  await openMainPage(shared, page);
  await page.waitForFunction(() => !window.state.autoPrepareActive);
  // Copied in while the page is open, and long enough that its conversion is still under way
  // when the row is clicked.
  writeMp3(path.join(folder, "drop.mp3"), 600);
  fs.writeFileSync(path.join(folder, "fake.mp3"), "not really an mp3\n");
  const conversion = page.waitForRequest("**/api/mixer/convert");
  await page.click("#mixerDirRefresh");
  await conversion;
  const hints = await rowHints(page);
  assert.strictEqual(hints["ready.wav"], en["files.click_to_select"]);
  assert.strictEqual(hints["drop.mp3"], en["files.background_preparing"]);
  assert.strictEqual(hints["fake.mp3"], en["files.hint_cannot_play"]);

  await page.locator("#mixerFiles .file-row", { hasText: "drop.mp3" }).locator(".file-select").click();
  await page.waitForFunction(() => window.state.selectedFilePath.endsWith("/drop.wav"), null, { timeout: 30000 });
  const status = await page.evaluate(() => window.postJson("/api/mixer/status").then((result) => result.payload.mixer));
  assert.strictEqual(status.file_compatible_state, "compatible", "the chosen clip plays now");
  await page.locator("#mixerFiles .file-row.selected", { hasText: "drop.wav" }).waitFor();
  assert.deepStrictEqual(await rowHints(page), {
    "drop.wav": en["files.click_to_select"],
    "fake.mp3": en["files.hint_cannot_play"],
    "ready.wav": en["files.click_to_select"]
  });
});

// The Profiles card in chromium against the built program: each change lands in settings.json,
// the file list follows the active profile's folder, and the card tells each outcome itself.
"use strict";

const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const { useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, settingsOnDisk } = require("./harness");
const { soundsFolder, writeWav } = require("./clip_files");

const shared = useProgramAndBrowser();

function listedNames(page) {
  return page.evaluate(() => window.state.files.map((file) => file.name));
}

async function statusShows(page, text) {
  await page.waitForFunction((expected) => document.getElementById("mixerProfileStatus").textContent === expected, text);
}

browserTest(shared, "profiles are created, renamed, switched and deleted, each in settings.json", async (page) => {
  const en = await servedCatalogue(shared, "en");
  writeWav(path.join(soundsFolder(shared.program), "default clip.wav"));
  const memes = path.join(shared.program.folder, "home/Memes");
  writeWav(path.join(memes, "meme.wav"));
  await openMainPage(shared, page);
  await page.waitForFunction(() => window.state.files.length === 1);

  await page.fill("#mixerProfileNameInput", "  Memes ");
  await page.fill("#mixerDir", memes);
  await page.click("#mixerProfileNewBtn");
  await statusShows(page, en["profiles.created"]);
  let settings = settingsOnDisk(shared);
  assert.strictEqual(settings.selected_profile_id, "memes");
  assert.deepStrictEqual(settings.profiles.find((profile) => profile.id === "memes"), { id: "memes", name: "Memes", audio_dir: memes });
  await page.waitForFunction(() => window.state.files.some((file) => file.name === "meme.wav"));
  assert.deepStrictEqual(await listedNames(page), ["meme.wav"]);

  await page.fill("#mixerProfileNameInput", "Best Memes");
  await page.click("#mixerProfileSaveBtn");
  await statusShows(page, en["profiles.saved"]);
  assert.strictEqual(settingsOnDisk(shared).profiles.find((profile) => profile.id === "memes").name, "Best Memes");
  assert.strictEqual(await page.locator("#mixerProfileSel option:checked").textContent(), "Best Memes");

  await page.selectOption("#mixerProfileSel", "default");
  await statusShows(page, en["profiles.switched"]);
  assert.strictEqual(settingsOnDisk(shared).selected_profile_id, "default");
  assert.deepStrictEqual(await listedNames(page), ["default clip.wav"]);
  assert.strictEqual(await page.inputValue("#mixerDir"), soundsFolder(shared.program));

  // The line already says so from the switch before: the page's profile shows this one is done.
  await page.selectOption("#mixerProfileSel", "memes");
  await page.waitForFunction(() => window.state.settings.selected_profile_id === "memes");
  assert.strictEqual(await page.textContent("#mixerProfileStatus"), en["profiles.switched"]);
  await page.click("#mixerProfileDeleteBtn");
  await statusShows(page, en["profiles.deleted"]);
  settings = settingsOnDisk(shared);
  assert.deepStrictEqual(settings.profiles.map((profile) => profile.id), ["default"]);
  assert.strictEqual(settings.selected_profile_id, "default");
  assert.deepStrictEqual(await page.locator("#mixerProfileSel option").allTextContents(), ["Default"]);
  await page.waitForFunction(() => window.state.files.some((file) => file.name === "default clip.wav"));
  assert.ok(fs.existsSync(path.join(memes, "meme.wav")), "deleting a profile leaves its folder alone");

  fs.rmSync(soundsFolder(shared.program), { recursive: true });
  const mixerLine = await page.textContent("#mixerSaveStatus");
  await page.click("#mixerOpenFolderBtn");
  await page.waitForFunction(() => document.getElementById("mixerProfileStatus").textContent.endsWith("(path_unavailable)"));
  assert.strictEqual(await page.textContent("#mixerSaveStatus"), mixerLine);
});

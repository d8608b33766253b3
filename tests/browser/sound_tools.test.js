// Sound links and the Sound Inbox of the main page in chromium against the built program: what
// the page refuses itself, what it saves, the default inbox folder, and the states the program
// reports for the inbox.
"use strict";

const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const {
  useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo, settingsOnDisk, stubApi
} = require("./harness");
const { writeWav } = require("./clip_files");

const shared = useProgramAndBrowser();

browserTest(shared, "a sound link must be http or https: ftp is refused in the page, HTTPS in capitals is saved", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const saves = requestsTo(page, "/api/mixer/sound-links/save");
  await openMainPage(shared, page);
  await page.click("#soundLinkNewBtn");
  assert.strictEqual(await page.locator("#soundLinkSel option:checked").textContent(), en["sound_links.new"]);
  await page.fill("#soundLinkNameInput", "Clips");
  for (const url of ["ftp://x.test", "https://x.test/a b"]) {
    await page.fill("#soundLinkUrlInput", url);
    await page.click("#soundLinkSaveBtn");
    assert.strictEqual(await page.locator("#soundLinksMessage").textContent(), en["sound_links.invalid_url"]);
  }
  assert.strictEqual(saves.length, 0);

  await page.fill("#soundLinkUrlInput", "HTTPS://X.TEST");
  await page.click("#soundLinkSaveBtn");
  await page.waitForFunction((text) => document.getElementById("soundLinksMessage").textContent === text, en["sound_links.saved"]);
  const stored = settingsOnDisk(shared).sound_links;
  assert.deepStrictEqual(stored.map((link) => [link.name, link.url]), [["Clips", "HTTPS://X.TEST"]]);
  assert.strictEqual(await page.getAttribute("#soundLinkOpenBtn", "href"), "HTTPS://X.TEST");
  assert.strictEqual(await page.locator("#soundLinkSel option:checked").textContent(), "Clips");

  await page.click("#soundLinkRemoveBtn");
  await page.waitForFunction((text) => document.getElementById("soundLinksMessage").textContent === text, en["sound_links.removed"]);
  assert.deepStrictEqual(settingsOnDisk(shared).sound_links, []);
  assert.strictEqual(await page.getAttribute("#soundLinkOpenBtn", "aria-disabled"), "true");
});

browserTest(shared, "ticking the inbox with no folder makes Downloads/Ruzerad Inbox and watches it", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const downloads = path.join(shared.program.folder, "home/Downloads");
  fs.mkdirSync(downloads, { recursive: true });
  await openMainPage(shared, page);
  assert.strictEqual(await page.locator("#soundInboxStatusBadge").textContent(), en["sound_inbox.status_disabled"]);
  await page.check("#soundInboxEnabled");
  await page.waitForFunction((text) => document.getElementById("soundInboxStatusText").textContent === text,
    en["sound_inbox.folder_set"]);
  const inbox = path.join(downloads, "Ruzerad Inbox");
  assert.ok(fs.statSync(inbox).isDirectory());
  const settings = settingsOnDisk(shared);
  assert.deepStrictEqual([settings.sound_inbox_enabled, settings.sound_inbox_dir], [true, inbox]);
  assert.strictEqual(await page.inputValue("#soundInboxDirInput"), inbox);
  await page.waitForFunction((text) => document.getElementById("soundInboxStatusBadge").textContent === text,
    en["sound_inbox.status_watching"]);

  // A download the inbox cannot prepare is named beside the reason.
  fs.writeFileSync(path.join(inbox, "broken.mp3"), Buffer.alloc(5000, 0x55));
  await page.waitForFunction(() => window.state.soundInboxStatus.phase === "failed", null, { timeout: 20000 });
  const code = await page.evaluate(() => window.state.soundInboxStatus.code);
  assert.strictEqual(await page.locator("#soundInboxStatusText").textContent(),
    en["errors." + code] + " " + en["sound_inbox.last_file"].replace("{{name}}", "broken.mp3"));

  // A profile folder inside the inbox is a state the program reports with a code of its own.
  const overlapping = path.join(inbox, "Clips");
  fs.mkdirSync(overlapping);
  const saved = await page.evaluate((folder) => window.postJson("/api/mixer/profiles/upsert",
    { id: "default", name: "Default", audio_dir: folder }).then((result) => result.payload.ok), overlapping);
  assert.strictEqual(saved, true);
  await page.waitForFunction((text) => document.getElementById("soundInboxStatusBadge").textContent === text,
    en["errors.sound_inbox_profile_overlap"]);
  assert.strictEqual(await page.getAttribute("#soundInboxStatusBadge", "class"), "badge badge-error");
  assert.strictEqual(await page.locator("#soundInboxStatusText").textContent(), en["errors.sound_inbox_profile_overlap"],
    "a folder the inbox cannot watch names no file");
});

// The desktop's chooser is answered here, as if the user picked a folder; the rest is the program's.
browserTest(shared, "a folder picked on the desktop is saved and watched, or becomes the profile's folder, in one action", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const home = shared.program.folder + "/home";
  let picked = path.join(home, "Picked inbox");
  fs.mkdirSync(picked, { recursive: true });
  writeWav(path.join(home, "Picked clips/picked.wav"));
  await stubApi(page, {
    "/api/mixer/browse-folder": (route) => route.fulfill({
      contentType: "application/json", body: JSON.stringify({ ok: true, cancelled: false, selected_path: picked })
    })
  });
  await openMainPage(shared, page);

  await page.click('summary[data-i18n="sound_inbox.desktop_options"]');
  await page.click("#soundInboxBrowseBtn");
  await page.waitForFunction((text) => document.getElementById("soundInboxStatusText").textContent === text,
    en["sound_inbox.enabled_saved"]);
  const settings = settingsOnDisk(shared);
  assert.deepStrictEqual([settings.sound_inbox_enabled, settings.sound_inbox_dir], [true, picked]);
  assert.strictEqual(await page.isChecked("#soundInboxEnabled"), true);

  picked = path.join(home, "Picked clips");
  await page.click("#mixerBrowseFolderBtn");
  await page.waitForFunction((text) => document.getElementById("mixerProfileStatus").textContent === text,
    en["profiles.folder_saved"]);
  const profiles = settingsOnDisk(shared).profiles;
  assert.deepStrictEqual(profiles.map((profile) => profile.audio_dir), [picked]);
  await page.waitForFunction(() => window.state.files.map((file) => file.name).join() === "picked.wav");
});

// The update banner and the About footer in chromium against the built program. The program
// reaches its update manifest only over the network, which is closed here, so the check's
// answers are fulfilled.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, stubApi, servedCatalogue } = require("./harness");

const shared = useProgramAndBrowser();

function updateAnswer(latest, level) {
  return {
    ok: true,
    check_status: "update_available",
    current_version: "1.0.4",
    latest_version: latest,
    update_available: true,
    update_required: false,
    update_level: level,
    download_url: "https://zadivuza.com/ruzerad/download/" + latest,
    published_at: "2026-11-30",
    release_notes: "- Clearer setup check\n\n* Fewer clicks"
  };
}

async function openWithUpdate(page, answer) {
  await page.unrouteAll();
  await stubApi(page, { "/api/mixer/update/check": answer });
  await page.goto(shared.program.url + "/");
  await page.locator("#mixerApp").waitFor({ state: "visible" });
  await page.waitForFunction(() => document.getElementById("aboutCurrentVersion").textContent !== "-");
}

browserTest(shared, "an available update shows its banner until that version is dismissed", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openWithUpdate(page, updateAnswer("1.2.0", "recommended"));
  const banner = page.locator("#updateBanner");
  assert.strictEqual(await banner.isVisible(), true);
  assert.strictEqual(await banner.getAttribute("class"), "update-banner");
  assert.strictEqual(await page.locator("#updateBannerTitle").textContent(), en["update.available_title"]);
  assert.strictEqual(await page.locator("#updateBannerDownload").getAttribute("href"),
    "https://zadivuza.com/ruzerad/download/1.2.0");
  assert.deepStrictEqual(await page.locator("#updateReleaseNotes li").allTextContents(), ["Clearer setup check", "Fewer clicks"]);

  await page.click("#updateBannerDismiss");
  assert.strictEqual(await banner.isHidden(), true);
  await openWithUpdate(page, updateAnswer("1.2.0", "recommended"));
  assert.strictEqual(await banner.isHidden(), true, "the dismissed version stays hidden after a reload");

  await openWithUpdate(page, updateAnswer("1.3.0", "critical"));
  assert.strictEqual(await banner.isVisible(), true, "a newer version shows again");
  assert.strictEqual(await banner.getAttribute("class"), "update-banner critical");
  assert.strictEqual(await page.locator("#updateBannerTitle").textContent(), en["update.critical_title"]);
});

browserTest(shared, "an update without a download address shows no banner", async (page) => {
  const answer = updateAnswer("1.2.0", "recommended");
  delete answer.download_url;
  await openWithUpdate(page, answer);
  assert.strictEqual(await page.locator("#updateBanner").isHidden(), true);
  assert.strictEqual(await page.locator("#updateDownloadBtn").isHidden(), true);
  assert.match(await page.locator("#updateStatusText").textContent(), /1\.2\.0/);
});

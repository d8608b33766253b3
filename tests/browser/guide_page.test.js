// The setup guide in chromium against the built program, served on port 5123.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, servedCatalogue, saveScreenshot, waitForLanguage } = require("./harness");
const { findLayoutProblems } = require("./layout_check");

const shared = useProgramAndBrowser({ settings: { server_port: 5123 } });

async function openGuide(page) {
  await page.goto(shared.program.url + "/guide");
  await page.waitForFunction(() => document.querySelector("[data-guide-tab].is-active") !== null);
}

browserTest(shared, "both address fields show the page's own address", async (page) => {
  assert.strictEqual(shared.program.url, "http://127.0.0.1:5123", "the program took its configured port");
  await openGuide(page);
  assert.strictEqual(await page.inputValue("#copyLocalhostText"), "http://127.0.0.1:5123");
  assert.strictEqual(await page.textContent("#guideFirstUseUrl"), "http://127.0.0.1:5123");
});

browserTest(shared, "the last game tab is remembered while the Windows tabs start on Windows 10", async (page) => {
  await openGuide(page);
  await page.click("summary[data-i18n='guide.audio.summary']");
  await page.click("[data-guide-tab='windows'][data-tab-target='win11']");
  await page.click("summary[data-i18n='guide.games.summary']");
  await page.click("[data-guide-tab='games'][data-tab-target='rust']");
  await page.reload();
  await page.waitForFunction(() => document.querySelector("[data-guide-tab].is-active") !== null);
  const active = await page.$$eval(".is-active[data-tab-id]", (panels) => panels.map((panel) => panel.dataset.tabId));
  assert.deepStrictEqual(active.sort(), ["rust", "win10"]);
  assert.strictEqual(await page.evaluate(() => localStorage.getItem("zennic.guide.v1.last_game")), "rust");
});

browserTest(shared, "the lightbox holds the focus on its close button and hands it back on Escape", async (page) => {
  await openGuide(page);
  await page.click("summary[data-i18n='guide.steam.summary']");
  const opener = page.locator("[data-guide-lightbox]").nth(2);
  await opener.click();
  await page.locator("#guideLightbox").waitFor({ state: "visible" });
  const focused = () => page.evaluate(() => document.activeElement.id);
  assert.strictEqual(await focused(), "guideLightboxClose");
  for (const key of ["Tab", "Tab", "Shift+Tab"]) {
    await page.keyboard.press(key);
    assert.strictEqual(await focused(), "guideLightboxClose", "after " + key);
  }
  const source = (image) => image.src;
  assert.strictEqual(await page.locator("#guideLightboxImage").evaluate(source), await opener.locator("img").evaluate(source));
  assert.strictEqual(await page.textContent("#guideLightboxCaption"),
    await opener.locator("xpath=ancestor::figure[1]/figcaption").textContent());
  await page.keyboard.press("Escape");
  assert.strictEqual(await page.locator("#guideLightbox").isHidden(), true);
  assert.strictEqual(await opener.evaluate((button) => button === document.activeElement), true);
  assert.strictEqual(await page.evaluate(() => document.body.classList.contains("guide-lightbox-open")), false);
});

browserTest(shared, "the copy button puts the address on the clipboard", async (page, context) => {
  const en = await servedCatalogue(shared, "en");
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: shared.program.url });
  await openGuide(page);
  await page.click("[data-copy-target='copyLocalhostText']");
  await page.waitForFunction(() => document.getElementById("guideCopyStatus").textContent !== "");
  assert.strictEqual(await page.textContent("#guideCopyStatus"), en["guide.quick_copy.copy_status_copied"]);
  assert.strictEqual(await page.evaluate(() => navigator.clipboard.readText()), "http://127.0.0.1:5123");
});

browserTest(shared, "every illustration is served with its type and none is broken", async (page) => {
  await openGuide(page);
  // Every section open and every tab shown, so that each image loads.
  await page.evaluate(() => {
    document.querySelectorAll("details").forEach((details) => { details.open = true; });
    document.querySelectorAll("[data-tab-panel]").forEach((panel) => { panel.style.display = "block"; });
  });
  const sources = await page.$$eval("img[src]", (images) => images.map((image) => image.getAttribute("src")));
  assert.strictEqual(new Set(sources).size, 14);
  for (const source of sources) {
    const response = await fetch(shared.program.url + source);
    assert.strictEqual(response.status, 200, source);
    assert.strictEqual(response.headers.get("content-type"), source.endsWith(".png") ? "image/png" : "image/svg+xml", source);
  }
  await page.waitForFunction(() => Array.from(document.images).every((image) => image.complete));
  const broken = await page.$$eval("img[src]", (images) => images.filter((image) => image.naturalWidth === 0)
    .map((image) => image.getAttribute("src")));
  assert.deepStrictEqual(broken, []);
  const alts = await page.$$eval("img[src]", (images) => images.map((image) => image.alt));
  assert.ok(alts.every((alt) => /^Illustration of /.test(alt)), alts.join("\n"));
});

for (const language of ["en", "de", "el"]) {
  browserTest(shared, "the guide in " + language + " keeps its controls apart", async (page) => {
    await page.goto(shared.program.url + "/guide");
    await page.evaluate((code) => localStorage.setItem("zennic.ui_language", code), language);
    await openGuide(page);
    await waitForLanguage(page, language);
    await page.evaluate(() => document.querySelectorAll("details").forEach((details) => { details.open = true; }));
    for (const [width, height] of [[1280, 800], [800, 600]]) {
      await page.setViewportSize({ width, height });
      await saveScreenshot(page, "guide_" + language + "_" + width + "x" + height);
      assert.deepStrictEqual(await findLayoutProblems(page), [], language + " at " + width + "x" + height);
    }
  });
}

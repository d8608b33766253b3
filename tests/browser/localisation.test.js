// The localisation runtime in chromium: language codes, the stored language, catalogue loading
// and the tooltip that replaces title tooltips.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, waitForLanguage } = require("./harness");

const shared = useProgramAndBrowser();

async function openGuide(page) {
  await page.goto(shared.program.url + "/guide");
  await waitForLanguage(page, "en");
}

browserTest(shared, "language tags are mapped to the supported catalogues", async (page) => {
  await openGuide(page);
  const cases = {
    de_DE: "de", "pt-PT": "pt", "zh-HK": "zh-TW", "nb-NO": "en", zh: "en", nb: "no", nn: "no",
    "pt-br": "pt-BR", "ZH-sg": "zh-CN", " FR ": "fr", "": "en", xx: "en"
  };
  const results = await page.evaluate((inputs) =>
    Object.fromEntries(inputs.map((input) => [input, window.ZennicI18n.normalizeLanguageCode(input)])), Object.keys(cases));
  assert.deepStrictEqual(results, cases);
});

browserTest(shared, "the stored language opens the guide, and each catalogue is fetched once", async (page) => {
  const fetched = [];
  page.on("request", (request) => {
    const match = new URL(request.url()).pathname.match(/^\/assets\/i18n\/(.+)\.json$/);
    if (match) fetched.push(match[1]);
  });
  await openGuide(page);
  await page.evaluate(() => window.localStorage.setItem("zennic.ui_language", "de"));
  await page.reload();
  await waitForLanguage(page, "de");
  const german = await page.locator('[data-i18n="guide.hero.back"]').textContent();

  fetched.length = 0;
  const applied = await page.evaluate(async () => [
    await window.ZennicI18n.setLanguage("fr"),
    await window.ZennicI18n.setLanguage("de"),
    document.documentElement.lang
  ]);
  assert.deepStrictEqual(applied, ["fr", "de", "de"]);
  assert.deepStrictEqual(fetched, ["fr"], "English and German were already loaded");
  assert.strictEqual(await page.locator('[data-i18n="guide.hero.back"]').textContent(), german);
  assert.strictEqual(await page.evaluate(() => window.localStorage.getItem("zennic.ui_language")), "de");
});

browserTest(shared, "a title becomes the managed tooltip after hovering for 300 ms", async (page) => {
  // The page's timers run on a fake clock, so a busy machine cannot stretch the delay.
  await page.clock.install();
  await openGuide(page);
  await page.evaluate(() => {
    const button = document.createElement("button");
    button.id = "tipTarget";
    button.title = "Copies the address";
    button.textContent = "Copy";
    document.body.prepend(button);
  });
  await page.clock.pauseAt(Date.now() + 1000);
  await page.mouse.move(0, 0);
  await page.hover("#tipTarget");
  assert.strictEqual(await page.getAttribute("#tipTarget", "title"), null, "the browser's tooltip never shows");
  await page.clock.runFor(299);
  assert.strictEqual(await page.locator(".zn-tooltip.is-visible").count(), 0, "not before 300 ms");
  await page.clock.runFor(1);
  const tooltip = page.locator(".zn-tooltip.is-visible");
  await tooltip.waitFor({ state: "attached", timeout: 2000 });
  assert.strictEqual(await tooltip.textContent(), "Copies the address");
  assert.strictEqual(await tooltip.getAttribute("role"), "tooltip");
  await page.keyboard.press("Escape");
  assert.strictEqual(await page.locator(".zn-tooltip.is-visible").count(), 0);
});

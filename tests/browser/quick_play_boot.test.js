// Quick Play's boot in chromium against the built program.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, stubApi, servedCatalogue } = require("./harness");

const shared = useProgramAndBrowser();

browserTest(shared, "Quick Play boots to its soundboard with the active profile's name", async (page) => {
  await stubApi(page, {
    "/api/mixer/settings/load": {
      ok: true,
      settings: {
        profiles: [{ id: "p1", name: "Default", audio_dir: "/a" }, { id: "p2", name: "Street <Sounds>", audio_dir: "/b" }],
        selected_profile_id: "p2"
      }
    }
  });
  await page.goto(shared.program.url + "/play");
  await page.locator("#playApp").waitFor({ state: "visible" });
  assert.strictEqual(await page.locator("#playBoot").isHidden(), true);
  assert.strictEqual(await page.locator("#playError").isHidden(), true);
  assert.strictEqual(await page.locator("#playProfileName").textContent(), "Street <Sounds>");
});

browserTest(shared, "a failed boot shows the error card with its Stop Mixer button", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await stubApi(page, {
    "/api/mixer/settings/load": (route) => route.fulfill({
      status: 500,
      contentType: "application/json; charset=utf-8",
      body: JSON.stringify({ ok: false, error: "Could not read settings.json", code: "settings_load_failed" })
    })
  });
  await page.goto(shared.program.url + "/play");
  await page.locator("#playError").waitFor({ state: "visible" });
  assert.strictEqual(await page.locator("#playApp").isHidden(), true);
  assert.strictEqual(await page.locator("#playErrorText").textContent(),
    en["errors.settings_load_failed"] + " (settings_load_failed)");
  assert.strictEqual(await page.locator("#playStopBtnError").isVisible(), true);
  assert.strictEqual(await page.locator("#playError a[href='/']").isVisible(), true);
});

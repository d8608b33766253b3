// The main page's boot, transport and error cards in chromium against the built program. Routes
// the program does not answer yet, and failures it cannot be brought into, are answered here.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, stubApi, servedCatalogue } = require("./harness");

const shared = useProgramAndBrowser();
const SETTINGS_LOADED = { ok: true, settings: { ui_language: "en" } };

function jsonAnswer(status, body) {
  return (route) => route.fulfill({ status, contentType: "application/json; charset=utf-8", body });
}

async function bootErrorCard(page) {
  await page.locator("#bootErrorBox").waitFor({ state: "visible" });
  return {
    title: await page.locator("#bootErrorTitle").textContent(),
    text: await page.locator("#bootErrorText").textContent()
  };
}

browserTest(shared, "the main page boots to the mixer with an HttpOnly session cookie", async (page, context) => {
  const en = await servedCatalogue(shared, "en");
  await stubApi(page, { "/api/mixer/settings/load": SETTINGS_LOADED });
  await page.goto(shared.program.url + "/");
  await page.locator("#mixerApp").waitFor({ state: "visible" });
  await page.waitForFunction(() => window.state.statusTimer !== 0);
  assert.strictEqual(await page.locator("#bootShell").isHidden(), true);
  assert.strictEqual(await page.locator("#bootErrorBox").isHidden(), true);
  assert.strictEqual(await page.evaluate(() => window.location.hash), "#mixer");
  assert.strictEqual(await page.locator("#mixerSaveStatus").textContent(), en["main.status.ready_text"]);
  const cookie = (await context.cookies()).find((c) => c.name === "zennic_session");
  assert.ok(cookie, "the page answer set the session cookie");
  assert.strictEqual(cookie.httpOnly, true);
  assert.match(cookie.value, /^[0-9a-f]{32}$/);
});

browserTest(shared, "a settings load without answer is tried three times, 400 and 800 ms apart", async (page) => {
  await stubApi(page, { "/api/mixer/settings/load": (route) => route.abort("failed") });
  // Loads are counted in the page as they are sent and as they fail: once a failure is counted,
  // the page has handled it and set its retry timer, so the clock can be moved on.
  await page.addInitScript(() => {
    const send = window.fetch;
    window.settingsLoads = { sent: 0, failed: 0 };
    window.fetch = (input, init) => {
      if (!String(input).endsWith("/api/mixer/settings/load")) return send(input, init);
      window.settingsLoads.sent += 1;
      return send(input, init).catch((error) => {
        window.settingsLoads.failed += 1;
        throw error;
      });
    };
  });
  // The page's timers fire only when the clock is moved: a busy machine cannot stretch a pause.
  // Paused well ahead of the start, as the clock runs on while it is being paused.
  const start = Date.now();
  await page.clock.install({ time: start });
  await page.clock.pauseAt(start + 60000);
  await page.goto(shared.program.url + "/");
  const loads = () => page.evaluate(() => window.settingsLoads);
  const failedLoads = (count) =>
    page.waitForFunction((wanted) => window.settingsLoads.failed === wanted, count, { polling: 20 });
  await failedLoads(1);
  await page.clock.runFor(399);
  assert.deepStrictEqual(await loads(), { sent: 1, failed: 1 }, "tried again before 400 ms");
  await page.clock.runFor(1);
  assert.strictEqual((await loads()).sent, 2, "not tried again at 400 ms");
  await failedLoads(2);
  await page.clock.runFor(799);
  assert.deepStrictEqual(await loads(), { sent: 2, failed: 2 }, "tried again before another 800 ms");
  await page.clock.runFor(1);
  assert.strictEqual((await loads()).sent, 3, "not tried again after another 800 ms");
  const card = await bootErrorCard(page);
  assert.strictEqual(card.title, "mixer_ui_load");
  assert.match(card.text, /\(network_error\)$/);
  assert.doesNotMatch(card.text, /\{\{/, "the attempts placeholder is filled");
  assert.match(card.text, /3/);
});

browserTest(shared, "long file work is sent once, every other route three times", async (page) => {
  await stubApi(page, { "/api/mixer/settings/load": SETTINGS_LOADED });
  await page.goto(shared.program.url + "/");
  await page.locator("#mixerApp").waitFor({ state: "visible" });
  // Only the requests sent here are counted: the boot is over and the status poll stopped.
  await page.waitForFunction(() => window.state.statusTimer !== 0);
  await page.evaluate(() => window.clearInterval(window.state.statusTimer));
  const counts = {};
  await page.route("**/api/mixer/**", (route) => {
    const pathname = new URL(route.request().url()).pathname;
    counts[pathname] = (counts[pathname] || 0) + 1;
    return route.abort("failed");
  });
  const expected = {
    "/api/mixer/convert": 1, "/api/mixer/analyze": 1, "/api/mixer/files/merge": 1,
    "/api/mixer/update/check": 1, "/api/mixer/status": 3
  };
  const codes = await page.evaluate((paths) => Promise.all(paths.map((path) =>
    window.postJson(path, {}).then((result) => result.payload.code))), Object.keys(expected));
  assert.deepStrictEqual(counts, expected);
  assert.deepStrictEqual(codes, Object.keys(expected).map(() => "network_error"));
});

browserTest(shared, "an answered failure is shown with its catalogue text or the HTTP status", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const cases = [
    [jsonAnswer(500, JSON.stringify({ ok: false, error: "Could not read settings.json", code: "settings_load_failed", details: {} })),
      en["errors.settings_load_failed"] + " (settings_load_failed)"],
    [jsonAnswer(200, ""), en["errors.settings_load_failed"] + " (HTTP 200)"],
    [jsonAnswer(404, JSON.stringify({ ok: false, error: "Not found", code: "not_in_any_catalogue" })),
      "Not found (not_in_any_catalogue)"]
  ];
  for (const [answer, text] of cases) {
    await page.unrouteAll();
    await stubApi(page, { "/api/mixer/settings/load": answer });
    await page.goto(shared.program.url + "/");
    const card = await bootErrorCard(page);
    assert.strictEqual(card.title, "mixer_ui_load");
    assert.strictEqual(card.text, text);
    assert.strictEqual(await page.locator("#mixerSaveStatus").textContent(), text);
  }
});

browserTest(shared, "a server message holding markup is shown as text", async (page) => {
  const message = "<img src=x onerror=\"window.injected=1\"><b>bold</b>";
  await stubApi(page, {
    "/api/mixer/settings/load": jsonAnswer(500, JSON.stringify({ ok: false, error: message }))
  });
  await page.goto(shared.program.url + "/");
  const card = await bootErrorCard(page);
  assert.strictEqual(card.text, message);
  assert.strictEqual(await page.locator("#bootErrorBox img, #bootErrorBox b, #mixerSaveStatus *").count(), 0);
  assert.strictEqual(await page.evaluate(() => window.injected), undefined);
});

browserTest(shared, "a script error shows the javascript_runtime card and long details are cut", async (page) => {
  await stubApi(page, { "/api/mixer/settings/load": SETTINGS_LOADED });
  await page.goto(shared.program.url + "/");
  await page.locator("#mixerApp").waitFor({ state: "visible" });
  await page.evaluate(() => setTimeout(() => { throw new Error("boom from the test"); }, 0));
  const card = await bootErrorCard(page);
  assert.strictEqual(card.title, "javascript_runtime");
  assert.match(card.text, /^step: javascript_runtime\nmessage: .*boom from the test\nsource: .*\nline: \d+\ncolumn: \d+/);

  await page.evaluate(() => window.showFatalError("mixer_ui_load", "x".repeat(5000)));
  assert.strictEqual(await page.locator("#bootErrorText").textContent(),
    "x".repeat(4000) + "\n\n[truncated 1000 characters]");
});

// The cable taken away, on the program's own audio server with its real test microphone: after
// a passed check, where it stays the user's choice until it is back, and in the Full Setup Check.
"use strict";

const assert = require("node:assert");
const { spawnSync } = require("node:child_process");
const { useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, settingsOnDisk } = require("./harness");
const { pactl } = require("./virtual_devices");
const { waitForSetupStep, startSetupCheckPathStep, passPathCheck } = require("./setup_check_steps");

// The recording side first: it is made from the playback side's monitor.
function removeCable(program) {
  const modules = pactl(program, ["list", "short", "modules"]).split("\n");
  for (const made of [/\bsource_name=cable_output\b/, /\bsink_name=cable_input\b/]) {
    for (const line of modules.filter((module) => made.test(module))) {
      pactl(program, ["unload-module", line.split("\t")[0]]);
    }
  }
}

// The same cable again, with the endpoints it had.
function addCable(program) {
  const added = spawnSync(process.env.ZENNIC_VIRTUAL_AUDIO, ["add-cable", program.folder + "/audio", "cable_input",
    "cable_output", "CABLE Input", "CABLE Output"], { env: program.env, encoding: "utf8" });
  assert.strictEqual(added.status, 0, added.stderr);
}

const shared = useProgramAndBrowser({ settings: null, privateAudio: true });

browserTest(shared, "a cable gone after a passed check stays the choice, is named, and is used again when back", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const output = () => page.evaluate(() => document.getElementById("mixerOutSel").selectedOptions[0].textContent);
  await openMainPage(shared, page);
  await passPathCheck(page);
  const before = settingsOnDisk(shared);

  removeCable(shared.program);
  await openMainPage(shared, page);
  const missing = en["audio.device_missing"].replace("{{name}}", "CABLE Input");
  assert.strictEqual(await output(), missing);
  assert.strictEqual(await page.locator("#mixerDeviceNotice:visible #mixerDeviceNoticeText").textContent(), en["audio.vbcable_missing"]);
  await page.click("#mixerDevRefresh");
  await page.locator("#mixerSaveStatus", { hasText: en["audio.devices_refreshed"] }).waitFor();
  assert.strictEqual(await output(), missing);
  await Promise.all([page.waitForResponse(/\/api\/mixer\/settings\/save$/), page.click("#mixerSaveSettings")]);
  // A start names what is missing, and saves nothing in its place.
  await page.click("#mixerStartBtn");
  await page.locator("#mixerSaveStatus", { hasText: en["audio.vbcable_missing"] }).waitFor();
  const after = settingsOnDisk(shared);
  for (const key of ["out_name", "verified_game_voice_output_id", "verified_game_voice_input_id"]) {
    assert.strictEqual(after[key], before[key], key);
  }

  addCable(shared.program);
  await page.click("#mixerDevRefresh");
  await page.locator("#mixerDeviceNotice").waitFor({ state: "hidden" });
  assert.strictEqual(await output(), "CABLE Input");
  const [started] = await Promise.all([page.waitForResponse(/\/api\/mixer\/start$/), page.click("#mixerStartBtn")]);
  assert.strictEqual((await started.json()).out_index, Number(await page.locator("#mixerOutSel").inputValue()));
  await page.waitForURL("**/play", { timeout: 15000 });
  await page.click("#playStopBtn");
  await page.waitForURL(shared.program.url + "/", { timeout: 10000 });
});

browserTest(shared, "without a cable the path step names the missing cable at once and claims no test sound", async (page) => {
  const en = await servedCatalogue(shared, "en");
  removeCable(shared.program);
  await openMainPage(shared, page);
  // Every step the wizard shows, the countdowns included.
  await page.evaluate(() => {
    let step = window.state.fullSetupWizardStep;
    window.setupSteps = [];
    Object.defineProperty(window.state, "fullSetupWizardStep",
      { get: () => step, set: (value) => window.setupSteps.push(step = value) });
  });
  await startSetupCheckPathStep(page);
  await waitForSetupStep(page, "path_failed", 30000);

  const card = await page.evaluate(() => ({
    text: document.getElementById("fullSetupStepText").textContent,
    reason: document.getElementById("fullSetupStepResultReason").textContent,
    countedDown: window.setupSteps.includes("path_countdown"),
    rows: Array.from(document.querySelectorAll("#audioSelfTestList li"), (row) => row.dataset.itemId)
  }));
  assert.deepStrictEqual([card.text, card.reason, card.countedDown],
    [en["audio_test.item.vb_cable.fail"], en["audio_test.next_step.install_vb_cable"], false]);
  assert.ok(card.rows.indexOf("vb_cable") < card.rows.indexOf("mixer_output"), card.rows.join(", "));
  // The whole dialog, the collapsed technical details included.
  const dialog = await page.locator("#audioSelfTestModal").textContent();
  for (const key of ["audio_test.item.virtual_path.fail", "audio_test.item.virtual_path.pass",
    "audio_test.path_diagnostics.tested", "audio_test.path_failure.no_signal", "audio_test.next_step.reinstall_vb_cable",
    "audio_test.next_step.select_cable_output", "audio_test.item.mixer_output.fail"]) {
    assert.ok(!dialog.includes(en[key]), "the dialog says: " + en[key]);
  }
});

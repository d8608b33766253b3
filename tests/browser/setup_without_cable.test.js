// The Full Setup Check on a machine where the cable was never installed: the program's own audio
// server with the cable's sink and source taken away, its real test microphone, and no settings.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, servedCatalogue, openMainPage } = require("./harness");
const { pactl } = require("./virtual_devices");
const { waitForSetupStep, startSetupCheckPathStep } = require("./setup_check_steps");

// The recording side first: it is made from the playback side's monitor.
function removeCable(program) {
  const modules = pactl(program, ["list", "short", "modules"]).split("\n");
  for (const made of [/\bsource_name=cable_output\b/, /\bsink_name=cable_input\b/]) {
    for (const line of modules.filter((module) => made.test(module))) {
      pactl(program, ["unload-module", line.split("\t")[0]]);
    }
  }
}

const shared = useProgramAndBrowser({ settings: null, privateAudio: true }, (ready) => removeCable(ready.program));

browserTest(shared, "without a cable the path step names the missing cable first and claims no test sound", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
  await startSetupCheckPathStep(page);
  await waitForSetupStep(page, "path_failed", 30000);

  const card = await page.evaluate(() => ({
    text: document.getElementById("fullSetupStepText").textContent,
    reason: document.getElementById("fullSetupStepResultReason").textContent
  }));
  assert.deepStrictEqual(card, {
    text: en["audio_test.item.vb_cable.fail"],
    reason: en["audio_test.next_step.install_vb_cable"]
  });
  // The whole dialog, the collapsed technical details included.
  const dialog = await page.locator("#audioSelfTestModal").textContent();
  for (const key of ["audio_test.item.virtual_path.fail", "audio_test.item.virtual_path.pass",
    "audio_test.path_diagnostics.tested", "audio_test.path_failure.no_signal", "audio_test.next_step.reinstall_vb_cable",
    "audio_test.next_step.select_cable_output"]) {
    assert.ok(!dialog.includes(en[key]), "the dialog says: " + en[key]);
  }
});

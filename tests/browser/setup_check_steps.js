// The Full Setup Check driven as a user drives it, on the program's own devices.
"use strict";

const assert = require("node:assert");

async function waitForSetupStep(page, step, timeout) {
  await page.waitForFunction((wanted) => window.state.fullSetupWizardStep === wanted, step, { timeout });
}

// Opens the check from the Audio Devices card, passes the microphone step on the test
// microphone and starts the path step; the caller waits for the path step's outcome.
async function startSetupCheckPathStep(page) {
  await page.click("#mixerAudioDevicesSelfTestBtn");
  await page.click("#audioSelfTestStartBtn");
  await page.click("#fullSetupStepStartBtn");
  await waitForSetupStep(page, "microphone_passed", 30000);
  await page.click("#fullSetupStepContinueBtn");
  await page.click("#fullSetupStepStartBtn");
}

// The answer to a route as the page's own request function gets it.
function postFromPage(page, route, body) {
  return page.evaluate(async ([path, sent]) => (await window.postJson(path, sent)).payload,
    [route, body]);
}

// The check's path test and its fix, as the wizard sends them, for tests of what comes after a
// passed check. The path test listens for its tones through the cable in real time, and on a busy
// machine they can go missing: one that did not find them runs again, three times at most.
async function passPathCheck(page) {
  const pathTest = () =>
    postFromPage(page, "/api/mixer/audio/self-test", { test_scope: "voice_path" });
  let checked = await pathTest();
  const missedTones = () => checked.virtual_path.failure_code === "signal_not_detected";
  for (let run = 1; run < 3 && missedTones(); run += 1) checked = await pathTest();
  assert.ok(checked.voice_path_step_passed, JSON.stringify(checked.virtual_path));
  const fixed = await postFromPage(page, "/api/mixer/audio/fix-windows-input", {});
  assert.ok(fixed.ok, JSON.stringify(fixed));
}

// Waits for the wizard's path step to reach `step`. As in passPathCheck, a run that did not hear
// its tones is run again from the wizard's own Try again, three runs at most.
async function waitForPathStep(page, step) {
  const reached = (wanted) =>
    [wanted, "path_failed"].includes(window.state.fullSetupWizardStep);
  const missedTones = () => window.state.fullSetupWizardStep === "path_failed" &&
    ((window.state.fullSetupPathResult || {}).virtual_path || {}).failure_code ===
      "signal_not_detected";
  for (let run = 1; run < 3; run += 1) {
    await page.waitForFunction(reached, step, { timeout: 30000 });
    if (!(await page.evaluate(missedTones))) break;
    await page.click("#fullSetupStepRetryBtn");
    await page.waitForFunction(() => window.state.fullSetupWizardStep !== "path_failed");
  }
  await waitForSetupStep(page, step, 30000);
}

module.exports = {
  waitForSetupStep, startSetupCheckPathStep, postFromPage, passPathCheck, waitForPathStep,
};

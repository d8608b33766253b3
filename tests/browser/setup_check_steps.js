// The Full Setup Check driven as a user drives it, on the program's own devices.
"use strict";

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

module.exports = { waitForSetupStep, startSetupCheckPathStep };

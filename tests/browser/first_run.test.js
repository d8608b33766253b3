// A first run in chromium against the built program on an audio server and a display of its
// own, with no settings file: device choice, the Full Setup Check on the virtual devices, the
// start and what the cable then carries. The tests build on each other, as a first run does.
"use strict";

const assert = require("node:assert");
const {
  useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo, settingsOnDisk
} = require("./harness");
const { writeWav } = require("./clip_files");
const { recordSource, toneAmplitude, pactl, pressKey } = require("./virtual_devices");

const shared = useProgramAndBrowser({ settings: null, privateAudio: true, display: "private" });
const MICROPHONE_TONE_HZ = 440;

async function waitForStep(page, step, timeout) {
  await page.waitForFunction((wanted) => window.state.fullSetupWizardStep === wanted, step, { timeout });
}

browserTest(shared, "a fresh start chooses the cable and the headphones and saves them once", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const saves = requestsTo(page, "/api/mixer/settings/save");
  await openMainPage(shared, page);
  const chosen = await page.evaluate(() => ({
    microphone: document.getElementById("mixerMicSel").selectedOptions[0].textContent,
    output: document.getElementById("mixerOutSel").selectedOptions[0].textContent,
    monitor: document.getElementById("mixerMonitorSel").selectedOptions[0].textContent,
    monitorEnabled: document.getElementById("mixerMonitorEnabled").checked
  }));
  assert.deepStrictEqual(chosen, {
    microphone: "Microphone (Virtual)", output: "CABLE Input", monitor: "Headphones (Virtual)", monitorEnabled: true
  });
  assert.strictEqual(await page.locator("#mixerDeviceNoticeText").textContent(), en["audio.vbcable_detected"]);
  assert.strictEqual(saves.length, 1);
  const saved = settingsOnDisk(shared);
  assert.deepStrictEqual([saved.mic_name, saved.out_name, saved.monitor_name, saved.monitor_enabled],
    ["Microphone (Virtual)", "CABLE Input", "Headphones (Virtual)", true]);
});

browserTest(shared, "the whole first run passes the check, starts the mixer and reaches the game", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
  // A playable clip is part of being ready; the file browser would choose it the same way.
  const clip = await page.evaluate(() => window.state.settings.profiles[0].audio_dir + "/tone.wav");
  writeWav(clip, { frequency: 1000, seconds: 1 });
  await page.evaluate((file) => window.postJson("/api/mixer/set", { file_path: file }), clip);

  await page.click("#mixerAudioDevicesSelfTestBtn");
  await page.click("#audioSelfTestStartBtn");
  await page.click("#fullSetupStepStartBtn");
  await waitForStep(page, "microphone_passed", 30000);
  await page.click("#fullSetupStepContinueBtn");
  await page.click("#fullSetupStepStartBtn");
  await waitForStep(page, "windows_fix", 30000);
  assert.strictEqual(await page.locator("#audioSelfTestFixWindowsInputBtn").isVisible(), true);
  await page.click("#audioSelfTestFixWindowsInputBtn");

  // The push-to-talk key is pressed on the display until the program's raw input reports it.
  await waitForStep(page, "ptt_key_prepare", 30000);
  await page.click("#fullSetupStepStartBtn");
  await waitForStep(page, "ptt_key_waiting", 10000);
  for (let attempt = 0; attempt < 40; attempt += 1) {
    if (await page.evaluate(() => window.state.fullSetupWizardStep) !== "ptt_key_waiting") break;
    pressKey(shared.program, "KP_Add");
    await page.waitForTimeout(250);
  }
  await waitForStep(page, "ptt_key_passed", 5000);
  await page.click("#fullSetupStepContinueBtn");
  await waitForStep(page, "final", 5000);
  assert.strictEqual(await page.locator("#audioSelfTestResultTitle").textContent(), en["audio_test.result_ready_to_start"]);
  assert.strictEqual(await page.locator("#audioSelfTestResult").getAttribute("class"), "full-setup-result ready");
  assert.strictEqual(pactl(shared.program, ["get-default-source"]), "test_microphone", "the fix changes no default yet");
  await page.click("#audioSelfTestCloseBtn");

  // The fix recorded the consent to switch, so the start asks nothing more.
  await page.click("#mixerStartBtn");
  await page.waitForURL("**/play", { timeout: 15000 });
  assert.strictEqual(await page.locator("#audioConsentModal").isHidden(), true);
  assert.strictEqual(pactl(shared.program, ["get-default-source"]), "cable_output");
  const heard = toneAmplitude(await recordSource(shared.program, "cable_output", 1), MICROPHONE_TONE_HZ);
  assert.ok(heard > 0.05, "the cable carries the microphone's tone (amplitude " + heard + ")");
});

browserTest(shared, "a start without the consent on record asks before switching Windows audio", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
  await page.click("#mixerStopBtn");
  await page.waitForFunction(() => !window.state.mixerRunning && !document.getElementById("mixerStartBtn").disabled);
  // As an earlier version's settings file leaves it: the verified cable, but no consent.
  await page.evaluate(() => window.postJson("/api/mixer/settings/save", { audio_management_consent_granted: false }));
  await openMainPage(shared, page);

  await page.click("#mixerStartBtn");
  await page.locator("#audioConsentModal").waitFor({ state: "visible" });
  assert.strictEqual(await page.locator("#audioConsentInput").textContent(), en["audio_management.game_input_cable_name"]);
  assert.strictEqual(await page.locator("#audioConsentOutput").textContent(), "Headphones (Virtual)");
  assert.strictEqual(await page.evaluate(() => document.activeElement.id), "audioConsentAllowBtn");
  await page.click("#audioConsentAllowBtn");
  await page.waitForURL("**/play", { timeout: 15000 });
  assert.strictEqual(settingsOnDisk(shared).audio_management_consent_granted, true);
  assert.strictEqual(pactl(shared.program, ["get-default-source"]), "cable_output");
});

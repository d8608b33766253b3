// A first run in chromium against the built program on an audio server and a display of its
// own, with no settings file: device choice, the Full Setup Check on the virtual devices before
// any clip exists, a clip chosen in Quick Play, the start, what the cable then carries, and a
// restart. The tests build on each other, as a first run does.
"use strict";

const assert = require("node:assert");
const {
  useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo, settingsOnDisk
} = require("./harness");
const { writeWav } = require("./clip_files");
const { recordSource, toneAmplitude, pactl, pressKey, holdKey } = require("./virtual_devices");
const { waitForSetupStep, startSetupCheckPathStep, waitForPathStep } = require("./setup_check_steps");

const shared = useProgramAndBrowser({ settings: null, privateAudio: true, display: "private" });
const MICROPHONE_TONE_HZ = 440;
const CLIP_TONE_HZ = 1000;

async function selectInQuickPlay(page, file) {
  await page.locator(".play-row").filter({ hasText: file.split("/").pop() }).locator(".play-select").click();
  await page.waitForFunction((path) => window.playState.selectedFilePath === path, file);
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

browserTest(shared, "the whole first run: the check without a clip, a clip from Quick Play, the game hears it, and a restart keeps it", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);

  // A new user has no clip yet: the check passes everything but the clip, and says so.
  await startSetupCheckPathStep(page);
  await waitForPathStep(page, "windows_fix");
  // The fix gives the consent every start relies on, so it is asked here, naming the output a
  // start will switch too.
  await page.click("#audioSelfTestFixWindowsInputBtn");
  await page.locator("#audioConsentModal").waitFor({ state: "visible" });
  assert.strictEqual(await page.locator("#audioConsentOutput").textContent(), "Headphones (Virtual)");
  await page.click("#audioConsentAllowBtn");
  // The push-to-talk key, pressed on the display before the countdown ends, still counts.
  await waitForSetupStep(page, "ptt_key_prepare", 30000);
  await page.click("#fullSetupStepStartBtn");
  await page.waitForFunction(() => window.state.fullSetupKeyCaptureId !== "");
  for (let attempt = 0; attempt < 10; attempt += 1) {
    if (await page.evaluate(() => window.state.fullSetupWizardStep) !== "ptt_key_countdown") break;
    pressKey(shared.program, "KP_Add");
    await page.waitForTimeout(200);
  }
  await waitForSetupStep(page, "ptt_key_passed", 5000);
  await page.click("#fullSetupStepContinueBtn");
  await waitForSetupStep(page, "final", 5000);
  const card = await page.evaluate(() => ({
    title: document.getElementById("fullSetupStepTitle").textContent,
    text: document.getElementById("fullSetupStepText").textContent,
    reason: document.getElementById("fullSetupStepResultReason").textContent,
    failed: Array.from(document.querySelectorAll("#audioSelfTestList li.fail"), (row) => row.dataset.itemId)
  }));
  assert.deepStrictEqual(card, {
    title: en["audio_test.result_fixable"],
    text: en["audio_test.item.selected_file.fail"],
    reason: en["audio_test.next_step.select_ptt_file"],
    failed: ["selected_file"]
  });
  assert.strictEqual(await page.locator("#audioSelfTestChooseClipBtn").isVisible(), true);
  const shown = await page.locator("#audioSelfTestModal").innerText();
  assert.strictEqual(shown.split(en["audio_test.result_fixable"]).length, 2, "the verdict is said once");
  assert.strictEqual(pactl(shared.program, ["get-default-source"]), "test_microphone", "the fix changes no default yet");
  await page.click("#audioSelfTestCloseBtn");

  // A clip put into the profile's folder is chosen in Quick Play.
  const folder = await page.evaluate(() => window.state.settings.profiles[0].audio_dir);
  writeWav(folder + "/first.wav", { frequency: 700, seconds: 3 });
  writeWav(folder + "/tone.wav", { frequency: CLIP_TONE_HZ, seconds: 3 });
  await page.goto(shared.program.url + "/play");
  await selectInQuickPlay(page, folder + "/first.wav");

  // The fix recorded the consent to switch, so the start asks nothing more.
  await openMainPage(shared, page);
  await page.click("#mixerStartBtn");
  await page.waitForURL("**/play", { timeout: 15000 });
  assert.strictEqual(pactl(shared.program, ["get-default-source"]), "cable_output");
  // The start saved the settings; a clip chosen while the mixer runs must be kept too.
  await selectInQuickPlay(page, folder + "/tone.wav");
  holdKey(shared.program, "KP_Add", true);
  const held = await recordSource(shared.program, "cable_output", 1);
  holdKey(shared.program, "KP_Add", false);
  assert.ok(toneAmplitude(held, CLIP_TONE_HZ) > 0.05,
    "the game hears the clip while the key is held (amplitude " + toneAmplitude(held, CLIP_TONE_HZ) + ")");

  await page.click("#playStopBtn");
  await page.waitForURL(shared.program.url + "/", { timeout: 10000 });
  assert.strictEqual(pactl(shared.program, ["get-default-source"]), "test_microphone");
  await shared.program.restart();
  await page.goto(shared.program.url + "/play");
  await page.locator(".play-row.selected").waitFor({ timeout: 10000 });
  assert.strictEqual(await page.locator("#playSelectedFile").textContent(), "tone.wav");
});

browserTest(shared, "a start without the consent on record asks before switching Windows audio", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
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

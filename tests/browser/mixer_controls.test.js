// The main page's settings controls in chromium against the built program: coalesced volume
// changes, the port range, and custom voice presets as settings.json keeps them.
"use strict";

const assert = require("node:assert");
const {
  useProgramAndBrowser, browserTest, servedCatalogue, openMainPage, requestsTo, settingsOnDisk
} = require("./harness");

const shared = useProgramAndBrowser();

// Moves a range input the way a drag does: one input event per position, `gapMs` apart as the
// page's own timers count, so a busy test process cannot stretch the gaps.
async function moveSlider(page, id, values, gapMs = 0) {
  await page.evaluate(async ([sliderId, positions, gap]) => {
    const slider = document.getElementById(sliderId);
    for (const position of positions) {
      if (gap) await new Promise((resolve) => setTimeout(resolve, gap));
      slider.value = String(position);
      slider.dispatchEvent(new Event("input", { bubbles: true }));
    }
  }, [id, values, gapMs]);
}

browserTest(shared, "three slider moves within 100 ms send one set with the last value", async (page) => {
  await openMainPage(shared, page);
  const sets = requestsTo(page, "/api/mixer/set");
  const first = page.waitForRequest("**/api/mixer/set");
  await moveSlider(page, "mixerMicVol", [120, 140, 150], 40);
  await first;
  await page.waitForTimeout(400);
  assert.deepStrictEqual(sets.map((request) => request.postDataJSON()), [{ mic_volume: 1.5 }]);
  assert.strictEqual(await page.locator("#mixerMicVolLabel").textContent(), "150%");
});

browserTest(shared, "a port outside 1024 to 65535 is saved at the nearest end, for use after a restart", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
  const running = Number(new URL(shared.program.url).port);
  const saves = requestsTo(page, "/api/mixer/settings/save");
  for (const [typed, saved] of [["80", 1024], ["70000", 65535]]) {
    await page.fill("#mixerServerPort", typed);
    await page.click("#mixerSaveSettings");
    await page.waitForFunction((port) => window.state.settings.server_port === port, saved);
    assert.strictEqual(saves[saves.length - 1].postDataJSON().server_port, saved);
    assert.strictEqual(await page.inputValue("#mixerServerPort"), String(saved));
    assert.strictEqual(settingsOnDisk(shared).server_port, saved);
    assert.strictEqual(await page.locator("#mixerServerPortHint").textContent(), en["server.port_hint_restart"]
      .replace("{{effective_port}}", running).replace("{{configured_port}}", saved));
  }
});

browserTest(shared, "custom voice presets get unique ids and names, at most ten", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
  await page.check("#mixerVoiceEffectsEnabled");
  for (const name of ["Robot", "robot"]) {
    await page.selectOption("#mixerVoiceEffectPreset", "custom");
    await page.fill("#mixerVoiceCustomPresetName", name);
    await page.click("#mixerVoiceCustomSaveBtn");
    await page.waitForFunction((count) => window.state.voiceEffectCustomPresets.length === count,
      name === "Robot" ? 1 : 2);
  }
  assert.strictEqual(await page.locator("#mixerVoiceCustomStatus").textContent(), en["playback.voice_custom_saved"]);
  assert.deepStrictEqual(settingsOnDisk(shared).voice_effect_custom_presets.map((preset) => [preset.id, preset.name]),
    [["robot", "Robot"], ["robot-2", "robot 2"]]);

  // The last choice of preset queued a set that carries the list the page knows; the ten are
  // written behind the page's back only once that set is answered, or it would put the two back.
  await page.waitForFunction(() => !window.state.pendingSetTimer && window.state.setRequestsInFlight === 0);
  const ten = Array.from({ length: 10 }, (unused, i) => ({ id: "p" + i, name: "Preset " + i, values: {} }));
  await page.evaluate((list) => window.postJson("/api/mixer/settings/save", { voice_effect_custom_presets: list }), ten);
  await openMainPage(shared, page);
  const saves = requestsTo(page, "/api/mixer/settings/save");
  await page.selectOption("#mixerVoiceEffectPreset", "custom");
  await page.fill("#mixerVoiceCustomPresetName", "Eleventh");
  await page.click("#mixerVoiceCustomSaveBtn");
  assert.strictEqual(await page.locator("#mixerVoiceCustomStatus").textContent(), en["playback.voice_custom_limit"]);
  assert.strictEqual(saves.length, 0);
  assert.strictEqual(settingsOnDisk(shared).voice_effect_custom_presets.length, 10);
});

browserTest(shared, "a status answer older than a preset save does not undo it", async (page) => {
  await openMainPage(shared, page);
  await page.evaluate(() => window.postJson("/api/mixer/settings/save", { voice_effect_custom_presets: [] }));
  await openMainPage(shared, page);
  // The program's own answer, held back until the save has been answered.
  let saved;
  const saveAnswered = new Promise((resolve) => { saved = resolve; });
  await page.route("**/api/mixer/status", async (route) => {
    const answer = await route.fetch();
    await saveAnswered;
    await route.fulfill({ response: answer });
  });
  page.on("response", (response) => {
    if (new URL(response.url()).pathname === "/api/mixer/settings/save") saved();
  });
  await page.check("#mixerVoiceEffectsEnabled");
  const before = await page.evaluate(() => window.state.voiceEffectCustomPresets.length);
  const heldStatus = await page.waitForRequest("**/api/mixer/status");
  await page.selectOption("#mixerVoiceEffectPreset", "custom");
  await page.fill("#mixerVoiceCustomPresetName", "Late poll");
  await page.click("#mixerVoiceCustomSaveBtn");
  await heldStatus.response();
  await page.waitForTimeout(200);
  assert.strictEqual(await page.evaluate(() => window.state.voiceEffectCustomPresets.length), before + 1);
});

browserTest(shared, "moving a slider away from a built-in preset sends the five values as custom", async (page) => {
  await openMainPage(shared, page);
  await page.check("#mixerVoiceEffectsEnabled");
  await page.selectOption("#mixerVoiceEffectPreset", "warm");
  await page.waitForFunction(() => !window.state.pendingSetTimer && window.state.setRequestsInFlight === 0);
  const sets = requestsTo(page, "/api/mixer/set");
  const first = page.waitForRequest("**/api/mixer/set");
  await moveSlider(page, "mixerVoiceTone", [30, 35, 40]);
  await first;
  await page.waitForTimeout(400);
  assert.strictEqual(await page.inputValue("#mixerVoiceEffectPreset"), "custom");
  assert.strictEqual(sets.length, 1);
  const sent = sets[0].postDataJSON();
  assert.strictEqual(sent.voice_effect_preset, "custom");
  assert.strictEqual(sent.voice_effect_custom_preset_id, "");
  assert.deepStrictEqual(sent.voice_effect_custom_values,
    { tone: 0.4, depth: 0.45, clarity: 0.42, radio: 0, output_level: 0.56 });
});

// The main page beside a running mixer, in chromium against the built program on an audio server
// and a display of its own: push-to-talk from the page, the voice test, a start refused while
// Windows still records from the cable, a run whose audio server went away for a while, the
// status line beside a run, and both pages once the program no longer answers.
"use strict";

const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const { useProgramAndBrowser, browserTest, servedCatalogue, requestsTo, openMainPage } = require("./harness");
const { writeWav } = require("./clip_files");
const { pactl } = require("./virtual_devices");
const { postFromPage, passPathCheck } = require("./setup_check_steps");

// The set-up a user makes through the Full Setup Check and Start, here through the same routes.
async function startMixerThroughRoutes(shared) {
  const context = await shared.browser.newContext();
  const page = await context.newPage();
  // The settings come in after the mixer's page shows.
  await openMainPage(shared, page);
  const clip = await page.evaluate(() => window.state.settings.profiles[0].audio_dir + "/tone.wav");
  writeWav(clip, { frequency: 1000, seconds: 2 });
  try {
    const chosen = await postFromPage(page, "/api/mixer/set", { file_path: clip });
    assert.strictEqual(chosen.ok, true, JSON.stringify(chosen).slice(0, 400));
    await passPathCheck(page);
    const started = await postFromPage(page, "/api/mixer/start", {});
    assert.strictEqual(started.ok, true, JSON.stringify(started).slice(0, 400));
  } finally {
    await context.close();
  }
}

const DEVICES = { mic_name: "Microphone (Virtual)", out_name: "CABLE Input", monitor_name: "Headphones (Virtual)" };
const shared = useProgramAndBrowser({ settings: DEVICES, privateAudio: true, display: "private" }, startMixerThroughRoutes);

async function openRunningMixer(page) {
  await openMainPage(shared, page);
  await page.waitForFunction(() => window.state.mixerRunning === true, null, { timeout: 10000 });
}

// Starts the mixer as another page would, unless it runs, and waits until this page shows it.
async function startFromElsewhere(page) {
  const running = await page.evaluate(() => window.postJson("/api/mixer/status", {}));
  if (running.payload.mixer.running !== true) {
    const started = await page.evaluate(() => window.postJson("/api/mixer/start", {}));
    assert.strictEqual(started.payload.ok, true, JSON.stringify(started.payload).slice(0, 400));
  }
  await page.waitForFunction(() => window.state.mixerRunning === true, null, { timeout: 10000 });
}

async function stopMixer(page) {
  await page.evaluate(() => window.postJson("/api/mixer/stop", {}));
  await page.waitForFunction(() => !window.state.mixerRunning, null, { timeout: 10000 });
}

browserTest(shared, "the push-to-talk key pressed in the page plays the clip until it is released", async (page) => {
  await openRunningMixer(page);
  const starts = requestsTo(page, "/api/mixer/ptt/start");
  const stops = requestsTo(page, "/api/mixer/ptt/stop");
  const sent = (route) => page.waitForRequest((request) => new URL(request.url()).pathname === route);
  let request = sent("/api/mixer/ptt/start");
  await page.keyboard.down("NumpadAdd");
  await page.keyboard.down("NumpadAdd");
  await request;
  await page.waitForTimeout(300);
  assert.strictEqual(starts.length, 1, "a held key starts once");
  request = sent("/api/mixer/ptt/stop");
  await page.keyboard.up("NumpadAdd");
  await request;
  assert.strictEqual(stops.length, 1);
  assert.strictEqual(stops[0].postData(), "{}");

  await page.focus("#mixerVoiceCustomPresetName");
  await page.keyboard.press("NumpadAdd");
  await page.waitForTimeout(300);
  assert.deepStrictEqual([starts.length, stops.length], [1, 1], "a key typed into a field is text");

  await page.evaluate(() => document.activeElement.blur());
  request = sent("/api/mixer/ptt/start");
  await page.keyboard.down("NumpadAdd");
  await request;
  // Headless chromium keeps every page focused, so the window's focus loss is dispatched.
  request = sent("/api/mixer/ptt/stop");
  await page.evaluate(() => window.dispatchEvent(new FocusEvent("blur")));
  await request;
  assert.deepStrictEqual([starts.length, stops.length], [2, 2], "losing the focus lets go of the key");
});

browserTest(shared, "the voice test records five seconds and plays them in the page", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openRunningMixer(page);
  await page.click("#mixerVoiceTestRecordBtn");
  await page.waitForFunction((text) => document.getElementById("mixerVoiceTestStatus").textContent === text,
    en["playback.voice_test_ready_to_play"], { timeout: 20000 });
  const duration = await page.evaluate(() => new Promise((resolve) => {
    const audio = window.state.voiceTestAudio;
    if (Number.isFinite(audio.duration)) return resolve(audio.duration);
    audio.addEventListener("loadedmetadata", () => resolve(audio.duration));
  }));
  assert.ok(Math.abs(duration - 5) < 0.05, "the recording lasts " + duration + " s");
  assert.strictEqual(await page.locator("#mixerVoiceTestPlayBtn").isEnabled(), true);
});

browserTest(shared, "a run whose audio server went away says so, and plays on once it is back", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openRunningMixer(page);
  shared.program.audio.stop();
  try {
    await page.locator("#mixerDevicesStoppedNotice").waitFor({ state: "visible", timeout: 10000 });
    assert.strictEqual(await page.textContent("#mixerDevicesStoppedNotice"), en["mixer.devices_stopped"]);
    assert.strictEqual(await page.textContent("#mixerStatusBadge"), en["main.status.devices_stopped"]);
    assert.strictEqual(await page.isDisabled("#mixerStopBtn"), false, "the run is still there to stop");
  } finally {
    shared.program.audio.start();
  }
  await page.locator("#mixerDevicesStoppedNotice").waitFor({ state: "hidden", timeout: 15000 });
  assert.strictEqual(await page.textContent("#mixerStatusBadge"), en["main.status.running"]);
});

browserTest(shared, "a start with a clip the trigger key cannot play warns and stays on the page", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openRunningMixer(page);
  await page.click("#mixerStopBtn");
  await page.waitForFunction(() => !window.state.mixerRunning && !document.getElementById("mixerStartBtn").disabled);
  const folder = await page.evaluate(() => window.state.settings.profiles[0].audio_dir);
  fs.writeFileSync(path.join(folder, "broken.mp3"), "not audio");
  const select = (name) => page.evaluate((file) => window.postJson("/api/mixer/set", { file_path: file }), path.join(folder, name));
  await select("broken.mp3");
  try {
    await page.click("#mixerStartBtn");
    // The start's own messages follow the warning.
    await page.waitForFunction((text) => document.getElementById("mixerSaveStatus").textContent.startsWith(text),
      en["main.start_clip_unplayable"].replace("{{name}}", "broken.mp3"), { timeout: 10000 });
    assert.strictEqual(await page.textContent("#mixerCurrentFile"),
      en["files.selected_prefix"].replace("{{name}}", "broken.mp3") + " " + en["files.selected_unplayable"]);
    await page.waitForTimeout(1200);
    assert.strictEqual(new URL(page.url()).pathname, "/");
  } finally {
    await select("tone.wav");
  }
});

browserTest(shared, "a start while Windows still records from the cable is refused and shown", async (page) => {
  const en = await servedCatalogue(shared, "en");
  await openRunningMixer(page);
  await page.click("#mixerStopBtn");
  await page.waitForFunction(() => !window.state.mixerRunning && !document.getElementById("mixerStartBtn").disabled);
  pactl(shared.program, ["set-default-source", "cable_output"]);
  try {
    const audioStatus = requestsTo(page, "/api/mixer/audio/status");
    const starts = [];
    page.on("response", (response) => {
      if (new URL(response.url()).pathname === "/api/mixer/start") starts.push(response);
    });
    await page.click("#mixerStartBtn");
    await page.waitForFunction((text) => document.getElementById("mixerSaveStatus").textContent === text,
      en["errors.audio_session_active"], { timeout: 10000 });
    assert.strictEqual(starts.length, 1);
    assert.strictEqual(starts[0].status(), 409);
    assert.strictEqual((await starts[0].json()).code, "unsafe_audio_snapshot");
    assert.ok(audioStatus.length >= 1, "the audio status is read again");
  } finally {
    pactl(shared.program, ["set-default-source", "test_microphone"]);
  }
});

browserTest(shared, "the status line says what holds for the run and the clip on the trigger key", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const line = () => page.textContent("#mixerSaveStatus");
  // Waits a while for the line to end with `text`, then holds it to that.
  const lineEndsWith = async (text) => {
    await page.waitForFunction((expected) => document.getElementById("mixerSaveStatus").textContent.endsWith(expected),
      text, { timeout: 5000 }).catch(() => {});
    assert.ok((await line()).endsWith(text), "the line says: " + await line());
  };
  const clickRow = (name) => page.click("#mixerFiles .file-row:has(.file-name:text-is('" + name + "')) .file-select");
  await openMainPage(shared, page);
  const folder = await page.evaluate(() => window.state.settings.profiles[0].audio_dir);
  writeWav(path.join(folder, "two.wav"));
  writeWav(path.join(folder, "gone.wav"));
  await stopMixer(page);
  try {
    // Opened while the mixer is stopped; the run then starts from another page.
    await openMainPage(shared, page);
    assert.strictEqual(await line(), en["main.status.ready_text"]);
    await startFromElsewhere(page);
    await clickRow("two.wav");
    await lineEndsWith(en["main.status.running_text"]);

    // A refused choice is shown until a choice goes through, the same clip chosen again included.
    fs.unlinkSync(path.join(folder, "gone.wav"));
    await clickRow("gone.wav");
    await lineEndsWith("(file_not_found)");
    await clickRow("two.wav");
    await lineEndsWith(en["main.status.running_text"]);

    fs.unlinkSync(path.join(folder, "two.wav"));
    await page.waitForFunction(() => document.getElementById("mixerSelectedFileState").dataset.state === "missing");
    assert.strictEqual(await line(), en["main.start_clip_unplayable"].replace("{{name}}", "two.wav"));
  } finally {
    await page.evaluate((file) => window.postJson("/api/mixer/set", { file_path: file }), path.join(folder, "tone.wav"));
  }
});

// Last in this file: the program ends, and comes back without a run.
browserTest(shared, "pages whose program stopped answering claim no run, and after its restart no switch either", async (page, context) => {
  const en = await servedCatalogue(shared, "en");
  await openMainPage(shared, page);
  await startFromElsewhere(page);
  await page.waitForFunction((yes) => document.getElementById("mixerAudioSessionStatus").textContent === yes, en["common.yes"]);
  const play = await context.newPage();
  await play.goto(shared.program.url + "/play");
  await play.waitForFunction((text) => document.getElementById("playSelectedHint").textContent === text,
    en["play.ptt_explanation"], { timeout: 10000 });
  const badgeSays = (tab, id, key) => tab.waitForFunction(([badge, text]) =>
    document.getElementById(badge).textContent === text, [id, en[key]], { timeout: 10000 });

  await shared.program.exit();
  await badgeSays(page, "mixerStatusBadge", "main.status.no_answer");
  assert.match(await page.textContent("#mixerSaveStatus"), /\(network_error\)$/);
  assert.strictEqual(await page.textContent("#mixerAudioSessionStatus"), "-");
  await badgeSays(play, "playMixerState", "main.status.no_answer");
  assert.strictEqual(await play.textContent("#playSelectedHint"), en["play.ptt_needs_mixer"]);

  await shared.program.launch();
  await page.locator("#sessionLostNotice").waitFor({ state: "visible", timeout: 10000 });
  assert.strictEqual(await page.textContent("#mixerStatusBadge"), en["main.status.no_answer"]);
  assert.strictEqual(await page.textContent("#mixerAudioSessionStatus"), "-");
});

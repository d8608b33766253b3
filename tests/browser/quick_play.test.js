// Quick Play and its trim editor in chromium against the built program, on real clip files.
"use strict";

const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const {
  useProgramAndBrowser, browserTest, stubApi, servedCatalogue, saveScreenshot, requestsTo, openMainPage, waitForLanguage
} = require("./harness");
const { findLayoutProblems } = require("./layout_check");
const { emptySoundsFolder, writeWav, writeEncodedTone, readWav } = require("./clip_files");

const shared = useProgramAndBrowser();

// Opens Quick Play and waits until its boot, its first status answer and its preparation are done.
async function openQuickPlay(page) {
  await page.goto(shared.program.url + "/play");
  await page.locator("#playApp").waitFor({ state: "visible" });
  await page.waitForFunction(() => window.playState.refreshTimer !== 0 && !window.playState.autoPrepareActive &&
    document.getElementById("playMixerState").dataset.state !== undefined);
}

function isStatusRequest(request) {
  return new URL(request.url()).pathname === "/api/mixer/status";
}

function row(page, name) {
  return page.locator("#playList .play-row", { has: page.locator(".play-name", { hasText: name }) });
}

// Opens the trim editor on `name` and waits until its clip is decoded. The button is found by the
// page's own text, since a test may leave the page in another language.
async function openTrim(page, name) {
  const label = await page.evaluate(() => window.ZennicI18n.t("trim.open_editor"));
  await row(page, name).locator("button", { hasText: label }).click();
  await page.waitForFunction(() => window.playState.trim.audioBuffer !== null || document.getElementById("playTrimMessage").textContent !== "");
  assert.strictEqual(await page.textContent("#playTrimMessage"), "", name + " decodes");
}

browserTest(shared, "categories, the ready clips, selection and Stop Mixer", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "SFX/boom.wav"));
  writeWav(path.join(folder, "sfx /clap.wav"));
  writeWav(path.join(folder, "Music/song.wav"));
  fs.writeFileSync(path.join(folder, "broken.mp3"), "not audio");
  await openQuickPlay(page);

  const bar = () => page.$$eval("#playCategoryBar button", (buttons) => buttons.map((button) => button.textContent));
  assert.deepStrictEqual(await bar(), ["All", "Music", "SFX"]);
  const listed = () => page.$$eval("#playList .play-name", (names) => names.map((name) => name.textContent).sort());
  assert.deepStrictEqual(await listed(), ["boom.wav", "clap.wav", "song.wav"]);
  await page.click("#playCategoryBar button:text-is('SFX')");
  assert.deepStrictEqual(await listed(), ["boom.wav", "clap.wav"]);

  await row(page, "clap.wav").locator(".play-select").click();
  await row(page, "clap.wav").and(page.locator(".selected")).waitFor();
  assert.strictEqual(await page.textContent("#playSelectedFile"), "clap.wav");
  const status = await page.evaluate(() => window.playPostJson("/api/mixer/status", {}));
  assert.strictEqual(status.payload.mixer.file_path, path.join(folder, "sfx /clap.wav"));

  // Stop is offered while a run is on.
  const running = { "/api/mixer/status": { ok: true, mixer: { running: true } } };
  await stubApi(page, Object.assign({
    "/api/mixer/stop": { ok: false, error: "The mixer could not be stopped.", code: "mixer_stop_failed" }
  }, running));
  await page.locator("#playStopBtn").waitFor({ state: "visible" });
  await page.click("#playStopBtn");
  await page.locator("#playNotice").filter({ hasText: "mixer_stop_failed" }).waitFor();
  await page.waitForTimeout(600);
  assert.strictEqual(new URL(page.url()).pathname, "/play");
  await page.unroute("**/api/mixer/**");
  await stubApi(page, running);
  const clicked = Date.now();
  await Promise.all([page.waitForURL(shared.program.url + "/"), page.click("#playStopBtn")]);
  assert.ok(Date.now() - clicked >= 300, "left after " + (Date.now() - clicked) + " ms");
});

browserTest(shared, "with the mixer stopped Quick Play offers Start, and names a selected clip that cannot play", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "ready.wav"));
  writeWav(path.join(folder, "deleted.wav"));
  fs.writeFileSync(path.join(folder, "broken.mp3"), "not audio");
  await openQuickPlay(page);
  assert.strictEqual(await page.textContent("#playMixerState"), en["main.status.stopped"]);
  assert.strictEqual(await page.locator("#playStopBtn").isHidden(), true);
  assert.strictEqual(await page.getAttribute("#playStartLink", "href"), "/#start");

  // Chosen on the main page: Quick Play does not list it, and says why the key plays nothing.
  await page.evaluate((file) => window.playPostJson("/api/mixer/set", { file_path: file }), path.join(folder, "broken.mp3"));
  await page.waitForFunction(() => document.getElementById("playSelectedFile").textContent === "broken.mp3");
  assert.strictEqual(await page.textContent("#playSelectedHint"), en["files.selected_unplayable"]);
  assert.strictEqual(await page.textContent("#playSelectedState"), en["common.error"]);

  // A row whose file was deleted since the list was read is refused, and the list read again.
  fs.unlinkSync(path.join(folder, "deleted.wav"));
  await row(page, "deleted.wav").locator(".play-select").click();
  await page.locator("#playNotice").filter({ hasText: "file_not_found" }).waitFor();
  await row(page, "deleted.wav").waitFor({ state: "detached" });
  assert.strictEqual(await page.textContent("#playSelectedFile"), "broken.mp3");

  fs.unlinkSync(path.join(folder, "broken.mp3"));
  await page.waitForFunction((text) => document.getElementById("playSelectedState").textContent === text, en["files.state.missing"]);
  // Without a run the key plays nothing yet, and the hint says so.
  await row(page, "ready.wav").locator(".play-select").click();
  await page.waitForFunction((text) => document.getElementById("playSelectedHint").textContent === text, en["play.ptt_needs_mixer"]);
  assert.strictEqual(await page.locator("#playSelectedState").isHidden(), true);
});

browserTest(shared, "pages open across a program restart say at their first poll that their session is gone", async (page, context) => {
  const en = await servedCatalogue(shared, "en");
  await openQuickPlay(page);
  const main = await context.newPage();
  await openMainPage(shared, main);
  const address = shared.program.url;
  await shared.program.restart();
  assert.strictEqual(shared.program.url, address, "the program came back on its port");
  await page.locator("#playError").waitFor({ state: "visible" });
  assert.strictEqual(await page.textContent("#playErrorText"), en["errors.session_required"] + " (session_required)");
  assert.strictEqual(await page.locator("#playStopBtnError").isHidden(), true);
  await main.locator("#sessionLostNotice").waitFor({ state: "visible" });
  assert.strictEqual(await main.evaluate(() => window.state.statusTimer), 0, "polling ends");
  await Promise.all([main.waitForNavigation(), main.click("#sessionLostReloadBtn")]);
  await main.locator("#mixerApp").waitFor({ state: "visible" });
  assert.strictEqual(await main.locator("#sessionLostNotice").isHidden(), true);
});

browserTest(shared, "the status poll drives the route warning, the stopped devices, the sound links and new inbox clips", async (page) => {
  const en = await servedCatalogue(shared, "en");
  emptySoundsFolder(shared.program);
  let mixer = {};
  await stubApi(page, { "/api/mixer/status": (route) => route.fulfill({ json: { ok: true, mixer } }) });
  await openQuickPlay(page);
  const listLoads = requestsTo(page, "/api/mixer/files");
  // Answers `next` from now on and waits until the page has applied it: this page polls again
  // only once it has applied the answer before.
  const polled = async (next) => {
    mixer = next;
    await page.waitForRequest(isStatusRequest);
    await page.waitForRequest(isStatusRequest);
  };
  const warning = (code, message) => ({ audio_route_warning: true, audio_route_warning_code: code, audio_route_warning_message: message });
  for (const [audio, running, text, stopShown] of [
    [warning("windows_input_changed", "x"), true, en["audio_management.route_changed_warning"], true],
    [warning("windows_input_changed", "x"), false, en["audio_management.route_changed_warning"], false],
    [warning("orphaned_cable_input", "x"), false, en["audio_management.input_still_cable_warning"], false],
    [warning("other", "The route changed."), true, "The route changed.", false]
  ]) {
    await polled({ running, audio_management: audio });
    assert.strictEqual(await page.textContent("#playAudioRouteWarningText"), text);
    assert.strictEqual(await page.locator("#playAudioRouteStopBtn").isVisible(), stopShown, audio.audio_route_warning_code);
  }
  await polled({ audio_management: {} });
  assert.strictEqual(await page.locator("#playAudioRouteWarning").isHidden(), true);

  await polled({ running: true, devices_stopped: true });
  assert.strictEqual(await page.textContent("#playDevicesStopped span"), en["mixer.devices_stopped"]);
  await polled({ running: true, devices_stopped: false });
  assert.strictEqual(await page.locator("#playDevicesStopped").isHidden(), true);

  await polled({ sound_links: [{ id: "a", name: "Bad", url: "ftp://x" }, { id: "b", name: "Good", url: "https://sounds.example/" }] });
  assert.deepStrictEqual(await page.$$eval("#playSoundLinkSel option", (options) => options.map((option) => option.textContent)), ["Good"]);
  assert.strictEqual(await page.getAttribute("#playSoundLinkOpenBtn", "href"), "https://sounds.example/");
  await polled({ sound_links: [] });
  assert.strictEqual(await page.locator("#playSoundLinksBar").isHidden(), true);

  await polled({ sound_inbox: { revision: 1 } });
  await polled({ sound_inbox: { revision: 1 } });
  assert.strictEqual(listLoads.length, 0, "the first revision only is kept");
  await polled({ sound_inbox: { revision: 2 } });
  assert.strictEqual(listLoads.length, 1);

  // The warning's link opens the Full Setup Check on the main page.
  await polled({ audio_management: warning("windows_input_changed", "x") });
  await page.click("#playAudioRouteWarning a");
  await page.locator("#audioSelfTestModal").waitFor({ state: "visible" });
});

browserTest(shared, "a status answer older than a click does not undo the selection", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "one.wav"));
  writeWav(path.join(folder, "two.wav"));
  await openQuickPlay(page);
  await row(page, "one.wav").locator(".play-select").click();
  await row(page, "one.wav").and(page.locator(".selected")).waitFor();
  // The program's own answer to a poll sent before the click, held back until the click's set
  // has been answered.
  let setAnswered;
  const held = new Promise((resolve) => { setAnswered = resolve; });
  page.on("response", (response) => {
    if (new URL(response.url()).pathname === "/api/mixer/set") setAnswered();
  });
  await page.route("**/api/mixer/status", async (route) => {
    const answer = await route.fetch();
    await held;
    await route.fulfill({ response: answer });
  });
  const oldPoll = await page.waitForRequest("**/api/mixer/status");
  await row(page, "two.wav").locator(".play-select").click();
  await oldPoll.response();
  // The next poll goes only once the older answer has been applied.
  await page.waitForRequest(isStatusRequest);
  assert.strictEqual(await page.textContent("#playSelectedFile"), "two.wav");
  // That poll's answer may still be on its way through the route when the page closes.
  await page.unrouteAll({ behavior: "ignoreErrors" });
});

// Fields of the dialogs both pages share, without the page's id prefix.
const DIALOG_FIELDS = ["MoveDestinationSel", "RenameInput", "MergeSecondSearch", "MergeGapSel",
  "MergeOutputFilenameInput", "NormalizeTargetSel", "NormalizeOutputFilenameInput"];

// Runs in the page: each field's label and its options' texts.
function dialogFieldTexts([prefix, fields]) {
  return fields.map((field) => {
    const element = document.getElementById(prefix + field);
    const label = element.labels.length ? element.labels[0].firstElementChild.textContent : "";
    return [field, label, Array.from(element.options || [], (option) => option.textContent)];
  });
}

browserTest(shared, "Quick Play's dialogs label their fields as the main page's do", async (page) => {
  await page.goto(shared.program.url + "/");
  await page.locator("#mixerApp").waitFor({ state: "visible" });
  const main = await page.evaluate(dialogFieldTexts, ["file", DIALOG_FIELDS]);
  assert.ok(main.every(([field, label]) => label !== ""), JSON.stringify(main));
  await openQuickPlay(page);
  assert.deepStrictEqual(await page.evaluate(dialogFieldTexts, ["play", DIALOG_FIELDS]), main);
});

browserTest(shared, "a trimmed clip with added silence is stored beside the original", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "voice.wav"), { seconds: 3, rate: 44100, channels: 1 });
  await openQuickPlay(page);
  await openTrim(page, "voice.wav");
  assert.strictEqual(await page.inputValue("#playTrimOutputFilenameInput"), "voice_trimmed");
  await page.selectOption("#playTrimStartSilence", "0.5");
  assert.strictEqual(await page.textContent("#playTrimExportBtn"), "Export with Silence");
  await page.click("#playTrimExportBtn");
  await page.locator("#playTrimModalOverlay").waitFor({ state: "hidden" });
  const stored = readWav(path.join(folder, "voice_trimmed.wav"));
  assert.deepStrictEqual([stored.rate, stored.channels, stored.frames], [48000, 2, 168000]);
  await row(page, "voice_trimmed.wav").waitFor();
});

browserTest(shared, "typed times, refused ranges and fades", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const folder = emptySoundsFolder(shared.program);
  writeWav(path.join(folder, "long.wav"), { seconds: 70, rate: 8000, channels: 1 });
  await openQuickPlay(page);
  await openTrim(page, "long.wav");
  const exports = requestsTo(page, "/api/mixer/trim/export");
  const typed = async (field, text) => {
    await page.fill(field, text);
    await page.press(field, "Tab");
  };
  for (const [text, start, message] of [
    ["1:02.5", "01:02.500", ""],
    ["0:00:03.1234", "00:03.123", ""],
    ["1:2:3:4", "00:03.123", en["trim.invalid_selection"]],
    ["1a", "00:03.123", en["trim.invalid_selection"]]
  ]) {
    await typed("#playTrimStartInput", text);
    assert.strictEqual(await page.inputValue("#playTrimStartInput"), start, text);
    assert.strictEqual(await page.textContent("#playTrimMessage"), message, text);
  }

  // The whole clip removed leaves nothing to send.
  await typed("#playTrimStartInput", "0");
  await typed("#playTrimEndInput", "70");
  await page.click("#playTrimModeDeleteBtn");
  await page.click("#playTrimExportBtn");
  assert.strictEqual(await page.textContent("#playTrimExportMessage"), en["trim.nothing_left"]);

  await page.click("#playTrimModeExtractBtn");
  await typed("#playTrimEndInput", "10");
  await page.check("#playTrimFadeInEnabled");
  await page.fill("#playTrimFadeInSeconds", "7");
  await page.click("#playTrimExportBtn");
  await page.locator("#playTrimModalOverlay").waitFor({ state: "hidden" });
  assert.strictEqual(exports.length, 1);
  // Clamped to five seconds: halfway through the fade the tone is at half its level.
  const wav = Buffer.from(exports[0].postDataJSON().wav_base64, "base64");
  const rate = wav.readUInt32LE(24);
  const peak = (from, to) => {
    let highest = 0;
    for (let frame = Math.round(from * rate); frame < Math.round(to * rate); frame += 1) {
      highest = Math.max(highest, Math.abs(wav.readInt16LE(44 + frame * wav.readUInt16LE(32))));
    }
    return highest;
  };
  const full = peak(6, 7);
  assert.ok(Math.abs(peak(2.45, 2.55) / full - 0.5) < 0.05 && peak(4.8, 4.9) < full, "a fade of five seconds");
});

browserTest(shared, "the encoder stores full scale as -32768 and 32767", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  writeEncodedTone(path.join(folder, "edges.wav"), 1, { source: "aevalsrc=-1+2*gte(t\\,0.5)|-1+2*gte(t\\,0.5)", codec: "pcm_f32le" });
  await openQuickPlay(page);
  await openTrim(page, "edges.wav");
  const exports = requestsTo(page, "/api/mixer/trim/export");
  await page.click("#playTrimExportBtn");
  await page.locator("#playTrimModalOverlay").waitFor({ state: "hidden" });
  const wav = Buffer.from(exports[0].postDataJSON().wav_base64, "base64");
  const samples = new Int16Array(wav.buffer.slice(wav.byteOffset + 44, wav.byteOffset + wav.length));
  assert.deepStrictEqual([Math.min(...samples), Math.max(...samples)], [-32768, 32767]);
});

browserTest(shared, "the trim editor opens MP3, FLAC and Ogg Vorbis clips", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  const names = ["tone.mp3", "tone.flac", "tone.ogg"];
  for (const name of names) writeEncodedTone(path.join(folder, name), 1);
  // The page lists them as ready and leaves them unconverted; their bytes come from the program.
  await stubApi(page, {
    "/api/mixer/analyze": { ok: true, files: [] },
    "/api/mixer/files": async (route) => {
      const answer = await (await route.fetch()).json();
      answer.files.forEach((file) => { file.compatible_state = "compatible"; });
      await route.fulfill({ json: answer });
    }
  });
  await openQuickPlay(page);
  for (const name of names) {
    await openTrim(page, name);
    assert.match(await page.textContent("#playTrimPositionText"), /^00:00\.000 \/ 00:0[01]\.\d{3}$/, name);
    await page.click("#playTrimCloseBtn");
  }
});

browserTest(shared, "Quick Play with 200 clips keeps its controls apart", async (page) => {
  const folder = emptySoundsFolder(shared.program);
  for (let i = 0; i < 200; i += 1) {
    writeWav(path.join(folder, ["SFX", "Music", "Voices"][i % 3], "clip number " + i + ".wav"), { seconds: 0.1 });
  }
  for (const language of ["en", "de", "el"]) {
    await page.goto(shared.program.url + "/play");
    // Quick Play takes the language of the program's settings.
    await page.evaluate((code) => window.playPostJson("/api/mixer/set", { ui_language: code }), language);
    await openQuickPlay(page);
    await waitForLanguage(page, language);
    assert.strictEqual(await page.locator("#playList .play-row").count(), 200);
    for (const [width, height] of [[1280, 800], [800, 600]]) {
      await page.setViewportSize({ width, height });
      await saveScreenshot(page, "play_" + language + "_" + width + "x" + height);
      assert.deepStrictEqual(await findLayoutProblems(page), [], language + " at " + width + "x" + height);
    }
  }
  await openTrim(page, "clip number 0.wav");
  assert.deepStrictEqual(await findLayoutProblems(page), [], "the trim editor");
});

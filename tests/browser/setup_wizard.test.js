// The Full Setup Check wizard in chromium against the built program. Microphone levels, a key
// pressed wrongly and a path that works are states the virtual devices cannot be brought into on
// demand, so those answers are fulfilled here; the end-to-end run is in first_run.test.js.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, stubApi, servedCatalogue, openMainPage } = require("./harness");

const shared = useProgramAndBrowser();

function fill(text, params) {
  return Object.entries(params).reduce((result, [name, value]) => result.split("{{" + name + "}}").join(value), text);
}

function microphoneAnswer(peak, passed) {
  return {
    ok: true,
    test_scope: "microphone",
    microphone_step_passed: passed,
    microphone_test: { accessible: true, signal_detected: passed, peak_dbfs: peak },
    items: [{ id: "microphone", status: "ok" }, { id: "microphone_signal", status: passed ? "ok" : "failed" }]
  };
}

// A path that works, with both keys set; the keys are tested next.
const PATH_WORKS_ANSWER = {
  ok: true,
  test_scope: "voice_path",
  voice_path_step_passed: true,
  audio_configuration_ready: true,
  ready_to_start: true,
  primary_action: "none",
  items: [{ id: "virtual_path", status: "ok" }, { id: "voice_chat_key", status: "not_checked", detail: "K" }],
  hotkeys: { ptt_configured: true, ptt_label: "Numpad +", voice_chat_configured: true, voice_chat_label: "K" }
};

async function openWizard(page, answers) {
  const selfTests = [];
  await stubApi(page, Object.assign({
    "/api/mixer/audio/self-test": (route) => {
      const body = route.request().postDataJSON();
      selfTests.push(body);
      const answer = answers.selfTest(body, selfTests.length);
      return route.fulfill({ status: 200, contentType: "application/json", body: JSON.stringify(answer) });
    }
  }, answers.others || {}));
  // The boot goes on after the devices are listed: the wizard is opened once it has ended.
  await openMainPage(shared, page);
  await page.click("#mixerAudioDevicesSelfTestBtn");
  if (answers.talkMode) await page.selectOption("#fullSetupTalkMode", answers.talkMode);
  await page.click("#audioSelfTestStartBtn");
  await page.click("#fullSetupStepStartBtn");
  return selfTests;
}

browserTest(shared, "five microphone samples keep the loudest", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const peaks = [-40, -12, -35, -50, -60];
  const selfTests = await openWizard(page, {
    selfTest: (body, count) => microphoneAnswer(peaks[count - 1], peaks[count - 1] === -12)
  });
  await page.locator("#fullSetupStepContinueBtn").waitFor({ state: "visible", timeout: 15000 });
  assert.strictEqual(await page.locator("#audioSelfTestMicMeterValue").textContent(), "-12.0 dBFS");
  assert.strictEqual(await page.locator("#fullSetupStepText").textContent(), en["audio_test.wizard.mic_detected"]);
  assert.strictEqual(selfTests.length, 5);
  for (const body of selfTests) {
    assert.strictEqual(body.test_scope, "microphone");
    assert.strictEqual(body.microphone_capture_ms, 1000);
  }
});

browserTest(shared, "closing during the countdown stops the step before any request", async (page) => {
  const selfTests = await openWizard(page, { selfTest: () => microphoneAnswer(-20, true) });
  await page.locator("#fullSetupCountdown").waitFor({ state: "visible" });
  await page.click("#audioSelfTestCloseBtn");
  await page.waitForTimeout(4000);
  assert.strictEqual(selfTests.length, 0);
  assert.strictEqual(await page.locator("#audioSelfTestModal").isHidden(), true);
});

browserTest(shared, "a wrong key in the key test names the pressed and the expected key", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const capture = { capture_id: "capture-1", target: "ptt", verify_only: true, timeout_ms: 15000 };
  const captureStarts = [];
  await openWizard(page, {
    selfTest: (body) => (body.test_scope === "microphone" ? microphoneAnswer(-15, true) : PATH_WORKS_ANSWER),
    others: {
      "/api/mixer/keycapture/start": (route) => {
        captureStarts.push(route.request().postDataJSON());
        return route.fulfill({ status: 200, contentType: "application/json",
          body: JSON.stringify(Object.assign({ ok: true, status: "waiting" }, capture)) });
      },
      "/api/mixer/keycapture/status": Object.assign({ ok: true, status: "mismatch",
        binding: { id: "f9", label: "F9" } }, capture)
    }
  });
  for (const step of ["#fullSetupStepContinueBtn", "#fullSetupStepStartBtn", "#fullSetupStepContinueBtn", "#fullSetupStepStartBtn"]) {
    await page.locator(step).waitFor({ state: "visible", timeout: 15000 });
    await page.click(step);
  }
  await page.locator("#fullSetupStepSkipBtn").waitFor({ state: "visible", timeout: 15000 });
  await page.waitForFunction(() => /_key_failed$/.test(window.state.fullSetupWizardStep));
  // 12 s to press after the countdown of 3 s, during which the capture already listens.
  assert.deepStrictEqual(captureStarts, [{ target: "ptt", timeout_ms: 15000, verify_only: true }]);
  assert.strictEqual(await page.locator("#fullSetupStepText").textContent(),
    fill(en["audio_test.wizard.wrong_key"], { actual: "F9", expected: "Numpad +" }));
});

browserTest(shared, "before the keys are tested the wizard claims only what it checked", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const voiceRowTexts = {
    hold: en["audio_test.item.voice_chat_key.not_checked"],
    open: en["audio_test.item.voice_chat_key.skipped"],
    unsure: en["audio_test.item.voice_chat_key.not_checked"]
  };
  for (const [talkMode, voiceRowText] of Object.entries(voiceRowTexts)) {
    await openWizard(page, {
      talkMode,
      selfTest: (body) => (body.test_scope === "microphone" ? microphoneAnswer(-15, true) : PATH_WORKS_ANSWER)
    });
    await page.locator("#fullSetupStepContinueBtn").waitFor({ state: "visible", timeout: 15000 });
    assert.strictEqual(await page.locator("#audioSelfTestResult").isHidden(), true, "no summary while a step is up");
    await page.click("#fullSetupStepContinueBtn");
    await page.click("#fullSetupStepStartBtn");
    await page.waitForFunction(() => window.state.fullSetupWizardStep === "path_passed", null, { timeout: 15000 });
    assert.strictEqual(await page.locator("#fullSetupStepTitle").textContent(), en["audio_test.wizard.path_ready_title"]);
    assert.ok(!(await page.locator("#audioSelfTestModal").textContent()).includes(en["audio_test.summary_ready_to_start"]));
    assert.strictEqual(await page.locator("[data-item-id=voice_chat_key] .check-detail").textContent(),
      voiceRowText + fill(en["audio_test.detail_suffix"], { detail: "K" }), talkMode);
  }
});

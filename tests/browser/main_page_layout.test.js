// Screenshots of the main page in English, German and Greek, on a desktop window and on the small
// window of a game's overlay browser, each checked for overlapping controls and sideways overflow.
"use strict";

const assert = require("node:assert");
const { useProgramAndBrowser, browserTest, saveScreenshot, openMainPage } = require("./harness");
const { findLayoutProblems } = require("./layout_check");

const shared = useProgramAndBrowser();
const SIZES = [[1280, 800], [800, 600]];

for (const language of ["en", "de", "el"]) {
  browserTest(shared, "the main page in " + language + " keeps its controls apart", async (page) => {
    await openMainPage(shared, page);
    await page.selectOption("#mixerUiLanguageSel", language);
    await page.waitForFunction((code) => document.documentElement.lang === code, language);
    for (const [width, height] of SIZES) {
      await page.setViewportSize({ width, height });
      await saveScreenshot(page, "main_" + language + "_" + width + "x" + height);
      assert.deepStrictEqual(await findLayoutProblems(page), [], language + " at " + width + "x" + height);
    }
  });
}

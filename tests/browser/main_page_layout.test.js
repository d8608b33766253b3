// Screenshots of the main page in English, German and Greek, on a desktop window and on the small
// window of a game's overlay browser, each checked for overlapping controls and sideways overflow.
// A last case serves the English texts stretched by half with long compound words in place of
// German, standing in for translations that are longer than the ones at hand.
"use strict";

const assert = require("node:assert");
const {
  useProgramAndBrowser, browserTest, saveScreenshot, openMainPage, servedCatalogue, waitForLanguage
} = require("./harness");
const { findLayoutProblems } = require("./layout_check");

const shared = useProgramAndBrowser();
const SIZES = [[1280, 800], [800, 600]];

// Every word of four letters or more grows by half of itself; placeholders and markup stay.
function lengthened(text) {
  return text.replace(/(\{\{[^}]*\}\}|<[^>]*>)|([A-Za-z]{4,})/g,
    (whole, kept, word) => kept || word + word.slice(0, Math.ceil(word.length / 2)).toLowerCase());
}

async function checkLayout(page, language, shotName) {
  await openMainPage(shared, page);
  await page.selectOption("#mixerUiLanguageSel", language);
  await waitForLanguage(page, language);
  for (const [width, height] of SIZES) {
    await page.setViewportSize({ width, height });
    await saveScreenshot(page, "main_" + shotName + "_" + width + "x" + height);
    assert.deepStrictEqual(await findLayoutProblems(page), [], shotName + " at " + width + "x" + height);
  }
}

for (const language of ["en", "de", "el"]) {
  browserTest(shared, "the main page in " + language + " keeps its controls apart", async (page) => {
    await checkLayout(page, language, language);
  });
}

browserTest(shared, "texts half as long again still fit", async (page) => {
  const en = await servedCatalogue(shared, "en");
  const long = Object.fromEntries(Object.entries(en).map(([key, text]) => [key, lengthened(text)]));
  await page.route("**/assets/i18n/de.json", (route) => route.fulfill({
    status: 200, contentType: "application/json; charset=utf-8", body: JSON.stringify(long)
  }));
  await checkLayout(page, "de", "long_texts");
});

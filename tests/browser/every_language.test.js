// The three pages in every language: each marked element gets its text, and the three languages
// with the longest texts, and those written in Chinese characters, Japanese kana and Korean
// Hangul, whose glyphs are wider than Latin ones, still lay out without overlapping controls.
"use strict";

const assert = require("node:assert");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");
const { useProgramAndBrowser, browserTest, openMainPage, waitForLanguage } = require("./harness");
const { findLayoutProblems } = require("./layout_check");

const shared = useProgramAndBrowser();
const I18N = path.resolve(__dirname, "../../web/i18n");
const LANGUAGES = fs.readdirSync(I18N).filter((name) => name.endsWith(".json")).map((name) => name.slice(0, -5)).sort();

function catalogueLength(code) {
  const catalogue = JSON.parse(fs.readFileSync(path.join(I18N, code + ".json"), "utf8"));
  return Object.values(catalogue).reduce((sum, text) => sum + text.length, 0);
}
const LONGEST = LANGUAGES.filter((code) => code !== "en")
  .sort((a, b) => catalogueLength(b) - catalogueLength(a)).slice(0, 3);
const WIDE_GLYPHS = ["ja", "zh-CN", "zh-TW", "ko"];

// Runs in the page: each mark whose text or attribute is still empty.
function emptyMarks() {
  const readers = {
    "data-i18n": (element) => element.textContent,
    "data-i18n-html": (element) => element.innerHTML,
    "data-i18n-placeholder": (element) => element.getAttribute("placeholder"),
    "data-i18n-title": (element) => element.getAttribute("data-tooltip") || element.getAttribute("title"),
    "data-i18n-tooltip": (element) => element.getAttribute("data-tooltip"),
    "data-i18n-aria-label": (element) => element.getAttribute("aria-label"),
    "data-i18n-alt": (element) => element.getAttribute("alt")
  };
  const empty = [];
  for (const [mark, read] of Object.entries(readers)) {
    document.querySelectorAll("[" + mark + "]").forEach((element) => {
      if (!(read(element) || "").trim()) empty.push(mark + "=" + element.getAttribute(mark));
    });
  }
  return empty;
}

// What shows a page's boot has ended, with the texts it composes itself drawn.
const BOOTED = {
  "/": () => window.state && window.state.statusTimer !== 0,
  "/play": () => window.playState && window.playState.refreshTimer !== 0 &&
    document.getElementById("playMixerState").dataset.state !== undefined,
  "/guide": () => true
};

// Opens a page in `code`: the language is saved in the settings, which the main page and Quick
// Play follow and which the main page stores in the browser for the guide. The main page's boot
// stores the language it loaded, so it is let finish first: stored later, the earlier language
// would overwrite the one set here.
async function openIn(page, code, address) {
  await openMainPage(shared, page);
  const saved = await page.evaluate((language) =>
    window.postJson("/api/mixer/settings/save", { ui_language: language }).then((result) => result.payload.ok), code);
  assert.ok(saved, "the language " + code + " was saved");
  await page.evaluate((language) => window.localStorage.setItem("zennic.ui_language", language), code);
  await page.goto(shared.program.url + address);
  await page.waitForFunction(BOOTED[address]);
  await waitForLanguage(page, code);
}

for (const address of ["/", "/play", "/guide"]) {
  browserTest(shared, "every mark of " + address + " has its text in each of the 26 languages", async (page) => {
    assert.strictEqual(LANGUAGES.length, 26);
    const empty = {};
    for (const code of LANGUAGES) {
      await openIn(page, code, address);
      const marks = await page.evaluate(emptyMarks);
      if (marks.length) empty[code] = marks;
    }
    assert.deepStrictEqual(empty, {});
  });

  browserTest(shared, address + " lays out in the three longest languages and in " + WIDE_GLYPHS.join(", "), async (page) => {
    // Without a font for them the glyphs are drawn as empty boxes of one width, and the check
    // would see nothing of the real layout.
    for (const code of WIDE_GLYPHS) {
      assert.ok(spawnSync("fc-list", [":lang=" + code.toLowerCase(), "family"], { encoding: "utf8" }).stdout.trim(),
        "a font for " + code + " is installed (scripts/install-deps)");
    }
    const problems = {};
    for (const code of LONGEST.concat(WIDE_GLYPHS)) {
      await openIn(page, code, address);
      const found = await findLayoutProblems(page);
      if (found.length) problems[code] = found;
    }
    assert.deepStrictEqual(problems, {}, "longest: " + LONGEST.join(", "));
  });
}

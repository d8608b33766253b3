// The catalogue checker passes on the shipped web client and catches each kind of broken
// translation in a copy of it.
"use strict";

const assert = require("node:assert");
const { execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const test = require("node:test");

const ROOT = path.resolve(__dirname, "../..");
const CHECKER = path.join(ROOT, "scripts/check-catalogues");
// The family's size as shipped, which the checker holds it to.
const TRIM_KEYS = Object.keys(JSON.parse(fs.readFileSync(path.join(ROOT, "web/i18n/en.json"), "utf8")))
  .filter((key) => key.startsWith("trim.")).length;

function runChecker(web) {
  try {
    return { code: 0, output: execFileSync(CHECKER, [web], { encoding: "utf8", stdio: "pipe" }) };
  } catch (error) {
    return { code: error.status, output: String(error.stdout) + String(error.stderr) };
  }
}

function editCatalogue(web, code, edit) {
  const file = path.join(web, "i18n", code + ".json");
  const catalogue = JSON.parse(fs.readFileSync(file, "utf8"));
  edit(catalogue);
  fs.writeFileSync(file, JSON.stringify(catalogue, null, 2));
}

test("the shipped catalogues pass and each language's English share is reported", () => {
  const result = runChecker(path.join(ROOT, "web"));
  assert.strictEqual(result.code, 0, result.output);
  assert.match(result.output, /^de: \d+ of \d+ texts \([\d.]+%\) equal English, \d+ \([\d.]+%\) not counting names$/m);
});

const BROKEN = [
  ["a missing key", (web) => editCatalogue(web, "de", (c) => { delete c["errors.network_error"]; }),
    /de\.json lacks errors\.network_error/],
  ["a changed placeholder", (web) => editCatalogue(web, "fr", (c) => { c["errors.network_error"] = "Pas de réponse après {{tries}} essais."; }),
    /fr\.json: errors\.network_error has placeholders \{tries\}, English \{attempts\}/],
  ["an extra link", (web) => editCatalogue(web, "it", (c) => {
    c["about.vb_cable_credit"] += " <a href=\"https://example.org/\">altro</a>";
  }), /it\.json: about\.vb_cable_credit has markup/],
  ["a key only a page knows", (web) => {
    fs.appendFileSync(path.join(web, "play.html"), "<p data-i18n=\"play.not_in_catalogue\"></p>\n");
  }, /play\.html names the key play\.not_in_catalogue/],
  ["a language left mostly English", (web) => {
    const english = JSON.parse(fs.readFileSync(path.join(web, "i18n", "en.json"), "utf8"));
    editCatalogue(web, "sv", (c) => { for (const key of Object.keys(c).slice(0, 120)) c[key] = english[key]; });
  }, /sv\.json: [\d.]+% of its texts are still English, above 10%/],
  ["a glossary without a term", (web) => {
    const file = path.join(web, "i18n", "glossary", "pl.json");
    const glossary = JSON.parse(fs.readFileSync(file, "utf8"));
    delete glossary.terms.microphone;
    fs.writeFileSync(file, JSON.stringify(glossary));
  }, /glossary\/pl\.json has no word for microphone/],
  ["a family off its count", (web) => {
    for (const code of ["en", "de"]) editCatalogue(web, code, (c) => { c["trim.extra_text"] = "Extra"; });
  }, new RegExp("family trim has " + (TRIM_KEYS + 1) + " keys, expected " + TRIM_KEYS)]
];

for (const [name, breakIt, expected] of BROKEN) {
  test("a catalogue with " + name + " fails the check", () => {
    const web = fs.mkdtempSync(path.join(os.tmpdir(), "zennic-catalogues-"));
    try {
      fs.cpSync(path.join(ROOT, "web"), web, { recursive: true });
      breakIt(web);
      const result = runChecker(web);
      assert.strictEqual(result.code, 1, result.output);
      assert.match(result.output, expected);
    } finally {
      fs.rmSync(web, { recursive: true, force: true });
    }
  });
}

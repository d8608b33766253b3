// Browser test harness: the built program in a private data folder, Debian's chromium driven by
// playwright-core, and a screenshot of the page for every failed test.
"use strict";

const { spawn, spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const test = require("node:test");

let chromium;
try {
  ({ chromium } = require("playwright-core"));
} catch (error) {
  throw new Error("playwright-core is missing: run scripts/install-deps (" + error.message + ")");
}

const PROGRAM = process.env.ZENNIC_PROGRAM || path.resolve(__dirname, "../../build/ruzerad");
const ARTIFACTS = process.env.ZENNIC_BROWSER_ARTIFACTS || path.resolve(__dirname, "../../build/browser-failures");
const SCREENSHOTS = process.env.ZENNIC_BROWSER_SCREENSHOTS || path.resolve(__dirname, "../../build/browser-screenshots");
const CHROMIUM = process.env.ZENNIC_CHROMIUM || "/usr/bin/chromium";
// The network is closed here; without these chromium keeps dialling out and logging refusals.
const CHROMIUM_ARGS = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"
];

function waitForOutput(child, pattern, what) {
  return new Promise((resolve, reject) => {
    let seen = "";
    const timer = setTimeout(() => done(new Error("the program did not log " + what + ":\n" + seen)), 15000);
    function done(error, match) {
      clearTimeout(timer);
      child.stderr.off("data", onData);
      child.off("exit", onExit);
      if (error) reject(error); else resolve(match);
    }
    function onData(chunk) {
      seen += chunk;
      const match = seen.match(pattern);
      if (match) done(null, match);
    }
    function onExit(code) {
      done(new Error("the program ended with " + code + " before it logged " + what + ":\n" + seen));
    }
    child.stderr.on("data", onData);
    child.on("exit", onExit);
  });
}

function runTool(command, args, env) {
  const result = spawnSync(command, args, { env, encoding: "utf8", maxBuffer: 64 * 1024 * 1024 });
  if (result.status !== 0) {
    throw new Error(command + " " + args.join(" ") + " failed: " + (result.stderr || result.error || result.status));
  }
  return result.stdout;
}

// A PulseAudio server of its own, shaped like the player's machine, for tests that switch the
// default devices; stopped, it starts again on the same folder with the same devices.
function startPrivateAudio(folder) {
  const script = process.env.ZENNIC_VIRTUAL_AUDIO;
  if (!script) throw new Error("ZENNIC_VIRTUAL_AUDIO is not set: run the browser tests through scripts/test");
  const start = () => runTool(script, ["start", folder], process.env).trim();
  return { address: start(), start, stop: () => runTool(script, ["stop", folder], process.env) };
}

// An X display of its own, for tests that press keys the program reads as hotkeys.
function startPrivateDisplay(folder) {
  return new Promise((resolve, reject) => {
    const xvfb = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"], {
      stdio: ["ignore", "ignore", "pipe", "pipe"]
    });
    let number = "";
    const timer = setTimeout(() => reject(new Error("Xvfb did not start")), 10000);
    xvfb.stdio[3].on("data", (chunk) => {
      number += chunk;
      if (!number.includes("\n")) return;
      clearTimeout(timer);
      resolve({
        name: ":" + number.trim(),
        stop: () => new Promise((done) => {
          if (xvfb.exitCode !== null) return done();
          xvfb.once("exit", done);
          xvfb.kill("SIGTERM");
        })
      });
    });
    xvfb.on("error", reject);
  });
}

// Starts the built program with its own data folder; resolves to {url, folder, env, stop}.
// options.settings: members for settings.json (null: no file, as on a fresh install);
// options.privateAudio: its own PulseAudio server; options.display: "private" (its own X display),
// "none", or the test display by default.
async function startProgram(options = {}) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "zennic-browser-"));
  for (const sub of ["data/Ruzerad", "run", "home"]) fs.mkdirSync(path.join(folder, sub), { recursive: true });
  if (options.settings !== null) {
    // Any free port will do: a taken one makes the program move and log where it went. Below
    // the range the system hands out to outgoing connections (32768 on Linux), so that no other
    // test's client takes it while the program restarts.
    const port = 20000 + Math.floor(Math.random() * 12000);
    fs.writeFileSync(path.join(folder, "data/Ruzerad/settings.json"),
      JSON.stringify(Object.assign({ version: 3, server_port: port }, options.settings || {})));
  }
  const env = Object.assign({}, process.env, {
    XDG_DATA_HOME: path.join(folder, "data"),
    XDG_RUNTIME_DIR: path.join(folder, "run"),
    HOME: path.join(folder, "home")
  });
  delete env.XDG_CONFIG_HOME;
  const stops = [];
  let audio = null;
  if (options.privateAudio) {
    audio = startPrivateAudio(path.join(folder, "audio"));
    stops.push(audio.stop);
    env.PULSE_SERVER = audio.address;
  }
  if (options.display === "none") {
    delete env.DISPLAY;
  } else if (options.display === "private") {
    const display = await startPrivateDisplay(folder);
    stops.push(display.stop);
    env.DISPLAY = display.name;
    // No session bus and no welcome window: nothing waits for a click on this display.
    env.DBUS_SESSION_BUS_ADDRESS = "unix:path=" + path.join(folder, "no-bus");
    fs.writeFileSync(path.join(folder, "data/Ruzerad/first_run_welcome_suppressed.flag"), "1");
  }
  let child = null;
  // The log is read to its end, so the program never waits on a full pipe.
  let log = "";
  async function launch() {
    child = spawn(PROGRAM, [], { env, stdio: ["ignore", "ignore", "pipe"] });
    child.stderr.setEncoding("utf8");
    child.stderr.on("data", (chunk) => { log = (log + chunk).slice(-65536); });
    const match = await waitForOutput(child, /Web client listening at (http:\/\/127\.0\.0\.1:\d+)/, "its address");
    return match[1];
  }
  async function end() {
    if (child.exitCode !== null) return;
    const exited = new Promise((resolve) => child.once("exit", resolve));
    child.kill("SIGTERM");
    await exited;
  }
  const program = {
    url: await launch(),
    folder,
    env,
    // The private audio server: {start, stop}, or null.
    audio,
    log: () => log,
    // Ends the program as a user's exit does.
    exit: end,
    // Starts it again on the same data folder, audio server and display; its address may change.
    async launch() {
      program.url = await launch();
    },
    async restart() {
      await end();
      await program.launch();
    },
    async stop() {
      await end();
      for (const stop of stops.reverse()) await stop();
      fs.rmSync(folder, { recursive: true, force: true });
    }
  };
  return program;
}

function launchBrowser() {
  return chromium.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_ARGS });
}

// One program and one browser for a whole test file; each test gets a fresh context and page.
// `prepare(shared)`, when given, then brings the program into the state the file's tests need.
function useProgramAndBrowser(programOptions, prepare) {
  const shared = {};
  test.before(async () => {
    shared.program = await startProgram(programOptions);
    shared.browser = await launchBrowser();
    if (prepare) await prepare(shared);
  });
  test.after(async () => {
    if (shared.browser) await shared.browser.close();
    if (shared.program) await shared.program.stop();
  });
  return shared;
}

// A test with a new page; a failure leaves a screenshot named after the test.
function browserTest(shared, name, body) {
  test(name, async () => {
    const context = await shared.browser.newContext();
    const page = await context.newPage();
    try {
      await body(page, context);
    } catch (error) {
      fs.mkdirSync(ARTIFACTS, { recursive: true });
      const file = path.join(ARTIFACTS, name.replace(/[^A-Za-z0-9]+/g, "_").slice(0, 120) + ".png");
      await page.screenshot({ path: file, fullPage: true }).catch(() => {});
      error.message += "\n(screenshot: " + file + ")";
      throw error;
    } finally {
      await context.close();
    }
  });
}

// Opens the main page and waits until its boot has run to the end (the status poll is running).
async function openMainPage(shared, page) {
  await page.goto(shared.program.url + "/");
  await page.locator("#mixerApp").waitFor({ state: "visible" });
  await page.waitForFunction(() => window.state.statusTimer !== 0);
}

// Waits until the page's language runtime has applied the texts of `code`. The page's lang
// attribute alone says "en" before any text is applied; the runtime's lookups stay empty until its
// first catalogue is in, and it applies a catalogue in the same task it takes it up.
async function waitForLanguage(page, code) {
  await page.waitForFunction((language) => Boolean(window.ZennicI18n) &&
    window.ZennicI18n.getCurrentLanguage() === language && window.ZennicI18n.t("index.title") !== "" &&
    document.documentElement.lang === language, code);
}

// The requests the page sends to `pathname` from now on, as they are sent.
function requestsTo(page, pathname) {
  const seen = [];
  page.on("request", (request) => {
    if (new URL(request.url()).pathname === pathname) seen.push(request);
  });
  return seen;
}

// settings.json as the program last wrote it.
function settingsOnDisk(shared) {
  return JSON.parse(fs.readFileSync(path.join(shared.program.folder, "data/Ruzerad/settings.json"), "utf8"));
}

// A full-page screenshot kept for people to look at, named after what it shows.
async function saveScreenshot(page, name) {
  fs.mkdirSync(SCREENSHOTS, { recursive: true });
  await page.screenshot({ path: path.join(SCREENSHOTS, name + ".png"), fullPage: true });
}

// Answers every POST to an API route from a table of route -> JSON answer (or a function of the
// request); other requests reach the program.
async function stubApi(page, answers) {
  await page.route("**/api/mixer/**", async (route) => {
    const pathname = new URL(route.request().url()).pathname;
    const answer = answers[pathname];
    if (answer === undefined) return route.continue();
    if (typeof answer === "function") return answer(route);
    return route.fulfill({ status: 200, contentType: "application/json; charset=utf-8", body: JSON.stringify(answer) });
  });
}

// The catalogue as the program serves it, so tests never repeat wording.
async function servedCatalogue(shared, code) {
  const response = await fetch(shared.program.url + "/assets/i18n/" + code + ".json");
  return response.json();
}

module.exports = {
  useProgramAndBrowser, browserTest, stubApi, servedCatalogue, saveScreenshot, openMainPage, requestsTo, settingsOnDisk,
  waitForLanguage
};

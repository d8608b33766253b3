// The program's own audio server and display as the browser tests reach them: what a source
// carries, the default input, and keys pressed on the display.
"use strict";

const { spawn, spawnSync } = require("node:child_process");

const RATE = 48000;

// What `source` carries over `seconds`, as mono samples scaled to -1..1.
function recordSource(program, source, seconds) {
  return new Promise((resolve, reject) => {
    const recorder = spawn("parec", ["--device=" + source, "--raw", "--format=s16le", "--rate=" + RATE,
      "--channels=1", "--latency-msec=20"], { env: program.env, stdio: ["ignore", "pipe", "pipe"] });
    const chunks = [];
    let errors = "";
    recorder.stdout.on("data", (chunk) => chunks.push(chunk));
    recorder.stderr.on("data", (chunk) => { errors += chunk; });
    recorder.on("error", reject);
    recorder.on("exit", () => {
      const bytes = Buffer.concat(chunks);
      if (bytes.length < 2) return reject(new Error("parec recorded nothing from " + source + ": " + errors));
      const samples = new Float32Array(Math.floor(bytes.length / 2));
      for (let i = 0; i < samples.length; i += 1) samples[i] = bytes.readInt16LE(i * 2) / 32768;
      resolve(samples);
    });
    setTimeout(() => recorder.kill("SIGTERM"), seconds * 1000);
  });
}

// The amplitude of `frequency` in the samples (1 is full scale), by a single-bin transform.
function toneAmplitude(samples, frequency) {
  let real = 0;
  let imaginary = 0;
  for (let i = 0; i < samples.length; i += 1) {
    const angle = 2 * Math.PI * frequency * i / RATE;
    real += samples[i] * Math.cos(angle);
    imaginary -= samples[i] * Math.sin(angle);
  }
  return 2 * Math.hypot(real, imaginary) / samples.length;
}

function pactl(program, args) {
  const result = spawnSync("pactl", args, { env: program.env, encoding: "utf8" });
  if (result.status !== 0) throw new Error("pactl " + args.join(" ") + ": " + result.stderr);
  return result.stdout.trim();
}

function xdotool(program, args) {
  const result = spawnSync("xdotool", args, { env: program.env, encoding: "utf8" });
  if (result.status !== 0) throw new Error("xdotool " + args.join(" ") + ": " + result.stderr);
}

// A key press on the program's display, as the raw input of the program reads it.
function pressKey(program, key) {
  xdotool(program, ["key", key]);
}

// Holds a key down (or lets it go) on the program's display.
function holdKey(program, key, down) {
  xdotool(program, [down ? "keydown" : "keyup", key]);
}

module.exports = { recordSource, toneAmplitude, pactl, pressKey, holdKey };

// The program's own audio server and display as the browser tests reach them: a tone clip, what
// a source carries, the default input, and keys pressed on the display.
"use strict";

const { spawn, spawnSync } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");

const RATE = 48000;

// A 16-bit stereo WAV of a sine at half of full scale.
function writeToneWav(file, frequency, seconds) {
  const frames = Math.round(RATE * seconds);
  const data = Buffer.alloc(frames * 4);
  for (let i = 0; i < frames; i += 1) {
    const sample = Math.round(0.5 * 32767 * Math.sin(2 * Math.PI * frequency * i / RATE));
    data.writeInt16LE(sample, i * 4);
    data.writeInt16LE(sample, i * 4 + 2);
  }
  const header = Buffer.alloc(44);
  header.write("RIFF", 0);
  header.writeUInt32LE(36 + data.length, 4);
  header.write("WAVEfmt ", 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(2, 22);
  header.writeUInt32LE(RATE, 24);
  header.writeUInt32LE(RATE * 4, 28);
  header.writeUInt16LE(4, 32);
  header.writeUInt16LE(16, 34);
  header.write("data", 36);
  header.writeUInt32LE(data.length, 40);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, Buffer.concat([header, data]));
}

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

// A key press on the program's display, as the raw input of the program reads it.
function pressKey(program, key) {
  const result = spawnSync("xdotool", ["key", key], { env: program.env, encoding: "utf8" });
  if (result.status !== 0) throw new Error("xdotool key " + key + ": " + result.stderr);
}

module.exports = { writeToneWav, recordSource, toneAmplitude, pactl, pressKey };

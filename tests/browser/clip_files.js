// Real clip files for the browser tests of the clip library: WAV files written here, MP3 files
// made by ffmpeg, and the default profile's audio folder of a started program.
"use strict";

const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");

// The default profile's folder: Documents/Ruzerad/Sounds under the program's own home.
function soundsFolder(program) {
  const folder = path.join(program.folder, "home/Documents/Ruzerad/Sounds");
  fs.mkdirSync(folder, { recursive: true });
  return folder;
}

// The default profile's folder with nothing left in it from an earlier test.
function emptySoundsFolder(program) {
  const folder = soundsFolder(program);
  for (const entry of fs.readdirSync(folder)) fs.rmSync(path.join(folder, entry), { recursive: true, force: true });
  return folder;
}

// 16-bit PCM WAV of a sine whose peak is `peak` (linear, 0..1).
function wavBytes({ seconds = 0.5, rate = 48000, channels = 2, peak = 0.5, frequency = 440 } = {}) {
  const frames = Math.round(seconds * rate);
  const data = Buffer.alloc(frames * channels * 2);
  for (let frame = 0; frame < frames; frame += 1) {
    const value = Math.round(peak * 32767 * Math.sin((2 * Math.PI * frequency * frame) / rate));
    for (let channel = 0; channel < channels; channel += 1) data.writeInt16LE(value, (frame * channels + channel) * 2);
  }
  const header = Buffer.alloc(44);
  header.write("RIFF", 0);
  header.writeUInt32LE(36 + data.length, 4);
  header.write("WAVEfmt ", 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate * channels * 2, 28);
  header.writeUInt16LE(channels * 2, 32);
  header.writeUInt16LE(16, 34);
  header.write("data", 36);
  header.writeUInt32LE(data.length, 40);
  return Buffer.concat([header, data]);
}

function writeWav(file, options) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, wavBytes(options));
}

// A clip made by ffmpeg in the format the file's extension names (MP3, FLAC, Ogg Vorbis): a short
// tone, or what the lavfi `source` describes, stored with `codec` when given.
function writeEncodedTone(file, seconds = 0.5, { source, codec } = {}) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  const chosen = codec || (file.endsWith(".ogg") ? "libvorbis" : "");
  const made = spawnSync("ffmpeg", ["-v", "error", "-y", "-f", "lavfi", "-i",
    source || "sine=frequency=440:duration=" + seconds, "-t", String(seconds), "-ac", "2", "-ar", "44100",
    ...(chosen ? ["-c:a", chosen] : []), file], { encoding: "utf8" });
  if (made.status !== 0) throw new Error("ffmpeg could not make " + file + ": " + made.stderr);
}

const writeMp3 = writeEncodedTone;

// Rate, channels, frames and peak (linear) of a 16-bit PCM WAV file.
function readWav(file) {
  const bytes = fs.readFileSync(file);
  let offset = 12;
  let format = null;
  while (offset + 8 <= bytes.length) {
    const id = bytes.toString("ascii", offset, offset + 4);
    const size = bytes.readUInt32LE(offset + 4);
    const body = offset + 8;
    if (id === "fmt ") {
      format = { channels: bytes.readUInt16LE(body + 2), rate: bytes.readUInt32LE(body + 4), bits: bytes.readUInt16LE(body + 14) };
    } else if (id === "data" && format) {
      let peak = 0;
      for (let at = body; at + 1 < body + size; at += 2) peak = Math.max(peak, Math.abs(bytes.readInt16LE(at)));
      return Object.assign(format, { frames: size / (format.channels * 2), peak: peak / 32768 });
    }
    offset = body + size + (size % 2);
  }
  throw new Error(file + " holds no PCM data");
}

module.exports = { soundsFolder, emptySoundsFolder, wavBytes, writeWav, writeMp3, writeEncodedTone, readWav };

// Trim export: cuts the decoded clip (extract or delete), applies the fades and the added silence,
// encodes a 16-bit PCM WAV in the page and hands it to the program, which stores it beside the
// clip under a new name.

var PLAY_TRIM_MAX_FADE_SECONDS = 5;
var PLAY_TRIM_SILENCE_PRESETS = [0, 0.5, 1, 1.5, 2];

function playTrimOutputNameProblem() {
  var key = checkOutputFilename(playById("playTrimOutputFilenameInput").value);
  return key ? playT(key) : "";
}

function playTrimFailure(key) {
  return new Error(playT(key));
}

// Reads a fade field ("," taken as "."), clamps it to 0..5 s and writes it back with one decimal.
function playTrimFadeSeconds(checkboxId, fieldId) {
  if (!playById(checkboxId).checked) return 0;
  var field = playById(fieldId);
  var seconds = Number(String(field.value).trim().replace(",", "."));
  if (String(field.value).trim() === "" || !Number.isFinite(seconds)) throw playTrimFailure("trim.invalid_fade");
  seconds = Math.min(Math.max(seconds, 0), PLAY_TRIM_MAX_FADE_SECONDS);
  field.value = seconds.toFixed(1);
  return seconds;
}

function playTrimSilenceSeconds(selectId) {
  var seconds = Number(playById(selectId).value);
  var preset = PLAY_TRIM_SILENCE_PRESETS.some(function (value) { return Math.abs(value - seconds) < 0.0001; });
  if (!preset) throw playTrimFailure("trim.invalid_silence");
  return seconds;
}

// The edited audio as one Float32Array per channel, at the decoded rate and channel count.
function playTrimBuildExportAudio() {
  var trim = playState.trim;
  var buffer = trim.audioBuffer;
  var rate = buffer.sampleRate;
  var frames = buffer.length;
  var startFrame = Math.min(Math.max(Math.floor(trim.selectionStart * rate), 0), frames);
  var endFrame = Math.min(Math.max(Math.ceil(trim.selectionEnd * rate), startFrame), frames);
  var spans = trim.mode === "delete" ? [[0, startFrame], [endFrame, frames]] : [[startFrame, endFrame]];
  var kept = spans.reduce(function (total, span) { return total + span[1] - span[0]; }, 0);
  if (kept <= 0) throw playTrimFailure("trim.nothing_left");

  var fadeIn = Math.min(kept, Math.round(playTrimFadeSeconds("playTrimFadeInEnabled", "playTrimFadeInSeconds") * rate));
  var fadeOut = Math.min(kept, Math.round(playTrimFadeSeconds("playTrimFadeOutEnabled", "playTrimFadeOutSeconds") * rate));
  var before = Math.round(playTrimSilenceSeconds("playTrimStartSilence") * rate);
  var after = Math.round(playTrimSilenceSeconds("playTrimEndSilence") * rate);

  var channels = [];
  for (var c = 0; c < buffer.numberOfChannels; c += 1) {
    var source = buffer.getChannelData(c);
    var out = new Float32Array(before + kept + after);
    var at = before;
    spans.forEach(function (span) {
      out.set(source.subarray(span[0], span[1]), at);
      at += span[1] - span[0];
    });
    for (var i = 0; i < fadeIn; i += 1) out[before + i] *= fadeIn === 1 ? 1 : i / (fadeIn - 1);
    for (var j = 0; j < fadeOut; j += 1) {
      out[before + kept - fadeOut + j] *= fadeOut === 1 ? 0 : 1 - j / (fadeOut - 1);
    }
    channels.push(out);
  }
  return { channels: channels, sampleRate: rate };
}

// 16-bit PCM WAV, little-endian, channels interleaved; -1 maps to -32768 and +1 to 32767.
function playTrimEncodeWav(channels, sampleRate) {
  var channelCount = channels.length;
  var frames = channelCount ? channels[0].length : 0;
  var blockAlign = channelCount * 2;
  var dataSize = frames * blockAlign;
  var view = new DataView(new ArrayBuffer(44 + dataSize));
  var writeText = function (offset, text) {
    for (var i = 0; i < text.length; i += 1) view.setUint8(offset + i, text.charCodeAt(i));
  };
  writeText(0, "RIFF");
  view.setUint32(4, 36 + dataSize, true);
  writeText(8, "WAVE");
  writeText(12, "fmt ");
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true);
  view.setUint16(22, channelCount, true);
  view.setUint32(24, sampleRate, true);
  view.setUint32(28, sampleRate * blockAlign, true);
  view.setUint16(32, blockAlign, true);
  view.setUint16(34, 16, true);
  writeText(36, "data");
  view.setUint32(40, dataSize, true);
  var offset = 44;
  for (var frame = 0; frame < frames; frame += 1) {
    for (var c = 0; c < channelCount; c += 1) {
      var sample = Math.min(Math.max(channels[c][frame], -1), 1);
      view.setInt16(offset, sample < 0 ? Math.round(sample * 32768) : Math.round(sample * 32767), true);
      offset += 2;
    }
  }
  return view.buffer;
}

function playTrimBase64(wavBytes) {
  return new Promise(function (resolve, reject) {
    var reader = new FileReader();
    reader.onload = function () {
      var url = String(reader.result);
      resolve(url.slice(url.indexOf(",") + 1));
    };
    reader.onerror = function () { reject(reader.error || new Error(playT("trim.error"))); };
    reader.readAsDataURL(new Blob([wavBytes], { type: "audio/wav" }));
  });
}

function playTrimExport() {
  var trim = playState.trim;
  if (!trim.audioBuffer || trim.loading || trim.exporting) return;
  var message = playById("playTrimExportMessage");
  var audio;
  try {
    audio = playTrimBuildExportAudio();
  } catch (error) {
    message.textContent = error.message;
    return;
  }
  var problem = playTrimOutputNameProblem();
  if (problem) {
    message.textContent = problem;
    return;
  }
  var file = trim.file;
  var outputName = playById("playTrimOutputFilenameInput").value.trim();
  trim.exporting = true;
  playTrimPause();
  message.textContent = playT("trim.exporting");
  playTrimUpdateControls();
  playTrimBase64(playTrimEncodeWav(audio.channels, audio.sampleRate)).then(function (base64) {
    var body = { wav_base64: base64, original_filename: file.name, source_path: file.path };
    if (outputName) body.output_filename = completeOutputFilename(outputName);
    return playPostJson("/api/mixer/trim/export", body);
  }).then(function (result) {
    if (playState.trim !== trim) return;
    trim.exporting = false;
    if (!result.payload.ok) {
      var text = playDescribeFailure(result, playT("trim.error"));
      message.textContent = text === playT("trim.error") ? text : playT("trim.error") + " " + text;
      playTrimUpdateControls();
      return;
    }
    playShowNotice(playT("trim.success", { filename: String(result.payload.new_filename || "") }));
    playTrimClose();
    playReloadFilesAndStatus();
  }).catch(function (error) {
    if (playState.trim !== trim) return;
    trim.exporting = false;
    message.textContent = playT("trim.error") + " " + (error && error.message ? error.message : "");
    playTrimUpdateControls();
  });
}

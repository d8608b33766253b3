// Quick Play trim editor: loads a clip's stored bytes, decodes them in the page, draws the
// waveform with the selection and playhead, and lets the user choose and play a range.

var PLAY_TRIM_LARGE_FILE_BYTES = 52428800;
var PLAY_TRIM_LONG_REQUEST_TIMEOUT_MS = 120000;
var PLAY_TRIM_HANDLE_HIT_PX = 12;
var PLAY_TRIM_CLICK_DRAG_THRESHOLD_PX = 6;
var PLAY_TRIM_MIN_SELECTION_SECONDS = 0.01;
var PLAY_TRIM_CANVAS_MIN = { width: 320, height: 180 };
var PLAY_TRIM_CANVAS_FALLBACK = { width: 860, height: 260 };
var PLAY_TRIM_PLOT_MARGIN = { side: 18, top: 18, bottom: 30 };
var PLAY_TRIM_COLORS = {
  background: "#0b1626", plot: "#10213a", grid: "#22385a", centre: "#2c4670", selection: "rgba(245, 196, 66, 0.16)",
  wave: "#8cc8ff", outline: "#f5c442", playhead: "#ff4d4d", label: "#9fb3cf"
};

// A fresh editor; the audio context and its nodes outlive resets, since a page may only hold a
// few contexts and a new one would wait for another user gesture before it plays.
function playTrimFreshState(previous) {
  return {
    open: false, loading: false, exporting: false, file: null, warningFile: null,
    audioContext: previous ? previous.audioContext : null,
    analyserNode: previous ? previous.analyserNode : null,
    gainNode: previous ? previous.gainNode : null,
    sourceNode: null, audioBuffer: null, waveformPeaks: [], waveformWidth: 0,
    selectionStart: 0, selectionEnd: 0, playbackEnd: 0, seekOverrideActive: false,
    pausedAt: 0, startedAt: 0, startedOffset: 0, playhead: 0, isPlaying: false,
    dragMode: "", dragAnchorTime: 0, dragFixedTime: 0, dragStartClientX: 0, dragStartClientY: 0, dragMoved: false,
    loadToken: previous ? previous.loadToken + 1 : 0, animationFrame: 0, mode: "extract"
  };
}

playState.trim = playTrimFreshState(null);

function playTrimPad(value, width) {
  var text = String(value);
  while (text.length < width) text = "0" + text;
  return text;
}

function playTrimFormatTime(seconds) {
  var millis = Math.max(0, Math.round((Number(seconds) || 0) * 1000));
  return playTrimPad(Math.floor(millis / 60000), 2) + ":" + playTrimPad(Math.floor(millis % 60000 / 1000), 2) + "." +
    playTrimPad(millis % 1000, 3);
}

// Seconds ("12.5"), or up to three colon-separated parts (hours, minutes, seconds) whose last
// part may carry a decimal part of which three digits count. null when malformed.
function playTrimParseTime(text) {
  var value = String(text == null ? "" : text).trim();
  if (/^\d+(\.\d+)?$/.test(value)) return Number(value);
  var parts = value.split(":");
  if (parts.length > 3) return null;
  var last = /^(\d+)(?:\.(\d+))?$/.exec(parts.pop());
  if (!last) return null;
  var seconds = Number(last[1]) + Number(((last[2] || "") + "000").slice(0, 3)) / 1000;
  var scale = 60;
  for (var i = parts.length - 1; i >= 0; i -= 1) {
    if (!/^\d+$/.test(parts[i])) return null;
    seconds += Number(parts[i]) * scale;
    scale *= 60;
  }
  return seconds;
}

function playTrimDuration() {
  var buffer = playState.trim.audioBuffer;
  return buffer ? buffer.duration : 0;
}

function playTrimSetSelection(start, end) {
  var trim = playState.trim;
  var duration = playTrimDuration();
  var from = Math.min(Math.max(start, 0), duration);
  var to = Math.min(Math.max(end, 0), duration);
  if (from > to) {
    var swapped = from;
    from = to;
    to = swapped;
  }
  var minimum = Math.min(duration, Math.max(1 / trim.audioBuffer.sampleRate, PLAY_TRIM_MIN_SELECTION_SECONDS));
  if (to - from < minimum) {
    to = from + minimum;
    if (to > duration) {
      to = duration;
      from = duration - minimum;
    }
  }
  trim.selectionStart = from;
  trim.selectionEnd = to;
  trim.seekOverrideActive = false;
  playTrimWriteSelectionFields();
}

function playTrimWriteSelectionFields() {
  var trim = playState.trim;
  playById("playTrimStartInput").value = trim.audioBuffer ? playTrimFormatTime(trim.selectionStart) : "";
  playById("playTrimEndInput").value = trim.audioBuffer ? playTrimFormatTime(trim.selectionEnd) : "";
}

function playTrimApplyTypedSelection() {
  var trim = playState.trim;
  if (!trim.audioBuffer || trim.loading || trim.exporting) return;
  var startText = playById("playTrimStartInput").value;
  var endText = playById("playTrimEndInput").value;
  // A blur after the change already applied (or with nothing typed) changes nothing.
  if (startText === playTrimFormatTime(trim.selectionStart) && endText === playTrimFormatTime(trim.selectionEnd)) return;
  var start = playTrimParseTime(startText);
  var end = playTrimParseTime(endText);
  if (start === null || end === null) {
    playTrimShowMessage(playT("trim.invalid_selection"));
    playTrimWriteSelectionFields();
    return;
  }
  playTrimShowMessage("");
  playTrimSetSelection(start, end);
  playTrimRender();
}

function playTrimShowMessage(text) {
  playById("playTrimMessage").textContent = text;
}

function playTrimCurrentPosition() {
  var trim = playState.trim;
  if (!trim.isPlaying || !trim.audioContext) return trim.playhead;
  var position = trim.startedOffset + (trim.audioContext.currentTime - trim.startedAt);
  return Math.min(position, trim.playbackEnd);
}

// ---- canvas

function playTrimCanvasLayout() {
  var canvas = playById("playTrimCanvas");
  var ratio = window.devicePixelRatio || 1;
  var box = canvas.getBoundingClientRect();
  var width = box.width > 0 ? Math.max(PLAY_TRIM_CANVAS_MIN.width, Math.round(box.width * ratio)) : PLAY_TRIM_CANVAS_FALLBACK.width;
  var height = box.height > 0 ? Math.max(PLAY_TRIM_CANVAS_MIN.height, Math.round(box.height * ratio)) : PLAY_TRIM_CANVAS_FALLBACK.height;
  if (canvas.width !== width) canvas.width = width;
  if (canvas.height !== height) canvas.height = height;
  var left = PLAY_TRIM_PLOT_MARGIN.side * ratio;
  var top = PLAY_TRIM_PLOT_MARGIN.top * ratio;
  return {
    canvas: canvas, ratio: ratio, width: width, height: height, left: left, top: top,
    innerWidth: Math.max(1, width - 2 * left), innerHeight: Math.max(1, height - top - PLAY_TRIM_PLOT_MARGIN.bottom * ratio)
  };
}

function playTrimTimeToX(layout, seconds) {
  var duration = playTrimDuration();
  return layout.left + (duration > 0 ? seconds / duration : 0) * layout.innerWidth;
}

function playTrimXToTime(layout, x) {
  var fraction = (x - layout.left) / layout.innerWidth;
  return Math.min(Math.max(fraction, 0), 1) * playTrimDuration();
}

// One {min, max} per inner pixel column, each frame the mean of its channels, sampled so that a
// long clip costs at most about 64 reads per column.
function playTrimBuildPeaks(buffer, buckets) {
  var channels = [];
  for (var c = 0; c < buffer.numberOfChannels; c += 1) channels.push(buffer.getChannelData(c));
  var frames = buffer.length;
  var perBucket = Math.floor(frames / buckets);
  var step = Math.max(1, Math.floor(frames / (buckets * 64)));
  var peaks = [];
  for (var b = 0; b < buckets; b += 1) {
    var from = b * perBucket;
    var to = b === buckets - 1 ? frames : from + perBucket;
    var min = Infinity;
    var max = -Infinity;
    for (var i = from; i < to; i += step) {
      var sum = 0;
      for (var k = 0; k < channels.length; k += 1) sum += channels[k][i];
      var value = sum / channels.length;
      if (value < min) min = value;
      if (value > max) max = value;
    }
    peaks.push(min === Infinity ? { min: 0, max: 0 } : { min: min, max: max });
  }
  return peaks;
}

function playTrimMarkerStep(duration) {
  if (duration <= 10) return 1;
  if (duration <= 30) return 5;
  if (duration <= 120) return 10;
  if (duration <= 300) return 30;
  if (duration <= 900) return 60;
  return 300;
}

function playTrimAxisLabel(seconds) {
  if (seconds < 10) return seconds.toFixed(1) + "s";
  if (seconds < 60) return Math.floor(seconds) + "s";
  var whole = Math.floor(seconds);
  return playTrimPad(Math.floor(whole / 60), 2) + ":" + playTrimPad(whole % 60, 2);
}

function playTrimRender() {
  var trim = playState.trim;
  playTrimUpdateControls();
  var position = playTrimCurrentPosition();
  playById("playTrimPositionText").textContent = playTrimFormatTime(position) + " / " + playTrimFormatTime(playTrimDuration());
  var layout = playTrimCanvasLayout();
  var context = layout.canvas.getContext("2d");
  if (!context) return;
  var bottom = layout.top + layout.innerHeight;
  context.fillStyle = PLAY_TRIM_COLORS.background;
  context.fillRect(0, 0, layout.width, layout.height);
  context.fillStyle = PLAY_TRIM_COLORS.plot;
  context.fillRect(layout.left, layout.top, layout.innerWidth, layout.innerHeight);
  if (!trim.audioBuffer) return;

  var duration = playTrimDuration();
  var step = playTrimMarkerStep(duration);
  var marks = [];
  for (var mark = 0; mark <= duration + 1e-9; mark += step) marks.push(mark);
  if (Math.abs(duration / step - Math.round(duration / step)) > 1e-9) marks.push(duration);
  context.strokeStyle = PLAY_TRIM_COLORS.grid;
  context.lineWidth = layout.ratio;
  marks.forEach(function (seconds) {
    var x = Math.round(playTrimTimeToX(layout, seconds)) + 0.5;
    context.beginPath();
    context.moveTo(x, layout.top);
    context.lineTo(x, bottom);
    context.stroke();
  });
  var centre = layout.top + layout.innerHeight / 2;
  context.strokeStyle = PLAY_TRIM_COLORS.centre;
  context.beginPath();
  context.moveTo(layout.left, centre);
  context.lineTo(layout.left + layout.innerWidth, centre);
  context.stroke();

  var startX = playTrimTimeToX(layout, trim.selectionStart);
  var endX = playTrimTimeToX(layout, trim.selectionEnd);
  context.fillStyle = PLAY_TRIM_COLORS.selection;
  context.fillRect(startX, layout.top, Math.max(1, endX - startX), layout.innerHeight);

  var buckets = Math.floor(layout.innerWidth);
  if (trim.waveformWidth !== buckets) {
    trim.waveformPeaks = playTrimBuildPeaks(trim.audioBuffer, buckets);
    trim.waveformWidth = buckets;
  }
  var scale = layout.innerHeight * 0.42;
  context.strokeStyle = PLAY_TRIM_COLORS.wave;
  context.beginPath();
  trim.waveformPeaks.forEach(function (peak, column) {
    var x = layout.left + column + 0.5;
    context.moveTo(x, centre - peak.max * scale);
    context.lineTo(x, centre - peak.min * scale + 1);
  });
  context.stroke();

  context.strokeStyle = PLAY_TRIM_COLORS.outline;
  context.lineWidth = 2 * layout.ratio;
  context.strokeRect(startX, layout.top, Math.max(1, endX - startX), layout.innerHeight);
  context.fillStyle = PLAY_TRIM_COLORS.outline;
  [startX, endX].forEach(function (x) {
    context.fillRect(x - 3 * layout.ratio, layout.top, 6 * layout.ratio, layout.innerHeight);
  });

  var playheadX = playTrimTimeToX(layout, position);
  context.strokeStyle = PLAY_TRIM_COLORS.playhead;
  context.lineWidth = 2 * layout.ratio;
  context.beginPath();
  context.moveTo(playheadX, layout.top);
  context.lineTo(playheadX, bottom);
  context.stroke();

  context.fillStyle = PLAY_TRIM_COLORS.label;
  context.font = Math.round(11 * layout.ratio) + "px system-ui, sans-serif";
  context.textAlign = "center";
  context.textBaseline = "top";
  marks.forEach(function (seconds) {
    context.fillText(playTrimAxisLabel(seconds), playTrimTimeToX(layout, seconds), bottom + 8 * layout.ratio);
  });
}

// ---- controls

function playTrimUpdateControls() {
  var trim = playState.trim;
  var hasAudio = Boolean(trim.audioBuffer);
  var idle = hasAudio && !trim.loading && !trim.exporting;
  playById("playTrimLoading").hidden = !trim.loading;
  playById("playTrimPlayBtn").disabled = !idle || trim.isPlaying;
  playById("playTrimPauseBtn").disabled = !trim.isPlaying;
  playById("playTrimStopBtn").disabled = !hasAudio || (!trim.isPlaying && trim.playhead === 0);
  ["playTrimStartInput", "playTrimEndInput", "playTrimModeExtractBtn", "playTrimModeDeleteBtn",
    "playTrimFadeInEnabled", "playTrimFadeInSeconds", "playTrimFadeOutEnabled", "playTrimFadeOutSeconds",
    "playTrimStartSilence", "playTrimEndSilence", "playTrimOutputFilenameInput"].forEach(function (id) {
    playById(id).disabled = !idle;
  });
  playById("playTrimModeExtractBtn").classList.toggle("active", trim.mode === "extract");
  playById("playTrimModeDeleteBtn").classList.toggle("active", trim.mode === "delete");
  var problem = playTrimOutputNameProblem();
  playById("playTrimOutputFilenameHint").textContent = problem || playT("export.output_filename_hint");
  playById("playTrimOutputFilenameHint").classList.toggle("is-invalid", Boolean(problem));
  var exportButton = playById("playTrimExportBtn");
  exportButton.disabled = !idle || Boolean(problem);
  var silence = Number(playById("playTrimStartSilence").value) > 0 || Number(playById("playTrimEndSilence").value) > 0;
  exportButton.textContent = playT(silence ? "trim.export_with_silence" : "trim.export");
  playById("playTrimCancelBtn").disabled = trim.exporting;
  playById("playTrimCloseBtn").disabled = trim.exporting;
}

function playTrimShowOverlay(id, shown) {
  playById(id).hidden = !shown;
}

// ---- opening and closing

function playTrimOpen(file) {
  if (playState.mixerRunning && Number(file.size_bytes) > PLAY_TRIM_LARGE_FILE_BYTES) {
    playState.trim.warningFile = file;
    playTrimShowOverlay("playTrimWarningOverlay", true);
    return;
  }
  playTrimOpenEditor(file);
}

function playTrimOpenEditor(file) {
  playTrimReset();
  var trim = playState.trim;
  trim.open = true;
  trim.file = file;
  trim.loading = true;
  playById("playTrimFileName").textContent = file.relative_path || file.name || "";
  playById("playTrimOutputFilenameInput").value = fileStem(file.name) + "_trimmed";
  playTrimShowOverlay("playTrimModalOverlay", true);
  playTrimRender();
  var token = trim.loadToken;
  var current = function () { return playState.trim.loadToken === token; };
  playPostBinary("/api/mixer/trim/source", { path: file.path }).then(function (result) {
    if (!current()) return null;
    if (!result.payload.ok || !result.arrayBuffer) {
      throw new Error(playDescribeFailure(result, playT("trim.load_failed")));
    }
    return playTrimDecode(result.arrayBuffer.slice(0));
  }).then(function (buffer) {
    if (!buffer || !current()) return;
    trim.audioBuffer = buffer;
    trim.loading = false;
    trim.playhead = 0;
    playTrimSetSelection(0, buffer.duration);
    playTrimRender();
  }).catch(function (error) {
    if (!current()) return;
    trim.loading = false;
    playTrimShowMessage(error && error.message ? error.message : playT("trim.load_failed"));
    playTrimRender();
  });
}

// The context is asked to resume but never waited for: a page that may not play sound yet (or a
// machine without a sound device) still decodes.
function playTrimEnsureAudioContext() {
  var trim = playState.trim;
  if (!trim.audioContext) {
    var AudioContextType = window.AudioContext || window.webkitAudioContext;
    if (!AudioContextType) throw new Error(playT("trim.unsupported_browser"));
    var context = new AudioContextType();
    trim.gainNode = context.createGain();
    trim.analyserNode = context.createAnalyser();
    trim.analyserNode.fftSize = 2048;
    trim.gainNode.connect(trim.analyserNode);
    trim.analyserNode.connect(context.destination);
    trim.audioContext = context;
  }
  if (trim.audioContext.state === "suspended") trim.audioContext.resume().catch(function () {});
  return trim.audioContext;
}

function playTrimDecode(bytes) {
  var context = playTrimEnsureAudioContext();
  return new Promise(function (resolve, reject) {
    var promise = context.decodeAudioData(bytes, resolve, function (error) {
      reject(new Error(playT("trim.load_failed") + (error && error.message ? " (" + error.message + ")" : "")));
    });
    if (promise && typeof promise.catch === "function") promise.catch(function () {});
  });
}

// Voids a pending load, stops playback and returns every control to its default.
function playTrimReset() {
  var previous = playState.trim;
  playTrimStopSource(previous);
  if (previous.animationFrame) window.cancelAnimationFrame(previous.animationFrame);
  playState.trim = playTrimFreshState(previous);
  playById("playTrimFadeInEnabled").checked = false;
  playById("playTrimFadeOutEnabled").checked = false;
  playById("playTrimFadeInSeconds").value = "0.5";
  playById("playTrimFadeOutSeconds").value = "0.5";
  playById("playTrimStartSilence").value = "0";
  playById("playTrimEndSilence").value = "0";
  playById("playTrimOutputFilenameInput").value = "";
  playById("playTrimFileName").textContent = "";
  playById("playTrimExportMessage").textContent = "";
  playTrimShowMessage("");
  playTrimWriteSelectionFields();
}

function playTrimClose() {
  if (playState.trim.exporting) return;
  playTrimReset();
  playTrimShowOverlay("playTrimModalOverlay", false);
  playTrimShowOverlay("playTrimWarningOverlay", false);
}

function playTrimCloseWarning() {
  playState.trim.warningFile = null;
  playTrimShowOverlay("playTrimWarningOverlay", false);
}

// ---- playback

function playTrimStopSource(trim) {
  var source = trim.sourceNode;
  trim.sourceNode = null;
  if (source) {
    try { source.stop(); } catch (ignored) {}
    source.disconnect();
  }
}

function playTrimPlaybackRange() {
  var trim = playState.trim;
  var duration = playTrimDuration();
  var head = trim.playhead;
  var subRange = trim.selectionStart < trim.selectionEnd && !(trim.selectionStart <= 0 && trim.selectionEnd >= duration);
  if (subRange) {
    if (head >= trim.selectionStart && head < trim.selectionEnd) return { from: head, to: trim.selectionEnd, subRange: true };
    if (trim.seekOverrideActive) return { from: head, to: duration, subRange: true };
    return { from: trim.selectionStart, to: trim.selectionEnd, subRange: true };
  }
  var from = head >= duration && !trim.seekOverrideActive ? 0 : head;
  return { from: from, to: duration, subRange: false };
}

function playTrimPlay() {
  var trim = playState.trim;
  if (!trim.audioBuffer || trim.loading || trim.exporting || trim.isPlaying) return;
  var context;
  try {
    context = playTrimEnsureAudioContext();
  } catch (error) {
    playTrimShowMessage(error.message);
    return;
  }
  var range = playTrimPlaybackRange();
  var source = context.createBufferSource();
  source.buffer = trim.audioBuffer;
  source.connect(trim.gainNode);
  source.onended = function () {
    if (playState.trim !== trim || trim.sourceNode !== source) return;
    trim.sourceNode = null;
    trim.isPlaying = false;
    trim.playhead = range.subRange ? range.to : 0;
    trim.pausedAt = trim.playhead;
    trim.seekOverrideActive = false;
    playTrimRender();
  };
  source.start(0, range.from, Math.max(0, range.to - range.from));
  trim.sourceNode = source;
  trim.isPlaying = true;
  trim.playbackEnd = range.to;
  trim.startedAt = context.currentTime;
  trim.startedOffset = range.from;
  playTrimAnimate();
}

function playTrimAnimate() {
  var trim = playState.trim;
  playTrimRender();
  trim.animationFrame = trim.isPlaying ? window.requestAnimationFrame(playTrimAnimate) : 0;
}

function playTrimPause() {
  var trim = playState.trim;
  if (!trim.isPlaying) return;
  var position = playTrimCurrentPosition();
  playTrimStopSource(trim);
  trim.isPlaying = false;
  trim.pausedAt = position;
  trim.playhead = position;
  playTrimRender();
}

function playTrimStop() {
  var trim = playState.trim;
  playTrimStopSource(trim);
  trim.isPlaying = false;
  trim.pausedAt = 0;
  trim.playhead = 0;
  trim.seekOverrideActive = false;
  playTrimRender();
}

function playTrimSeek(seconds) {
  var trim = playState.trim;
  playTrimStopSource(trim);
  trim.isPlaying = false;
  trim.pausedAt = seconds;
  trim.playhead = seconds;
  trim.seekOverrideActive = true;
  playTrimRender();
}

// ---- pointer

function playTrimPointerX(layout, event) {
  return (event.clientX - layout.canvas.getBoundingClientRect().left) * layout.ratio;
}

function playTrimPointerDown(event) {
  var trim = playState.trim;
  if (!trim.audioBuffer || trim.loading || trim.exporting) return;
  var layout = playTrimCanvasLayout();
  var x = playTrimPointerX(layout, event);
  var reach = PLAY_TRIM_HANDLE_HIT_PX * layout.ratio;
  if (Math.abs(x - playTrimTimeToX(layout, trim.selectionStart)) <= reach) {
    trim.dragMode = "start";
    trim.dragFixedTime = trim.selectionEnd;
  } else if (Math.abs(x - playTrimTimeToX(layout, trim.selectionEnd)) <= reach) {
    trim.dragMode = "end";
    trim.dragFixedTime = trim.selectionStart;
  } else {
    trim.dragMode = "create";
    trim.dragAnchorTime = playTrimXToTime(layout, x);
    trim.dragFixedTime = trim.dragAnchorTime;
  }
  trim.dragStartClientX = event.clientX;
  trim.dragStartClientY = event.clientY;
  trim.dragMoved = false;
  if (layout.canvas.setPointerCapture) layout.canvas.setPointerCapture(event.pointerId);
}

function playTrimPointerMove(event) {
  var trim = playState.trim;
  if (!trim.dragMode) return;
  if (!trim.dragMoved) {
    var distance = Math.hypot(event.clientX - trim.dragStartClientX, event.clientY - trim.dragStartClientY);
    if (distance < PLAY_TRIM_CLICK_DRAG_THRESHOLD_PX) return;
    trim.dragMoved = true;
  }
  var layout = playTrimCanvasLayout();
  playTrimSetSelection(trim.dragFixedTime, playTrimXToTime(layout, playTrimPointerX(layout, event)));
  playTrimRender();
}

function playTrimPointerUp(event, cancelled) {
  var trim = playState.trim;
  var mode = trim.dragMode;
  trim.dragMode = "";
  if (mode === "create" && !trim.dragMoved && !cancelled) {
    var layout = playTrimCanvasLayout();
    playTrimSeek(playTrimXToTime(layout, playTrimPointerX(layout, event)));
  }
}

function playTrimDoubleClick(event) {
  var trim = playState.trim;
  if (!trim.audioBuffer || trim.loading || trim.exporting) return;
  var layout = playTrimCanvasLayout();
  playTrimSeek(playTrimXToTime(layout, playTrimPointerX(layout, event)));
  playTrimPlay();
}

function playTrimWire() {
  var canvas = playById("playTrimCanvas");
  canvas.addEventListener("pointerdown", playTrimPointerDown);
  canvas.addEventListener("pointermove", playTrimPointerMove);
  canvas.addEventListener("pointerup", function (event) { playTrimPointerUp(event, false); });
  canvas.addEventListener("pointercancel", function (event) { playTrimPointerUp(event, true); });
  canvas.addEventListener("dblclick", playTrimDoubleClick);
  ["playTrimStartInput", "playTrimEndInput"].forEach(function (id) {
    playById(id).addEventListener("change", playTrimApplyTypedSelection);
    playById(id).addEventListener("blur", playTrimApplyTypedSelection);
  });
  playById("playTrimPlayBtn").addEventListener("click", playTrimPlay);
  playById("playTrimPauseBtn").addEventListener("click", playTrimPause);
  playById("playTrimStopBtn").addEventListener("click", playTrimStop);
  [["playTrimModeExtractBtn", "extract"], ["playTrimModeDeleteBtn", "delete"]].forEach(function (pair) {
    playById(pair[0]).addEventListener("click", function () {
      playState.trim.mode = pair[1];
      playTrimUpdateControls();
    });
  });
  ["playTrimStartSilence", "playTrimEndSilence", "playTrimOutputFilenameInput"].forEach(function (id) {
    playById(id).addEventListener("input", playTrimUpdateControls);
    playById(id).addEventListener("change", playTrimUpdateControls);
  });
  playById("playTrimExportBtn").addEventListener("click", playTrimExport);
  playById("playTrimCloseBtn").addEventListener("click", playTrimClose);
  playById("playTrimCancelBtn").addEventListener("click", playTrimClose);
  playById("playTrimWarningContinueBtn").addEventListener("click", function () {
    var file = playState.trim.warningFile;
    playTrimShowOverlay("playTrimWarningOverlay", false);
    if (file) playTrimOpenEditor(file);
  });
  playById("playTrimWarningCancelBtn").addEventListener("click", playTrimCloseWarning);
  window.addEventListener("resize", function () {
    if (playState.trim.open) playTrimRender();
  });
}

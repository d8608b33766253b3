// Voice effect of the live microphone: built-in presets, the five sliders, and up to 10 custom
// presets with their id and name rules.

var VOICE_EFFECT_BUILTIN_PRESETS = ["off", "clean", "warm", "bright", "deep", "radio"];
var VOICE_EFFECT_PRESET_TEXTS = {
  off: "playback.voice_effect_preset_off", clean: "playback.voice_effect_preset_clean",
  warm: "playback.voice_effect_preset_warm", bright: "playback.voice_effect_preset_bright",
  deep: "playback.voice_effect_preset_deep", radio: "playback.voice_effect_preset_radio",
  custom: "playback.voice_effect_preset_custom"
};
var VOICE_EFFECT_MAX_CUSTOM_PRESETS = 10;
var VOICE_EFFECT_NAME_LIMIT = 40;
var VOICE_EFFECT_VALUE_NAMES = ["tone", "depth", "clarity", "radio", "output_level"];
var VOICE_EFFECT_CUSTOM_DEFAULTS = { tone: 0.5, depth: 0, clarity: 0.5, radio: 0, output_level: 0.5 };
var VOICE_EFFECT_BUILTIN_VALUES = {
  off: { tone: 0.5, depth: 0, clarity: 0.5, radio: 0, output_level: 0.5 },
  clean: { tone: 0.58, depth: 0.1, clarity: 0.72, radio: 0, output_level: 0.56 },
  warm: { tone: 0.25, depth: 0.45, clarity: 0.42, radio: 0, output_level: 0.56 },
  bright: { tone: 0.86, depth: 0.06, clarity: 0.9, radio: 0, output_level: 0.56 },
  deep: { tone: 0.16, depth: 0.92, clarity: 0.28, radio: 0, output_level: 0.57 },
  radio: { tone: 0.55, depth: 0.18, clarity: 0.76, radio: 1, output_level: 0.58 }
};
var VOICE_EFFECT_SLIDERS = {
  tone: "mixerVoiceTone", depth: "mixerVoiceDepth", clarity: "mixerVoiceClarity",
  radio: "mixerVoiceRadio", output_level: "mixerVoiceOutput"
};
var OLD_STRENGTH_NAMES = { subtle: "low", normal: "medium", strong: "high" };
var CUSTOM_PRESET_PREFIX = "custom:";

Object.assign(state, {
  voiceEffectCustomPresets: [],
  voiceEffectCustomPresetId: ""
});

function normalizeVoiceEffectStrength(name) {
  var strength = OLD_STRENGTH_NAMES[name] || name;
  return strength === "low" || strength === "medium" || strength === "high" ? strength : "medium";
}

function normalizeVoiceEffectValues(values) {
  var source = values && typeof values === "object" ? values : {};
  var normalized = {};
  VOICE_EFFECT_VALUE_NAMES.forEach(function (name) {
    var value = source[name];
    normalized[name] = typeof value === "number" && Number.isFinite(value)
      ? Math.min(1, Math.max(0, value)) : VOICE_EFFECT_CUSTOM_DEFAULTS[name];
  });
  return normalized;
}

// Lower case; every run of characters other than a-z, 0-9, "_" and "-" becomes one "-".
function presetIdFromText(text) {
  return String(text).trim().toLowerCase().replace(/[^a-z0-9_-]+/g, "-").replace(/^-+|-+$/g, "");
}

function takenKeySuffixed(base, separator, taken, cut) {
  for (var number = 2; ; number += 1) {
    var candidate = cut(base, String(number).length) + separator + number;
    if (!taken[candidate.toLowerCase()]) return candidate;
  }
}

// At most 10 presets, each with a unique id and a unique name (names compared without case).
function normalizeCustomPresets(list) {
  var ids = {};
  var names = {};
  return (Array.isArray(list) ? list : []).slice(0, VOICE_EFFECT_MAX_CUSTOM_PRESETS).map(function (entry, position) {
    var preset = entry && typeof entry === "object" ? entry : {};
    var fallbackId = "custom-" + (position + 1);
    var name = String(typeof preset.name === "string" ? preset.name : "").trim().slice(0, VOICE_EFFECT_NAME_LIMIT);
    if (name === "") name = "Custom " + (position + 1);
    var id = presetIdFromText(typeof preset.id === "string" && preset.id.trim() !== "" ? preset.id : name) || fallbackId;
    if (ids[id]) id = takenKeySuffixed(id, "-", ids, function (base) { return base; });
    if (names[name.toLowerCase()]) {
      name = takenKeySuffixed(name, " ", names, function (base, digits) {
        return base.slice(0, Math.max(1, VOICE_EFFECT_NAME_LIMIT - 2 - digits)).trim();
      });
    }
    ids[id] = true;
    names[name.toLowerCase()] = true;
    return { id: id, name: name, values: normalizeVoiceEffectValues(preset.values) };
  });
}

function savedPresetById(id) {
  return state.voiceEffectCustomPresets.filter(function (preset) { return preset.id === id; })[0] || null;
}

function selectedSavedPreset() {
  var value = byId("mixerVoiceEffectPreset").value;
  return value.indexOf(CUSTOM_PRESET_PREFIX) === 0 ? savedPresetById(value.slice(CUSTOM_PRESET_PREFIX.length)) : null;
}

function fillVoiceEffectPresetSelect(wanted) {
  var select = byId("mixerVoiceEffectPreset");
  var options = VOICE_EFFECT_BUILTIN_PRESETS.concat(["custom"]).map(function (name) {
    return [name, t(VOICE_EFFECT_PRESET_TEXTS[name])];
  }).concat(state.voiceEffectCustomPresets.map(function (preset) {
    return [CUSTOM_PRESET_PREFIX + preset.id, preset.name];
  }));
  // Rebuilt only when the list changed, so a poll does not close an open list.
  var shown = Array.prototype.map.call(select.options, function (option) { return [option.value, option.textContent]; });
  if (JSON.stringify(shown) !== JSON.stringify(options)) {
    select.textContent = "";
    options.forEach(function (option) { addOption(select, option[0], option[1]); });
  }
  select.value = wanted;
  if (select.value !== wanted) select.value = "custom";
}

function setVoiceEffectSliders(values) {
  Object.keys(VOICE_EFFECT_SLIDERS).forEach(function (name) {
    var slider = byId(VOICE_EFFECT_SLIDERS[name]);
    slider.value = String(Math.round(values[name] * 100));
    byId(VOICE_EFFECT_SLIDERS[name] + "Label").textContent = slider.value;
  });
}

function updateVoiceEffectControlsEnabled() {
  var enabled = byId("mixerVoiceEffectsEnabled").checked;
  byId("mixerVoiceEffectPreset").disabled = !enabled;
  byId("mixerVoiceEffectStrength").disabled = !enabled;
  Object.keys(VOICE_EFFECT_SLIDERS).forEach(function (name) { byId(VOICE_EFFECT_SLIDERS[name]).disabled = !enabled; });
  var saved = Boolean(selectedSavedPreset());
  byId("mixerVoiceCustomRenameBtn").disabled = !saved;
  byId("mixerVoiceCustomDeleteBtn").disabled = !saved;
}

// Draws the controls from settings (an answer of the program, or the status copy).
function renderVoiceEffectControls(settings) {
  state.voiceEffectCustomPresets = normalizeCustomPresets(settings.voice_effect_custom_presets);
  byId("mixerVoiceEffectsEnabled").checked = settings.voice_effects_enabled === true;
  byId("mixerVoiceEffectStrength").value = normalizeVoiceEffectStrength(settings.voice_effect_strength);
  var preset = typeof settings.voice_effect_preset === "string" ? settings.voice_effect_preset : "off";
  var customId = typeof settings.voice_effect_custom_preset_id === "string" ? settings.voice_effect_custom_preset_id : "";
  fillVoiceEffectPresetSelect(preset === "custom" && customId ? CUSTOM_PRESET_PREFIX + customId : preset);
  var value = byId("mixerVoiceEffectPreset").value;
  setVoiceEffectSliders(VOICE_EFFECT_BUILTIN_VALUES[value] || normalizeVoiceEffectValues(settings.voice_effect_custom_values));
  var saved = selectedSavedPreset();
  var savedId = saved ? saved.id : "";
  // The name field is left alone while the same preset stays selected: the user may be typing.
  if (savedId !== state.voiceEffectCustomPresetId) byId("mixerVoiceCustomPresetName").value = saved ? saved.name : "";
  state.voiceEffectCustomPresetId = savedId;
  updateVoiceEffectControlsEnabled();
}

function sliderValues() {
  var values = {};
  Object.keys(VOICE_EFFECT_SLIDERS).forEach(function (name) {
    values[name] = Number(byId(VOICE_EFFECT_SLIDERS[name]).value) / 100;
  });
  return values;
}

// The six voice effect members as the controls show them; `change` may name another preset list
// and selection (a saved preset's id, or "" for unsaved custom values).
function voiceEffectMembers(change) {
  var value = byId("mixerVoiceEffectPreset").value;
  var saved = selectedSavedPreset();
  var presets = state.voiceEffectCustomPresets;
  var customId = saved ? saved.id : "";
  if (change) {
    presets = change.presets;
    customId = change.selectedId;
  }
  var isCustom = Boolean(change) || value === "custom" || Boolean(saved);
  return {
    voice_effects_enabled: byId("mixerVoiceEffectsEnabled").checked,
    voice_effect_preset: isCustom ? "custom" : value,
    voice_effect_strength: byId("mixerVoiceEffectStrength").value,
    voice_effect_custom_preset_id: isCustom ? customId : "",
    voice_effect_custom_values: sliderValues(),
    voice_effect_custom_presets: normalizeCustomPresets(presets)
  };
}

function voiceEffectChanged() {
  markVoiceTestStale();
  updateVoiceEffectControlsEnabled();
  scheduleSetPayload(voiceEffectMembers());
}

function onVoiceEffectPresetChosen() {
  var value = byId("mixerVoiceEffectPreset").value;
  var saved = selectedSavedPreset();
  if (VOICE_EFFECT_BUILTIN_VALUES[value]) setVoiceEffectSliders(VOICE_EFFECT_BUILTIN_VALUES[value]);
  else setVoiceEffectSliders(saved ? saved.values : VOICE_EFFECT_CUSTOM_DEFAULTS);
  byId("mixerVoiceCustomPresetName").value = saved ? saved.name : "";
  state.voiceEffectCustomPresetId = saved ? saved.id : "";
  voiceEffectChanged();
}

function onVoiceEffectSliderMoved(event) {
  byId(event.target.id + "Label").textContent = event.target.value;
  byId("mixerVoiceEffectPreset").value = "custom";
  byId("mixerVoiceCustomPresetName").value = "";
  state.voiceEffectCustomPresetId = "";
  voiceEffectChanged();
}

function showVoiceCustomStatus(text, clearAfterMs) {
  showStatusLine("mixerVoiceCustomStatus", text, clearAfterMs);
}

// Stores a changed preset list with `selectedId` selected; the page keeps its presets when the
// save fails.
function saveCustomPresets(presets, selectedId, successKey) {
  var members = voiceEffectMembers({ presets: presets, selectedId: selectedId });
  // A set still waiting to go would otherwise put the old list back after this save.
  if (state.pendingSetTimer) Object.assign(state.pendingSetPayload, members);
  return postJson("/api/mixer/settings/save", members, { timeoutMs: 15000, retryAttempts: 1 }).then(function (result) {
    if (!result.payload.ok) {
      showVoiceCustomStatus(describeApiFailure(result, t("errors.settings_save_failed")));
      return false;
    }
    keepSettings(result.payload.settings || state.settings);
    state.voiceEffectCustomPresetId = "";
    renderVoiceEffectControls(state.settings);
    markVoiceTestStale();
    showVoiceCustomStatus(t(successKey), TRANSIENT_STATUS_MS);
    return true;
  });
}

function saveCustomPreset() {
  var name = byId("mixerVoiceCustomPresetName").value.trim();
  if (name === "") {
    showVoiceCustomStatus(t("playback.voice_custom_name_required"));
    return Promise.resolve(false);
  }
  var saved = selectedSavedPreset();
  var values = sliderValues();
  var presets = state.voiceEffectCustomPresets.map(function (preset) {
    return saved && preset.id === saved.id ? { id: preset.id, name: name, values: values } : preset;
  });
  var id = saved ? saved.id : "";
  if (!saved) {
    if (presets.length >= VOICE_EFFECT_MAX_CUSTOM_PRESETS) {
      showVoiceCustomStatus(t("playback.voice_custom_limit"));
      return Promise.resolve(false);
    }
    var taken = {};
    presets.forEach(function (preset) { taken[preset.id] = true; });
    id = presetIdFromText(name) || "custom";
    if (taken[id]) id = takenKeySuffixed(id, "-", taken, function (base) { return base; });
    presets = presets.concat([{ id: id, name: name, values: values }]);
  }
  return saveCustomPresets(presets, id, "playback.voice_custom_saved");
}

function renameCustomPreset() {
  var saved = selectedSavedPreset();
  var name = byId("mixerVoiceCustomPresetName").value.trim();
  if (!saved) {
    showVoiceCustomStatus(t("playback.voice_custom_select_saved"));
    return Promise.resolve(false);
  }
  if (name === "") {
    showVoiceCustomStatus(t("playback.voice_custom_name_required"));
    return Promise.resolve(false);
  }
  var presets = state.voiceEffectCustomPresets.map(function (preset) {
    return preset.id === saved.id ? { id: preset.id, name: name, values: preset.values } : preset;
  });
  return saveCustomPresets(presets, saved.id, "playback.voice_custom_saved");
}

function deleteCustomPreset() {
  var saved = selectedSavedPreset();
  if (!saved) {
    showVoiceCustomStatus(t("playback.voice_custom_select_saved"));
    return Promise.resolve(false);
  }
  var presets = state.voiceEffectCustomPresets.filter(function (preset) { return preset.id !== saved.id; });
  return saveCustomPresets(presets, "", "playback.voice_custom_deleted");
}

function wireVoiceEffects() {
  byId("mixerVoiceEffectsEnabled").addEventListener("change", voiceEffectChanged);
  byId("mixerVoiceEffectStrength").addEventListener("change", voiceEffectChanged);
  byId("mixerVoiceEffectPreset").addEventListener("change", onVoiceEffectPresetChosen);
  Object.keys(VOICE_EFFECT_SLIDERS).forEach(function (name) {
    byId(VOICE_EFFECT_SLIDERS[name]).addEventListener("input", onVoiceEffectSliderMoved);
  });
  byId("mixerVoiceCustomSaveBtn").addEventListener("click", saveCustomPreset);
  byId("mixerVoiceCustomRenameBtn").addEventListener("click", renameCustomPreset);
  byId("mixerVoiceCustomDeleteBtn").addEventListener("click", deleteCustomPreset);
  if (window.ZennicI18n) {
    window.ZennicI18n.onChange(function () { fillVoiceEffectPresetSelect(byId("mixerVoiceEffectPreset").value); });
  }
}

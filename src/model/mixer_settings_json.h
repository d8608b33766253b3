#pragma once

#include <set>
#include <string>

#include "core/json_value.h"
#include "model/mixer_settings.h"

namespace zennic {

// The JSON form of the settings: what settings.json holds and what the API returns. Writers
// write every key; readers are tolerant (an absent or mistyped key keeps its default) and fail
// only for a null output or a value that is no object.

JsonValue MixerSettingsToJson(const MixerSettings& settings);
JsonValue KeyBindingToJson(const KeyBinding& binding);
JsonValue ProfileToJson(const Profile& profile);
JsonValue SoundLinkToJson(const SoundLink& link);
JsonValue VoiceEffectCustomPresetToJson(const VoiceEffectCustomPreset& preset);
JsonValue VoiceEffectCustomValuesToJson(const VoiceEffectCustomValues& values);

// Starts from the defaults and normalises what it read.
bool MixerSettingsFromJson(const JsonValue& value, MixerSettings* out, std::string* error);
// Every field is overwritten; absent ones take the record's defaults.
bool KeyBindingFromJson(const JsonValue& value, KeyBinding* out, std::string* error);
bool ProfileFromJson(const JsonValue& value, Profile* out, std::string* error);
bool SoundLinkFromJson(const JsonValue& value, SoundLink* out, std::string* error);
// An absent "values" leaves the preset's values as they were.
bool VoiceEffectCustomPresetFromJson(const JsonValue& value, VoiceEffectCustomPreset* out,
                                     std::string* error);
// An absent member keeps the value it had.
bool VoiceEffectCustomValuesFromJson(const JsonValue& value, VoiceEffectCustomValues* out,
                                     std::string* error);

// Member readers; `member` may be null (absent). A number may also come as a string holding
// one; a bool as a number or as "1", "true" or "yes".
double JsonToNumber(const JsonValue* member, double fallback);
bool JsonToBool(const JsonValue* member, bool fallback);
std::string JsonStringOr(const JsonValue* member, const std::string& fallback);
// The string member `key`, or empty.
std::string ReadJsonString(const JsonValue& object, const std::string& key);

// Brings the settings into their invariant form in place: ranges clamped, names normalised,
// lists bounded and de-duplicated, unusable keys replaced, a profile always selected.
void NormalizeMixerSettings(MixerSettings* settings);

// Trimmed; when longer than `max_bytes`, cut before the character that would cross it and
// trimmed again.
std::string TrimPresetCandidate(const std::string& candidate, size_t max_bytes);
// A preset name of at most 40 bytes that `names_in_use` (lower-cased) does not hold yet;
// "Custom <kept + 1>" for an empty candidate.
std::string MakeUniqueCustomPresetName(const std::string& candidate,
                                       const std::set<std::string>& names_in_use, size_t kept);
// A slug of the candidate that `ids_in_use` does not hold yet.
std::string MakeUniqueCustomPresetId(const std::string& candidate,
                                     const std::set<std::string>& ids_in_use);

}  // namespace zennic

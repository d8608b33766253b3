#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/mixer_device_info.h"
#include "core/json_value.h"
#include "model/mixer_settings.h"
#include "platform/audio_system.h"

namespace zennic {

struct RuntimeSnapshot;

// A device chosen for a run. None: index -1, empty strings, not usable.
struct MixerSelectedDevice {
  int32_t index = -1;
  std::string id;
  std::string name;
  bool usable = false;

  bool operator==(const MixerSelectedDevice&) const = default;
};

// What the caller of a start asks for; unset fields leave the choice to the saved settings.
struct MixerDeviceSelection {
  std::optional<int32_t> microphone_index;
  std::optional<int32_t> output_index;
  std::optional<int32_t> monitor_index;
  std::optional<bool> monitor_enabled;
};

// The devices of one run, and what the user should be told about them.
struct MixerDeviceChoice {
  MixerSelectedDevice microphone;
  MixerSelectedDevice output;
  MixerSelectedDevice monitor;
  bool monitor_enabled = false;
  std::vector<std::string> notes;
};

// The lower-cased name contains "vb-audio", "vb audio" or "cable".
bool IsVirtualCableName(const std::string& name);
// The lower-cased name contains "speaker", "headphone", "headset" or "earphone".
bool IsPhysicalOutputName(const std::string& name);
// The first device whose name equals `name` once both are lower-cased without white space.
const MixerDeviceInfo* FindMixerDeviceByName(const std::vector<MixerDeviceInfo>& devices,
                                             const std::string& name);
bool DeviceNamesMatch(const std::string& a, const std::string& b);
// "Saved <kind> device <saved> was unavailable. Using <chosen> instead."
std::string DeviceSubstitutionNote(const std::string& kind, const std::string& saved_name,
                                   const std::string& chosen_name);

// A microphone by request, by the stored index (while its device has the saved name), by the
// saved name, by a name that says so, or the first input; never one of the cable's own
// endpoints.
MixerSelectedDevice SelectMicrophone(const std::vector<MixerDeviceInfo>& inputs,
                                     std::optional<int32_t> requested_index,
                                     std::optional<int32_t> stored_index,
                                     const std::string& saved_name);

enum class OutputRole { kMixOutput, kMonitor };
// The mix output (preferring the cable) or the monitor (preferring a real speaker or headset,
// never `excluded_index` unless asked for by index).
MixerSelectedDevice SelectOutputDevice(const std::vector<MixerDeviceInfo>& outputs,
                                       std::optional<int32_t> requested_index,
                                       std::optional<int32_t> stored_index,
                                       const std::string& saved_name, bool prefer_cable,
                                       OutputRole role, int32_t excluded_index);

// The whole device choice of a start, with its notes. An output that is not usable means that
// no start is possible.
MixerDeviceChoice ChooseMixerDevices(const MixerDeviceList& devices,
                                     const RuntimeSnapshot& snapshot,
                                     const MixerDeviceSelection& selection);

// The settings a start saves: the devices the user chose. A device asked for by index, found
// under its saved name, or chosen where none was saved is saved as in use; a stand-in for a
// saved device that is missing serves this run only, so that the saved one is used again once
// it is back. The monitor switch stays as asked for, also while no monitor can play.
MixerSettings SettingsWithChosenDevices(const MixerSettings& saved,
                                        const MixerDeviceChoice& choice,
                                        const MixerDeviceSelection& selection);

// The active endpoints of both flows, in the system's order; empty lists when no audio service
// answers.
MixerDeviceList EnumerateMixerDevices(const AudioSystemFactory& audio_systems);

// {"index", "name"}: the endpoint id stays inside the program.
JsonValue MixerDeviceInfoToJson(const MixerDeviceInfo& device);
// {"inputs": [...], "outputs": [...], "vb_cable_detected": bool}
JsonValue MixerDeviceListToJson(const MixerDeviceList& list);

}  // namespace zennic

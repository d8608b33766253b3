#include "engine/mixer_device_choice.h"

#include "model/runtime_state.h"
#include "core/text.h"
#include "engine/cable_device_names.h"

namespace zennic {
namespace {

bool ContainsAny(const std::string& name, std::initializer_list<const char*> parts) {
  std::string lower = ToLower(name);
  for (const char* part : parts) {
    if (lower.find(part) != std::string::npos) return true;
  }
  return false;
}

MixerSelectedDevice Selected(const MixerDeviceInfo& device) {
  return {device.index, device.id, device.name, true};
}

const MixerDeviceInfo* FindByIndex(const std::vector<MixerDeviceInfo>& devices,
                                   std::optional<int32_t> index) {
  if (!index) return nullptr;
  for (const MixerDeviceInfo& device : devices) {
    if (device.index == *index) return &device;
  }
  return nullptr;
}

// Indices shift when devices come and go: the stored index of the last start still means the
// user's device only while no name is saved or the device there has the saved name.
const MixerDeviceInfo* FindByStoredIndex(const std::vector<MixerDeviceInfo>& devices,
                                         std::optional<int32_t> index,
                                         const std::string& saved_name) {
  const MixerDeviceInfo* device = FindByIndex(devices, index);
  if (device == nullptr || Trim(saved_name).empty() || DeviceNamesMatch(saved_name, device->name)) {
    return device;
  }
  return nullptr;
}

// The game records from the cable: the cable's own endpoints would feed the mix back into itself.
bool IsRefusedMicrophone(const MixerDeviceInfo& device) {
  return HasCableInputNamePrefix(device.name) || HasCableOutputNamePrefix(device.name);
}

template <typename Accept>
const MixerDeviceInfo* FirstWhere(const std::vector<MixerDeviceInfo>& devices, Accept accept) {
  for (const MixerDeviceInfo& device : devices) {
    if (accept(device)) return &device;
  }
  return nullptr;
}

// The name a start saves for one device: the one in use, unless it stands in for a saved
// device that is missing.
std::string ChosenDeviceName(const MixerSelectedDevice& used, std::optional<int32_t> requested,
                             const std::string& saved_name) {
  bool asked_for = used.usable && requested && used.index == *requested;
  bool stand_in =
      !Trim(saved_name).empty() && !asked_for && !DeviceNamesMatch(saved_name, used.name);
  if (stand_in) return saved_name;
  return used.usable ? used.name : std::string();
}

void AppendDevices(AudioSystem& system, AudioFlow flow, std::vector<MixerDeviceInfo>* devices,
                   bool* cable_detected) {
  std::vector<AudioEndpointDescription> endpoints;
  if (AudioFailed(system.EnumerateEndpoints(flow, &endpoints))) return;
  for (const AudioEndpointDescription& endpoint : endpoints) {
    if (endpoint.id.empty()) continue;
    MixerDeviceInfo device;
    device.index = static_cast<int32_t>(devices->size());
    device.id = endpoint.id;
    device.name = endpoint.friendly_name.empty() ? endpoint.id : endpoint.friendly_name;
    if (IsVirtualCableName(device.name)) *cable_detected = true;
    devices->push_back(std::move(device));
  }
}

}  // namespace

bool IsVirtualCableName(const std::string& name) {
  return ContainsAny(name, {"vb-audio", "vb audio", "cable"});
}

bool IsPhysicalOutputName(const std::string& name) {
  return ContainsAny(name, {"speaker", "headphone", "headset", "earphone"});
}

const MixerDeviceInfo* FindMixerDeviceByName(const std::vector<MixerDeviceInfo>& devices,
                                             const std::string& name) {
  std::string key = NormalizeChoiceKey(name);
  // A blank name must not match a device whose name is blank too.
  if (key.empty()) return nullptr;
  return FirstWhere(devices, [&key](const MixerDeviceInfo& device) {
    return NormalizeChoiceKey(device.name) == key;
  });
}

bool DeviceNamesMatch(const std::string& a, const std::string& b) {
  return !a.empty() && !b.empty() && NormalizeChoiceKey(a) == NormalizeChoiceKey(b);
}

std::string DeviceSubstitutionNote(const std::string& kind, const std::string& saved_name,
                                   const std::string& chosen_name) {
  return "Saved " + kind + " device " + saved_name + " was unavailable. Using " + chosen_name +
         " instead.";
}

MixerSelectedDevice SelectMicrophone(const std::vector<MixerDeviceInfo>& inputs,
                                     std::optional<int32_t> requested_index,
                                     std::optional<int32_t> stored_index,
                                     const std::string& saved_name) {
  for (const MixerDeviceInfo* candidate :
       {FindByIndex(inputs, requested_index), FindByStoredIndex(inputs, stored_index, saved_name),
        FindMixerDeviceByName(inputs, saved_name)}) {
    if (candidate != nullptr && !IsRefusedMicrophone(*candidate)) return Selected(*candidate);
  }
  if (const MixerDeviceInfo* named = FirstWhere(inputs, [](const MixerDeviceInfo& device) {
        return !IsRefusedMicrophone(device) && ContainsAny(device.name, {"microphone", "mic"});
      })) {
    return Selected(*named);
  }
  if (const MixerDeviceInfo* any = FirstWhere(
          inputs, [](const MixerDeviceInfo& device) { return !IsRefusedMicrophone(device); })) {
    return Selected(*any);
  }
  return {};
}

MixerSelectedDevice SelectOutputDevice(const std::vector<MixerDeviceInfo>& outputs,
                                       std::optional<int32_t> requested_index,
                                       std::optional<int32_t> stored_index,
                                       const std::string& saved_name, bool prefer_cable,
                                       OutputRole role, int32_t excluded_index) {
  for (const MixerDeviceInfo* candidate :
       {FindByIndex(outputs, requested_index),
        FindByStoredIndex(outputs, stored_index, saved_name),
        FindMixerDeviceByName(outputs, saved_name)}) {
    if (candidate != nullptr) return Selected(*candidate);
  }
  auto not_excluded = [excluded_index](const MixerDeviceInfo& device) {
    return device.index != excluded_index;
  };
  if (prefer_cable) {
    if (const MixerDeviceInfo* cable = FirstWhere(outputs, [&](const MixerDeviceInfo& device) {
          return not_excluded(device) && IsVirtualCableName(device.name);
        })) {
      return Selected(*cable);
    }
  }
  if (role == OutputRole::kMixOutput) {
    return outputs.empty() ? MixerSelectedDevice() : Selected(outputs.front());
  }
  if (const MixerDeviceInfo* physical = FirstWhere(outputs, [&](const MixerDeviceInfo& device) {
        return not_excluded(device) && IsPhysicalOutputName(device.name) &&
               !IsVirtualCableName(device.name);
      })) {
    return Selected(*physical);
  }
  if (const MixerDeviceInfo* real = FirstWhere(outputs, [&](const MixerDeviceInfo& device) {
        return not_excluded(device) && !IsVirtualCableName(device.name);
      })) {
    return Selected(*real);
  }
  if (const MixerDeviceInfo* other = FirstWhere(outputs, not_excluded)) return Selected(*other);
  return {};
}

MixerDeviceChoice ChooseMixerDevices(const MixerDeviceList& devices,
                                     const RuntimeSnapshot& snapshot,
                                     const MixerDeviceSelection& selection) {
  const MixerSettings& settings = snapshot.settings;
  const bool mic_saved = !Trim(settings.mic_name).empty();
  const bool output_saved = !Trim(settings.out_name).empty();
  const bool monitor_saved = !Trim(settings.monitor_name).empty();

  MixerDeviceChoice choice;
  choice.microphone = SelectMicrophone(devices.inputs, selection.microphone_index,
                                       snapshot.mic_index, settings.mic_name);
  choice.output = SelectOutputDevice(devices.outputs, selection.output_index, snapshot.out_index,
                                     settings.out_name, true, OutputRole::kMixOutput, -1);
  if (!choice.output.usable) return choice;
  choice.monitor =
      SelectOutputDevice(devices.outputs, selection.monitor_index, snapshot.monitor_index,
                         settings.monitor_name, false, OutputRole::kMonitor, choice.output.index);
  choice.monitor_enabled = selection.monitor_enabled.value_or(settings.monitor_enabled) &&
                           choice.monitor.usable;

  if (choice.microphone.usable && mic_saved &&
      !DeviceNamesMatch(settings.mic_name, choice.microphone.name)) {
    choice.notes.push_back(
        DeviceSubstitutionNote("microphone", settings.mic_name, choice.microphone.name));
  }
  if (output_saved && !DeviceNamesMatch(settings.out_name, choice.output.name)) {
    choice.notes.push_back(
        DeviceSubstitutionNote("output", settings.out_name, choice.output.name));
  }
  if (monitor_saved) {
    if (choice.monitor.usable) {
      if (!DeviceNamesMatch(settings.monitor_name, choice.monitor.name)) {
        choice.notes.push_back(
            DeviceSubstitutionNote("monitor", settings.monitor_name, choice.monitor.name));
      }
    } else if (settings.monitor_enabled || selection.monitor_index || snapshot.monitor_index) {
      choice.notes.push_back("Saved monitor device " + settings.monitor_name +
                             " was unavailable. Monitor output was disabled because no separate "
                             "speaker or headphone device was found.");
    }
  }
  return choice;
}

MixerSettings SettingsWithChosenDevices(const MixerSettings& saved,
                                        const MixerDeviceChoice& choice,
                                        const MixerDeviceSelection& selection) {
  MixerSettings settings = saved;
  settings.mic_name =
      ChosenDeviceName(choice.microphone, selection.microphone_index, saved.mic_name);
  settings.out_name = ChosenDeviceName(choice.output, selection.output_index, saved.out_name);
  settings.monitor_name =
      ChosenDeviceName(choice.monitor, selection.monitor_index, saved.monitor_name);
  settings.monitor_enabled = selection.monitor_enabled.value_or(saved.monitor_enabled);
  return settings;
}

MixerDeviceList EnumerateMixerDevices(const AudioSystemFactory& audio_systems) {
  MixerDeviceList list;
  if (!audio_systems) return list;
  std::unique_ptr<AudioSystem> system = audio_systems(nullptr);
  if (system == nullptr) return list;
  AppendDevices(*system, AudioFlow::kCapture, &list.inputs, &list.vb_cable_detected);
  AppendDevices(*system, AudioFlow::kRender, &list.outputs, &list.vb_cable_detected);
  return list;
}

JsonValue MixerDeviceInfoToJson(const MixerDeviceInfo& device) {
  JsonValue json = JsonValue::MakeObject();
  json["index"] = JsonValue(static_cast<double>(device.index));
  json["name"] = JsonValue(device.name);
  return json;
}

JsonValue MixerDeviceListToJson(const MixerDeviceList& list) {
  JsonValue json = JsonValue::MakeObject();
  JsonValue& inputs = json["inputs"] = JsonValue::MakeArray();
  for (const MixerDeviceInfo& device : list.inputs) inputs.PushBack(MixerDeviceInfoToJson(device));
  JsonValue& outputs = json["outputs"] = JsonValue::MakeArray();
  for (const MixerDeviceInfo& device : list.outputs) {
    outputs.PushBack(MixerDeviceInfoToJson(device));
  }
  json["vb_cable_detected"] = JsonValue(list.vb_cable_detected);
  return json;
}

}  // namespace zennic

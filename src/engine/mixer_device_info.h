#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zennic {

// One active audio endpoint as the mixer and the web client see it.
struct MixerDeviceInfo {
  int32_t index = 0;  // its place in its own list, from 0
  std::string name;   // the friendly name, or the id when the name cannot be read
  std::string id;     // the endpoint id; never shown to the web client

  bool operator==(const MixerDeviceInfo&) const = default;
};

struct MixerDeviceList {
  std::vector<MixerDeviceInfo> inputs;   // capture endpoints
  std::vector<MixerDeviceInfo> outputs;  // render endpoints
  bool vb_cable_detected = false;

  bool operator==(const MixerDeviceList&) const = default;
};

}  // namespace zennic

#include "api/http_api.h"

#include "api/device_lookups.h"
#include "engine/mixer_device_choice.h"
#include "server/json_envelope.h"

namespace zennic {

void HttpApi::RegisterDeviceListRoute() {
  routes_.emplace("/api/mixer/devices", [this](const JsonValue&) { return HandleDevices(); });
}

HttpResponse HttpApi::HandleDevices() {
  MixerDeviceList devices;
  bool enumerated = false;
  std::string error;
  if (!EnumerateDevices(&devices, &enumerated, &error)) {
    return ApiRefusal(500, "device_enumeration_failed", error);
  }
  // The cable's own endpoints are the game's voice, never the user's microphone.
  std::erase_if(devices.inputs,
                [](const MixerDeviceInfo& device) { return IsCableDeviceName(device.name); });
  return MakeJsonResponse(MixerDeviceListToJson(devices));
}

}  // namespace zennic

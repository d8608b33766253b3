#pragma once

#include <string>

#include "platform/audio_system.h"

namespace zennic {

// How endpoints are judged by name: the virtual cable is known only by its friendly names, and
// every comparison uses the name lower-cased with all white space removed.

// "CABLE Input", "CABLE In 16 Ch": the cable's playback side.
bool HasCableInputNamePrefix(const std::string& name);
// "CABLE Output", "CABLE Out 16 Ch": the cable's recording side.
bool HasCableOutputNamePrefix(const std::string& name);
// The setup check's names: one side of the cable and not the other.
bool IsCableInputDeviceName(const std::string& name);
bool IsCableOutputDeviceName(const std::string& name);
// Either side of the cable, or any endpoint of the cable's maker.
bool IsVirtualCableDeviceName(const std::string& name);
// A name that can stand for a real device: not empty, not the cable.
bool IsUsableEndpointName(const std::string& name);
// Lower is better: microphones (capture) or headsets (render) first, then the rest.
int PhysicalDevicePriority(AudioFlow flow, const std::string& name);

}  // namespace zennic

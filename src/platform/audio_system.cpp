#include "platform/audio_system.h"

#include <cstdio>

namespace zennic {

std::string FormatHresult(std::string_view message, AudioResult result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  std::string text(message);
  text += " (";
  text += code;
  text += ")";
  return text;
}

}  // namespace zennic

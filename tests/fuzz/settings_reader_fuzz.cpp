// Feeds arbitrary bytes to the settings reader as a settings.json, through both formats'
// readers and the normalisation. Reading must cost no more than a small multiple of the text,
// and normalised settings must survive being written and read again unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/allocation_meter.h"
#include "core/json_value.h"
#include "model/legacy_settings_migration.h"
#include "model/mixer_settings_json.h"

namespace {

constexpr size_t kFloorBytes = 16 << 20;
constexpr size_t kBytesPerTextByte = 64;

std::string WriteAndReadBack(const zennic::MixerSettings& settings) {
  std::string written = zennic::MixerSettingsToJson(settings).Serialize(2);
  zennic::JsonValue document;
  if (!zennic::JsonValue::Parse(written, &document, nullptr)) std::abort();
  zennic::MixerSettings again;
  if (!zennic::MixerSettingsFromJson(document, &again, nullptr)) std::abort();
  zennic::NormalizeMixerSettings(&again);
  return zennic::MixerSettingsToJson(again).Serialize(2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  zennic::fuzz::AllocationMeter::Reset();
  zennic::JsonValue document;
  if (!zennic::JsonValue::Parse(text, &document, nullptr)) return 0;
  zennic::MixerSettings current;
  bool read = zennic::MixerSettingsFromJson(document, &current, nullptr);
  if (read) zennic::NormalizeMixerSettings(&current);
  zennic::MixerSettings first_format;
  bool mapped = zennic::MigrateLegacySettingsJson(document, &first_format, nullptr);
  zennic::fuzz::AllocationMeter::Expect(kFloorBytes + kBytesPerTextByte * size);
  if (read != (document.type == zennic::JsonValue::Type::Object) || read != mapped) std::abort();
  if (!read) return 0;

  std::string written = zennic::MixerSettingsToJson(current).Serialize(2);
  if (WriteAndReadBack(current) != written) std::abort();
  if (WriteAndReadBack(first_format) != zennic::MixerSettingsToJson(first_format).Serialize(2)) {
    std::abort();
  }
  return 0;
}

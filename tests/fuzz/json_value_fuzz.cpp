// Feeds arbitrary bytes to the JSON reader under both of its rules. What it reads must cost no
// more than a small multiple of the text, and must come back the same through the writer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/allocation_meter.h"
#include "core/json_value.h"

namespace {

// The floor of the value budget, at a few hundred bytes a value, plus the text's share.
constexpr size_t kFloorBytes = 8 << 20;
constexpr size_t kBytesPerTextByte = 32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool strict : {false, true}) {
    zennic::JsonParseRules rules;
    rules.require_utf8 = strict;
    zennic::JsonValue value;
    std::string error;
    zennic::fuzz::AllocationMeter::Reset();
    bool parsed = zennic::JsonValue::Parse(text, &value, &error, rules);
    zennic::fuzz::AllocationMeter::Expect(kFloorBytes + kBytesPerTextByte * size);
    if (!parsed) {
      if (error.empty()) std::abort();
      continue;
    }
    // Written once, a document reads back to the very same text.
    std::string written = value.Serialize(0);
    zennic::JsonParseRules own_file;
    own_file.max_values = SIZE_MAX;
    zennic::JsonValue again;
    if (!zennic::JsonValue::Parse(value.Serialize(2), &again, &error, own_file)) std::abort();
    if (again.Serialize(0) != written) {
      zennic::JsonValue third;
      if (!zennic::JsonValue::Parse(written, &third, &error, own_file)) std::abort();
      if (third.Serialize(0) != again.Serialize(0)) std::abort();
    }
  }
  return 0;
}

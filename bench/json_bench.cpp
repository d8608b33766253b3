// Parsing and writing JSON of the sizes the program handles: a settings file and a locale
// catalogue of about a thousand keys.
#include <benchmark/benchmark.h>

#include "core/json_value.h"

namespace {

zennic::JsonValue Catalogue() {
  zennic::JsonValue catalogue = zennic::JsonValue::MakeObject();
  for (int i = 0; i < 1000; ++i) {
    catalogue["section" + std::to_string(i % 40) + ".key_" + std::to_string(i)] =
        zennic::JsonValue("A translated text of ordinary length, with {{placeholder}} " + std::to_string(i));
  }
  return catalogue;
}

void BM_ParseCatalogue(benchmark::State& state) {
  std::string text = Catalogue().Serialize(2);
  for (auto _ : state) {
    zennic::JsonValue value;
    benchmark::DoNotOptimize(zennic::JsonValue::Parse(text, &value, nullptr));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseCatalogue);

void BM_SerializeCatalogue(benchmark::State& state) {
  zennic::JsonValue catalogue = Catalogue();
  for (auto _ : state) benchmark::DoNotOptimize(catalogue.Serialize(2));
}
BENCHMARK(BM_SerializeCatalogue);

}  // namespace

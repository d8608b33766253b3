#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace zennic {

// One file of the web client, compiled into the program from web/.
struct EmbeddedAsset {
  const char* path;          // URL path, beginning with "/"
  const char* content_type;  // "application/octet-stream": derive it from the extension
  bool no_store;
  const unsigned char* data;  // `length` bytes followed by a NUL byte
  size_t length;
};

// The table of every embedded file; built once, safely from any thread, never changed.
const std::vector<EmbeddedAsset>& GetEmbeddedAssets();

bool HasEmbeddedAsset(std::string_view path);

// The bytes of the embedded catalogue "/assets/i18n/<code>.json", if there is one.
std::optional<std::string_view> EmbeddedCatalogue(std::string_view code);

}  // namespace zennic

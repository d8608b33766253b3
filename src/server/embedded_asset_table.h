#pragma once

#include <cstddef>
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

}  // namespace zennic

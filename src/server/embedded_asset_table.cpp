#include "server/embedded_asset_table.h"

#include <string>

namespace zennic {

// Written by the build from the files under web/.
extern const EmbeddedAsset* const kEmbeddedAssetRows;
extern const size_t kEmbeddedAssetRowCount;

const std::vector<EmbeddedAsset>& GetEmbeddedAssets() {
  static const std::vector<EmbeddedAsset> table(kEmbeddedAssetRows,
                                                kEmbeddedAssetRows + kEmbeddedAssetRowCount);
  return table;
}

bool HasEmbeddedAsset(std::string_view path) {
  for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
    if (asset.path != nullptr && asset.data != nullptr && path == asset.path) return true;
  }
  return false;
}

std::optional<std::string_view> EmbeddedCatalogue(std::string_view code) {
  const std::string path = "/assets/i18n/" + std::string(code) + ".json";
  for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
    if (asset.path != nullptr && asset.data != nullptr && path == asset.path) {
      return std::string_view(reinterpret_cast<const char*>(asset.data), asset.length);
    }
  }
  return std::nullopt;
}

}  // namespace zennic

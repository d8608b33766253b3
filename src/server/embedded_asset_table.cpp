#include "server/embedded_asset_table.h"

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

}  // namespace zennic

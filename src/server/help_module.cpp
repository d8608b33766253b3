#include "server/help_module.h"

#include "server/embedded_asset_table.h"

namespace zennic {

bool HelpModule::Initialize(std::string* error) {
  for (const char* path : {"/guide", "/assets/guide/guide.css", "/assets/guide/guide.js"}) {
    if (!HasEmbeddedAsset(path)) {
      if (error) *error = std::string("HelpModule is missing required embedded guide asset: ") + path;
      return false;
    }
  }
  return true;
}

}  // namespace zennic

#pragma once

#include <string>

namespace zennic {

// The setup guide: makes sure at start-up that its page and files were built into the program.
class HelpModule {
 public:
  // Fails with the first missing guide file. Reads the embedded table itself, so it does not
  // depend on the asset store being loaded.
  bool Initialize(std::string* error);
};

}  // namespace zennic

#pragma once

#include <cstddef>
#include <string>

namespace zennic {

// The manifest is small; a larger answer is refused rather than buffered.
constexpr size_t kMaxUpdateManifestBytes = 524288;

// Fetches the manifest with one GET over https only, redirects included; gives up when the
// connection takes 5 seconds or the transfer stalls for 5 seconds. `ca_bundle` names a file of
// trusted certificates; empty trusts the system's store.
bool FetchUpdateManifest(const std::string& url, std::string* body, std::string* error,
                         const std::string& ca_bundle);

}  // namespace zennic

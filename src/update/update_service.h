#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "update/update_result.h"

namespace zennic {

// Where the maker publishes the manifest and the downloads; both are build settings.
extern const char kUpdateManifestUrl[];
extern const char kUpdateDownloadHost[];

// Fetches the manifest text at a URL; false with an English sentence on failure.
using UpdateManifestFetch =
    std::function<bool(const std::string& url, std::string* body, std::string* error)>;

struct UpdateServiceOptions {
  std::string current_version;
  std::string manifest_url;
  // Replaces the HTTPS fetch when set.
  UpdateManifestFetch fetch;
  // Where a check that fails logs its reason; empty: the debugger output only.
  std::filesystem::path logs_folder;
};

// Only an https download on the maker's host, port 443, under "/downloads/" and ending in
// ".zip" (any case); a query or fragment does not count.
bool IsAllowedDownloadUrl(const std::string& url);

// Tells, on request, whether a newer version is published: fetches the manifest afresh on the
// calling thread, validates it field by field and compares versions. The options are fixed
// after construction and nothing else is kept, so concurrent checks need no lock.
class UpdateService {
 public:
  explicit UpdateService(UpdateServiceOptions options);

  // False only without a result record; every outcome of the check, failures included, is
  // reported in the result, and a failure is also logged with its reason.
  bool CheckForUpdates(UpdateResult* result, std::string* error) const;

 private:
  void Check(UpdateResult* result) const;

  UpdateServiceOptions options_;
};

}  // namespace zennic

// The update check against a local HTTPS server trusted through a throwaway authority: the
// manifest's validation, the version comparison and every way the fetch can fail.

#include "update/update_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "support/http_test_client.h"
#include "support/local_https_server.h"
#include "support/temp_folder.h"
#include "support/throwaway_certificates.h"
#include "update/update_manifest_fetch.h"

namespace zennic {
namespace {

constexpr char kManifestPath[] = "/downloads/ruzerad/latest.json";
constexpr char kAbsent[] = "(absent)";

// A valid manifest with members replaced by JSON texts as written (1e999 stays 1e999), or
// removed.
std::string Manifest(const std::map<std::string, std::string>& changes = {}) {
  JsonValue manifest;
  std::string base = R"({"schema_version": 1, "app": "Ruzerad", "latest_version": "1.0.5",
      "download_url": "https://)" + std::string(kUpdateDownloadHost) +
                     R"(/downloads/ruzerad/Ruzerad-1.0.5.zip",
      "published_at": "2025-01-02T03:04:05Z", "download_size_bytes": 1234, "sha256": "ab12",
      "release_notes": [" Faster start ", "", 7, "Fixes"], "update_level": "Recommended"})";
  EXPECT_TRUE(JsonValue::Parse(base, &manifest, nullptr));
  for (const auto& [key, text] : changes) {
    if (text == kAbsent) {
      manifest.object_value.erase(key);
    } else {
      manifest[key] = "placeholder of " + key;
    }
  }
  std::string serialized = manifest.Serialize(2);
  for (const auto& [key, text] : changes) {
    std::string placeholder = "\"placeholder of " + key + "\"";
    if (size_t at = serialized.find(placeholder); at != std::string::npos) {
      serialized.replace(at, placeholder.size(), text);
    }
  }
  return serialized;
}

// The manifest followed by blanks up to exactly `size` bytes.
testing::CannedReply Padded(const std::string& manifest, size_t size) {
  return testing::CannedReply::Body(manifest + std::string(size - manifest.size(), ' '));
}

// Compares members of the result's JSON with JSON texts.
void ExpectFields(const UpdateResult& result, const std::map<std::string, std::string>& expected,
                  const std::string& label) {
  JsonValue json = UpdateResultToJson(result);
  for (const auto& [key, text] : expected) {
    JsonValue value;
    ASSERT_TRUE(JsonValue::Parse(text, &value, nullptr)) << text;
    const JsonValue* actual = json.Find(key);
    ASSERT_NE(actual, nullptr) << key;
    EXPECT_EQ(*actual, value) << label << ": " << key << " is " << actual->Serialize(0);
  }
}

class UpdateServiceTest : public ::testing::Test {
 protected:
  UpdateServiceTest()
      : certificates_(testing::MakeThrowawayCertificates(folder_.path(), "trusted")),
        server_(certificates_.server_certificate, certificates_.server_key) {}

  // The check as the host runs it, trusting only the test's authority.
  UpdateResult Check(const std::string& url, const std::string& current = "1.0.4") {
    UpdateServiceOptions options{current, url, nullptr, folder_ / "logs"};
    std::string ca_bundle = certificates_.ca_certificate.string();
    options.fetch = [ca_bundle](const std::string& at, std::string* body, std::string* error) {
      return FetchUpdateManifest(at, body, error, ca_bundle);
    };
    UpdateResult result;
    EXPECT_TRUE(UpdateService(std::move(options)).CheckForUpdates(&result, nullptr));
    return result;
  }

  UpdateResult CheckServed(const std::string& body, const std::string& current = "1.0.4") {
    server_.Serve(kManifestPath, testing::CannedReply::Body(body));
    return Check(server_.Url(kManifestPath), current);
  }

  testing::TempFolder folder_;
  testing::ThrowawayCertificates certificates_;
  testing::LocalHttpsServer server_;
};

TEST_F(UpdateServiceTest, TheStatusFollowsTheVersions) {
  struct Case {
    std::map<std::string, std::string> changes;
    std::map<std::string, std::string> expected;
    std::string current = "1.0.4";
  };
  for (const Case& c : std::vector<Case>{
           {{},
            {{"check_status", R"("update_available")"}, {"update_available", "true"},
             {"update_required", "false"}, {"error_code", "null"}, {"error_message", "null"},
             {"current_version", R"("1.0.4")"}, {"latest_version", R"("1.0.5")"},
             {"published_at", R"("2025-01-02T03:04:05Z")"}, {"download_size_bytes", "1234"},
             {"sha256", R"("ab12")"}, {"min_supported_version", "null"},
             {"release_notes", R"(["Faster start", "Fixes"])"},
             {"update_level", R"("recommended")"}}},
           {{{"latest_version", R"("1.0.4")"}}, {{"check_status", R"("up_to_date")"}}},
           {{{"latest_version", R"("1.0.3")"}}, {{"check_status", R"("up_to_date")"}}},
           {{{"latest_version", R"("1.0.4-beta")"}}, {{"check_status", R"("up_to_date")"}}},
           {{{"latest_version", R"("1.0.4")"}, {"min_supported_version", R"("1.0.5")"}},
            {{"check_status", R"("update_required")"}, {"update_available", "true"},
             {"update_required", "true"}, {"min_supported_version", R"("1.0.5")"}}},
           {{{"latest_version", R"("1.0.6")"}, {"min_supported_version", R"("1.0.0")"}},
            {{"check_status", R"("update_available")"}, {"update_required", "false"}}},
           {{{"schema_version", "1.9"}}, {{"check_status", R"("update_available")"}}},
           {{{"download_size_bytes", "1e999"}},
            {{"check_status", R"("update_available")"},
             {"download_size_bytes", "9223372036854775807"}}},
           {{{"update_level", R"("CRITICAL")"}, {"release_notes", R"("  as it is ")"}},
            {{"update_level", R"("critical")"}, {"release_notes", R"("  as it is ")"}}},
           {{{"update_level", R"("")"}, {"release_notes", kAbsent}},
            {{"update_level", R"("optional")"}, {"release_notes", "null"}}},
           {{},
            {{"current_version", R"("0.0.0")"}, {"check_status", R"("update_available")"}},
            " "},
       }) {
    UpdateResult result = CheckServed(Manifest(c.changes), c.current);
    ExpectFields(result, c.expected, Manifest(c.changes));
  }
  std::string head = server_.request_heads().at(0);
  EXPECT_NE(head.find("\r\nUser-Agent: Ruzerad/1.0 UpdateClient\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nAccept: application/json\r\n"), std::string::npos) << head;
}

TEST_F(UpdateServiceTest, EachValidationFailureHasItsCodeAndKeepsWhatWasRead) {
  struct Case {
    std::string body;
    std::string code;
    std::map<std::string, std::string> expected;
    std::string current = "1.0.4";
  };
  for (const Case& c : std::vector<Case>{
           {Manifest({{"schema_version", "2"}}), "update_manifest_schema_unsupported",
            {{"latest_version", "null"}, {"update_level", R"("optional")"}}},
           {Manifest({{"schema_version", R"("1")"}}), "update_manifest_schema_unsupported", {}},
           {Manifest({{"schema_version", "1e999"}}), "update_manifest_schema_unsupported", {}},
           {Manifest({{"schema_version", kAbsent}}), "update_manifest_schema_unsupported", {}},
           {Manifest({{"app", R"("ruzerad")"}}), "update_manifest_wrong_app",
            {{"error_message", R"("Update manifest is not for Ruzerad")"}}},
           {Manifest({{"latest_version", R"("1.0")"}}), "update_manifest_invalid_version",
            {{"latest_version", R"("1.0")"}, {"download_url", "null"}}},
           {Manifest({{"download_url", R"("https://evil.example/downloads/x.zip")"}}),
            "update_manifest_invalid_download_url",
            {{"error_message", R"("Update download URL is not allowed")"},
             {"latest_version", R"("1.0.5")"},
             {"download_url", R"("https://evil.example/downloads/x.zip")"},
             {"published_at", "null"}}},
           {Manifest({{"download_size_bytes", "-1"}}), "update_manifest_invalid_size",
            {{"download_size_bytes", "-1"}, {"published_at", R"("2025-01-02T03:04:05Z")"},
             {"sha256", "null"}}},
           {Manifest({{"download_size_bytes", "-1e999"}}), "update_manifest_invalid_size", {}},
           {Manifest({{"update_level", R"("urgent")"}, {"min_supported_version", R"("1.0.0")"}}),
            "update_manifest_invalid_level",
            {{"update_level", R"("urgent")"}, {"sha256", R"("ab12")"},
             {"min_supported_version", R"("1.0.0")"},
             {"release_notes", R"(["Faster start", "Fixes"])"}}},
           {Manifest({{"min_supported_version", R"("soon")"}}),
            "update_manifest_invalid_min_supported_version",
            {{"latest_version", R"("1.0.5")"}, {"update_level", R"("recommended")"},
             {"min_supported_version", R"("soon")"}}},
           {"[]", "update_manifest_malformed",
            {{"error_message", R"("Update manifest was not valid JSON")"}}},
           {"{\"schema_version\": ", "update_manifest_malformed", {}},
           {Manifest(), "invalid_current_version",
            {{"error_message", R"("The current Ruzerad version is not valid SemVer")"},
             {"current_version", R"("v1")"}, {"latest_version", "null"}},
            "v1"},
       }) {
    UpdateResult result = CheckServed(c.body, c.current);
    EXPECT_EQ(result.check_status, "invalid_manifest") << c.body;
    EXPECT_EQ(result.error_code, c.code) << c.body;
    EXPECT_FALSE(result.error_message.empty()) << c.body;
    EXPECT_FALSE(result.update_available || result.update_required) << c.body;
    ExpectFields(result, c.expected, c.body);
  }
}

TEST_F(UpdateServiceTest, RefusedFetchesAreUnavailableWithTheReason) {
  std::string manifest = Manifest();
  std::string http_url = "http://127.0.0.1:" + std::to_string(server_.port()) + kManifestPath;
  struct Case {
    std::string path;
    testing::CannedReply reply;
    std::string status;
    std::string message_prefix;
    int connections;  // the redirected request included
  };
  for (const Case& c : std::vector<Case>{
           {"/missing.json", testing::CannedReply::Body(manifest, 404), "unavailable",
            "Update manifest returned HTTP 404", 1},
           {"/largest.json", Padded(manifest, kMaxUpdateManifestBytes),
            "update_available", "", 1},
           {"/too-large.json", Padded(manifest, kMaxUpdateManifestBytes + 1),
            "unavailable", "Update manifest is too large", 1},
           {"/moved.json", testing::CannedReply::Redirect(301, server_.Url(kManifestPath)),
            "update_available", "", 2},
           {"/downgraded.json", testing::CannedReply::Redirect(302, http_url), "unavailable",
            "curl_easy_perform failed", 1},
       }) {
    server_.Serve(kManifestPath, testing::CannedReply::Body(manifest));
    server_.Serve(c.path, c.reply);
    int before = server_.connections();
    UpdateResult result = Check(server_.Url(c.path));
    EXPECT_EQ(result.check_status, c.status) << c.path;
    EXPECT_EQ(result.error_code, c.message_prefix.empty() ? "" : "update_manifest_unavailable")
        << c.path;
    EXPECT_TRUE(result.error_message.starts_with(c.message_prefix)) << result.error_message;
    EXPECT_EQ(server_.connections() - before, c.connections) << c.path;
  }

  UpdateResult plain = Check(http_url);
  EXPECT_EQ(plain.error_message, "Update manifest URL must use https");
  EXPECT_NE(testing::ReadFile(folder_ / "logs/app.log")
                .find("[UpdateService] Update check failed (update_manifest_unavailable): "
                      "Update manifest returned HTTP 404"),
            std::string::npos)
      << "a failed check logs its reason";
}

TEST_F(UpdateServiceTest, CertificatesOfAnUnknownAuthorityAreRefused) {
  testing::ThrowawayCertificates other =
      testing::MakeThrowawayCertificates(folder_.path(), "other");
  testing::LocalHttpsServer impostor(other.server_certificate, other.server_key);
  impostor.Serve(kManifestPath, testing::CannedReply::Body(Manifest()));
  UpdateResult result = Check(impostor.Url(kManifestPath));
  EXPECT_EQ(result.check_status, "unavailable");
  EXPECT_TRUE(result.error_message.starts_with("curl_easy_perform failed")) << result.error_message;

  // As the host builds it: the system's store knows neither throwaway authority.
  server_.Serve(kManifestPath, testing::CannedReply::Body(Manifest()));
  UpdateResult system_store;
  UpdateService({"1.0.4", server_.Url(kManifestPath), nullptr, {}})
      .CheckForUpdates(&system_store, nullptr);
  EXPECT_EQ(system_store.check_status, "unavailable");
  EXPECT_EQ(system_store.error_code, "update_manifest_unavailable");
  EXPECT_TRUE(impostor.request_heads().empty() && server_.request_heads().empty())
      << "no request is sent before the certificate is trusted";
}

TEST_F(UpdateServiceTest, ASilentServerIsGivenUpOnAfterFiveSeconds) {
  testing::OccupiedLoopbackPort never_greets;  // accepts, but never starts the TLS handshake
  server_.Serve("/never.json", testing::CannedReply::Silent());
  for (const std::string& url :
       {"https://127.0.0.1:" + std::to_string(never_greets.port()) + kManifestPath,
        server_.Url("/never.json")}) {
    auto start = std::chrono::steady_clock::now();
    UpdateResult result = Check(url);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.check_status, "unavailable") << url;
    EXPECT_TRUE(result.error_message.starts_with("curl_easy_perform failed with error 28"))
        << result.error_message;
    EXPECT_LT(waited, std::chrono::seconds(9)) << url;
  }
}

}  // namespace
}  // namespace zennic

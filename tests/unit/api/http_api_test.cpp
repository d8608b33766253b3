// The router's gates, in their order, and its answers, without a socket in between.

#include "api/http_api.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "api/request_origin_checks.h"
#include "core/app_paths.h"
#include "model/runtime_state.h"
#include "support/temp_folder.h"
#include "api_answer.h"

namespace zennic {
namespace {

class HttpApiTest : public ::testing::Test {
 protected:
  HttpApiTest()
      : state_(SettingsStore(FillAppPaths(folder_.path()), {}, folder_ / "sounds")) {
    state_.SetSessionToken(testing::kSessionToken);
  }

  HttpApi Api(uint16_t port = 0) {
    HttpApiConfig config;
    config.runtime_state = &state_;
    config.session_cookie_name = "zennic_session";
    config.server_port = [port] { return port; };
    return HttpApi(std::move(config));
  }

  static HttpRequest Post(const std::string& path, std::map<std::string, std::string> headers = {},
                          std::string body = "") {
    HttpRequest request;
    request.method = "POST";
    request.path = path;
    request.headers = std::move(headers);
    request.body = std::move(body);
    return request;
  }

  static std::map<std::string, std::string> WithCookie(std::map<std::string, std::string> headers = {}) {
    headers["Cookie"] = std::string("zennic_session=") + testing::kSessionToken;
    return headers;
  }

  // The status and code of the answer, or -1 and "declined".
  static std::pair<int, std::string> Answer(HttpApi& api, const HttpRequest& request) {
    HttpResponse response;
    if (!api.HandleRequest(request, &response)) return {-1, "declined"};
    JsonValue body;
    EXPECT_TRUE(JsonValue::Parse(response.body, &body, nullptr)) << response.body;
    EXPECT_EQ(response.headers.at("Content-Type"), "application/json; charset=utf-8");
    return {response.status, body.GetString("code", "")};
  }

  testing::TempFolder folder_;
  RuntimeState state_;
};

TEST_F(HttpApiTest, OnlyPathsUnderTheWholePrefixAreTaken) {
  HttpApi api = Api();
  for (std::string path : {"/api/mixe", "/api/mixerx/status", "/api/other", "/", "/api/mixer"}) {
    EXPECT_EQ(Answer(api, Post(path, WithCookie())).second, "declined") << path;
  }
  EXPECT_EQ(Answer(api, Post("/api/mixer/", WithCookie())),
            std::make_pair(404, std::string("route_not_found")));
  EXPECT_FALSE(api.HandleRequest(Post("/api/mixer/status"), nullptr));
}

TEST_F(HttpApiTest, MethodGate) {
  HttpApi api = Api();
  HttpRequest request = Post("/api/mixer/status", WithCookie());
  for (std::string method : {"GET", "post", "PUT", "DELETE"}) {
    request.method = method;
    EXPECT_EQ(Answer(api, request), std::make_pair(405, std::string("method_not_allowed")))
        << method;
  }
  request.method = "DELETE";
  request.path = "/api/mixer/files/delete";
  EXPECT_NE(Answer(api, request).second, "method_not_allowed") << "DELETE passes for that one path";
}

TEST_F(HttpApiTest, GatesRunInOrderAndEachRefusesWithItsOwnCode) {
  HttpApiConfig no_state;
  no_state.session_cookie_name = "zennic_session";
  HttpApi without_state(std::move(no_state));
  EXPECT_EQ(Answer(without_state, Post("/api/mixer/status", {{"Origin", "http://evil.example"}})),
            std::make_pair(500, std::string("runtime_unavailable")));

  HttpApi api = Api();
  EXPECT_EQ(Answer(api, Post("/api/mixer/status", {{"Origin", "http://evil.example"}})),
            std::make_pair(403, std::string("origin_not_allowed")))
      << "the origin is judged before the cookie";
  EXPECT_EQ(Answer(api, Post("/api/mixer/status")),
            std::make_pair(403, std::string("session_required")));
  EXPECT_EQ(Answer(api, Post("/api/mixer/status", {{"Cookie", "zennic_session=wrong"}})).second,
            "session_required");
  EXPECT_EQ(Answer(api, Post("/api/mixer/status", WithCookie(), "[]")),
            std::make_pair(400, std::string("invalid_json")));
  EXPECT_EQ(Answer(api, Post("/api/mixer/status", WithCookie(), "{")).second, "invalid_json");
  EXPECT_EQ(Answer(api, Post("/api/mixer/status", WithCookie(), "")).first, 200)
      << "an empty body is an empty object";
  EXPECT_EQ(Answer(api, Post("/api/mixer/Status/", WithCookie(), "{}")).second, "route_not_found");
}

// The checks would see the whole text, the system only what comes before a NUL.
TEST_F(HttpApiTest, APathOrNameWithANulOrHalfACharacterIsRefusedBeforeTheRoute) {
  const std::filesystem::path root = folder_ / "sounds";
  std::filesystem::create_directories(root);
  ASSERT_TRUE(state_.MutateSettings(
      [&](MixerSettings& settings) {
        settings.profiles = {Profile{"main", "Main", root.string()}};
        settings.selected_profile_id = "main";
      },
      /*persist=*/false, nullptr));
  const std::string clip = (root / "m6.wav").string();
  testing::WriteFile(clip, "RIFF");
  const std::string settings_before = state_.GetSettings().file_path;
  HttpApi api = Api();
  for (const auto& [route, body, code] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"/api/mixer/files/delete", R"({"path": ")" + clip + R"(\u0000junk"})", "path_invalid"},
           {"/api/mixer/files/volume-health", R"({"paths": [")" + clip + R"(\u0000"]})", "path_invalid"},
           {"/api/mixer/settings/save", R"({"file_path": ")" + clip + R"(\u0000x"})", "path_invalid"},
           {"/api/mixer/profiles/upsert", R"({"profiles": [{"audio_dir": "a\u0000"}]})", "path_invalid"},
           {"/api/mixer/trim/export", R"({"original_filename": "a\u0000b"})", "path_invalid"},
           {"/api/mixer/files/delete", R"({"path": ")" + clip + R"(\ud800"})", "invalid_json"},
           {"/api/mixer/profiles/upsert", R"({"name": "\udc00"})", "invalid_json"},
       }) {
    EXPECT_EQ(Answer(api, Post(route, WithCookie(), body)), std::make_pair(400, code)) << body;
  }
  EXPECT_TRUE(std::filesystem::exists(clip));
  EXPECT_EQ(state_.GetSettings().file_path, settings_before);
}

TEST_F(HttpApiTest, BeforeTheFirstPageNoSessionExists) {
  state_.SetSessionToken("");
  HttpApi api = Api();
  EXPECT_EQ(Answer(api, Post("/api/mixer/status", {{"Cookie", "zennic_session="}})).second,
            "session_required");
}

TEST_F(HttpApiTest, TheHeadDecidesWhetherAndHowMuchBodyIsRead) {
  using Kind = HttpHeadVerdict::Kind;
  HttpApi api = Api();
  HttpRequest get = Post("/api/mixer/status", WithCookie());
  get.method = "GET";
  struct Case {
    HttpRequest head;
    Kind kind;
    size_t max_body_bytes;
  };
  for (const Case& c : std::vector<Case>{
           {Post("/api/mixer/status", WithCookie()), Kind::ReadBody, 1u << 20},
           // The Base64 of a 128 MiB clip, and 1 MiB for the rest.
           {Post("/api/mixer/trim/export", WithCookie()), Kind::ReadBody,
            (128u << 20) / 3 * 4 + 4 + (1u << 20)},
           {Post("/api/mixer/trim/export/", WithCookie()), Kind::ReadBody, 1u << 20},
           {Post("/api/mixer/status"), Kind::Answered, 0},
           {Post("/api/mixer/status", WithCookie({{"Origin", "null"}})), Kind::Answered, 0},
           {get, Kind::Answered, 0},
           {Post("/upload", WithCookie()), Kind::NotMine, 0},
       }) {
    HttpHeadVerdict verdict = api.DecideOnHead(c.head);
    EXPECT_EQ(verdict.kind, c.kind) << c.head.method << " " << c.head.path;
    EXPECT_EQ(verdict.max_body_bytes, c.max_body_bytes) << c.head.path;
  }
}

TEST_F(HttpApiTest, ARequestWhoseBodyWasSkippedNeverReachesARoute) {
  // Its head was refused; had the session begun in between, the gates would now pass it.
  HttpApi api = Api();
  HttpRequest skipped = Post("/api/mixer/status", WithCookie());
  skipped.body_skipped = true;
  EXPECT_EQ(Answer(api, skipped), std::make_pair(400, std::string("invalid_http_request")));
}

TEST_F(HttpApiTest, OriginAndRefererMustNameTheLocalClientOnTheActivePort) {
  struct Case {
    std::string origin;
    std::string referer;
    bool allowed;
  };
  for (const Case& c : std::vector<Case>{
           {"", "", true},
           {"  ", "\t", true},
           {"http://127.0.0.1:5000", "", true},
           {"HTTP://LOCALHOST:5000", "", true},
           {"http://127.0.0.1:5000/", "", false},
           {"null", "", false},
           {"https://127.0.0.1:5000", "", false},
           {"http://[::1]:5000", "", false},
           {"http://evil.example", "http://127.0.0.1:5000/", false},
           {"", "http://127.0.0.1:5000/play?x=1", true},
           {"", "http://127.0.0.1:5000", true},
           {"", "http://localhost:5000#top", true},
           {"", "http://127.0.0.1:50001/", false},
           {"", "http://127.0.0.1:5000.evil.example/", false},
           {"http://127.0.0.1:5000", "http://evil.example/", false},
       }) {
    HttpRequest request;
    if (!c.origin.empty()) request.headers["Origin"] = c.origin;
    if (!c.referer.empty()) request.headers["referer"] = c.referer;
    EXPECT_EQ(HttpApi::IsAllowedOrigin(request, 5000), c.allowed)
        << "Origin '" << c.origin << "', Referer '" << c.referer << "'";
  }
  EXPECT_EQ(HttpApi::AllowedOrigins(80),
            (std::vector<std::string>{"http://127.0.0.1:80", "http://localhost:80"}));
  EXPECT_TRUE(RefererHasAllowedOrigin("  http://localhost:80?  ", HttpApi::AllowedOrigins(80)));
}

TEST_F(HttpApiTest, AfterAPortFallbackOnlyTheBoundPortCounts) {
  HttpApi moved = Api(5123);
  EXPECT_EQ(Answer(moved, Post("/api/mixer/x", WithCookie({{"Origin", "http://127.0.0.1:5000"}}))).second,
            "origin_not_allowed");
  EXPECT_EQ(Answer(moved, Post("/api/mixer/x", WithCookie({{"Origin", "http://127.0.0.1:5123"}}))).second,
            "route_not_found");
  HttpApi unset = Api(0);
  EXPECT_EQ(Answer(unset, Post("/api/mixer/x", WithCookie({{"Origin", "http://127.0.0.1:5000"}}))).second,
            "route_not_found")
      << "no port known means 5000";
}

TEST(HttpApiExceptions, AVanishedPathIsAConflictAndAnythingElseAHandlerFailure) {
  auto answer = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return HttpApi::ExceptionResponse(std::current_exception());
    }
    return HttpResponse();
  };
  std::filesystem::filesystem_error gone("gone", std::make_error_code(std::errc::no_such_file_or_directory));
  HttpResponse vanished = answer([&] { throw gone; });
  JsonValue body;
  ASSERT_TRUE(JsonValue::Parse(vanished.body, &body, nullptr));
  EXPECT_EQ(vanished.status, 409);
  EXPECT_EQ(body.GetString("code", ""), "path_unavailable");
  EXPECT_EQ(body.GetString("error", ""),
            std::string("The selected file or folder is no longer available. Pick another location "
                        "and try again. ") +
                gone.what());

  HttpResponse failed = answer([] { throw std::runtime_error("boom"); });
  ASSERT_TRUE(JsonValue::Parse(failed.body, &body, nullptr));
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(body.GetString("code", ""), "handler_exception");
  EXPECT_EQ(body.GetString("error", ""), "boom");

  HttpResponse odd = answer([] { throw 42; });
  ASSERT_TRUE(JsonValue::Parse(odd.body, &body, nullptr));
  EXPECT_EQ(body.GetString("error", ""), "The local request handler failed unexpectedly");
  EXPECT_EQ(JsonValue::Parse(HttpApi::PathUnavailableResponse("").body, &body, nullptr), true);
  EXPECT_EQ(body.GetString("error", ""),
            "The selected file or folder is no longer available. Pick another location and try again.");
}

}  // namespace
}  // namespace zennic

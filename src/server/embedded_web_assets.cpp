#include "server/embedded_web_assets.h"

#include "model/runtime_state.h"
#include "core/text.h"
#include "server/embedded_asset_table.h"
#include "server/session_cookie.h"

namespace zennic {
namespace {

constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kDeriveFromExtension[] = "application/octet-stream";

bool IsPage(std::string_view path) { return path == "/" || path == "/guide" || path == "/play"; }

}  // namespace

std::string ContentTypeForPath(std::string_view path) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".html", kHtml},
      {".css", "text/css; charset=utf-8"},
      {".js", "application/javascript; charset=utf-8"},
      {".json", "application/json; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"},
  };
  std::string lower = ToLower(path);
  for (const auto& [ending, type] : kTypes) {
    if (lower.ends_with(ending)) return std::string(type);
  }
  return kDeriveFromExtension;
}

EmbeddedWebAssets::EmbeddedWebAssets(std::string cookie_name, RuntimeState* runtime_state)
    : cookie_name_(std::move(cookie_name)), runtime_state_(runtime_state) {}

bool EmbeddedWebAssets::Load(std::string*) {
  assets_.clear();
  for (const EmbeddedAsset& row : GetEmbeddedAssets()) {
    if (row.path == nullptr || row.content_type == nullptr || row.data == nullptr) continue;
    ServedAsset asset;
    std::string_view stored = row.content_type;
    if (IsPage(row.path)) {
      asset.content_type = kHtml;
    } else if (!stored.empty() && stored != kDeriveFromExtension) {
      asset.content_type = stored;
    } else {
      asset.content_type = ContentTypeForPath(row.path);
    }
    asset.body.assign(reinterpret_cast<const char*>(row.data), row.length);
    asset.no_store = row.no_store;
    assets_[row.path] = std::move(asset);
  }
  return true;
}

bool EmbeddedWebAssets::Serve(const HttpRequest& request, HttpResponse* response) const {
  if (response == nullptr || request.method != "GET") return false;
  if (request.path == "/help") {
    response->status = 302;
    response->headers["Location"] = "/guide";
    IssueSessionCookie(response);
    return true;
  }
  auto found = assets_.find(request.path);
  if (found != assets_.end()) {
    response->status = 200;
    response->headers["Content-Type"] = found->second.content_type;
    response->headers["Cache-Control"] = found->second.no_store ? "no-store" : "public, max-age=3600";
    response->body = found->second.body;
    IssueSessionCookie(response);
    return true;
  }
  if (IsPage(request.path) || request.path.starts_with("/assets/")) {
    response->status = 404;
    response->headers["Content-Type"] = "text/plain; charset=utf-8";
    response->body = "Not found";
    return true;
  }
  return false;
}

void EmbeddedWebAssets::IssueSessionCookie(HttpResponse* response) const {
  if (runtime_state_ == nullptr) return;
  // One step under the state's lock, so two first requests of a run cannot each make a token
  // and leave one page holding a cookie that no longer matches.
  std::string token = runtime_state_->GetOrCreateSessionToken(&GenerateSessionToken);
  if (!token.empty()) BuildSessionSetCookie(cookie_name_, token, response);
}

}  // namespace zennic

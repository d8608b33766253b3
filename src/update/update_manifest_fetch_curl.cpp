#include "update/update_manifest_fetch.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "update/parsed_url.h"

namespace zennic {
namespace {

constexpr char kUserAgent[] = "Ruzerad/1.0 UpdateClient";
constexpr long kConnectTimeoutMs = 5000;
// Below one byte a second for this long, in either direction, the transfer has stalled.
constexpr long kStallSeconds = 5;
constexpr long kMaxRedirects = 10;

struct CurlHandleCloser {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// What the body callback decided, read once the transfer has ended.
struct Transfer {
  CURL* handle = nullptr;
  std::string* body = nullptr;
  long refused_status = 0;
  bool too_large = false;
};

bool IsSuccessStatus(long status) { return status >= 200 && status <= 299; }

// The status is known before the first body byte: an error page is never taken for a
// manifest, nor counted against the size limit.
size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  size_t bytes = size * count;
  long status = 0;
  curl_easy_getinfo(transfer->handle, CURLINFO_RESPONSE_CODE, &status);
  if (!IsSuccessStatus(status)) {
    transfer->refused_status = status;
    return CURL_WRITEFUNC_ERROR;
  }
  if (transfer->body->size() + bytes > kMaxUpdateManifestBytes) {
    transfer->too_large = true;
    return CURL_WRITEFUNC_ERROR;
  }
  transfer->body->append(data, bytes);
  return bytes;
}

std::string FormatCurlError(const char* function, CURLcode code, const char* detail) {
  std::string text = std::string(function) + " failed with error " + std::to_string(code);
  std::string reason = detail[0] != '\0' ? detail : curl_easy_strerror(code);
  return text + ": " + reason;
}

bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

}  // namespace

bool FetchUpdateManifest(const std::string& url, std::string* body, std::string* error,
                         const std::string& ca_bundle) {
  if (body == nullptr) return Fail(error, "Fetch output pointer is null");
  body->clear();
  ParsedUrl parsed;
  std::string url_error;
  if (!ParseUrl(url, &parsed, &url_error)) return Fail(error, url_error);
  if (parsed.scheme != "https") return Fail(error, "Update manifest URL must use https");

  // Global set-up is not thread-safe in older libcurl: once, before any request thread uses it.
  static std::once_flag curl_ready;
  std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  std::unique_ptr<CURL, CurlHandleCloser> handle(curl_easy_init());
  if (!handle) return Fail(error, "curl_easy_init failed");
  std::unique_ptr<curl_slist, HeaderListCloser> headers(
      curl_slist_append(nullptr, "Accept: application/json"));
  if (!headers) return Fail(error, "curl_slist_append failed");

  // The address is rebuilt from what ParseUrl read, so curl connects to the host checked here.
  std::string target =
      "https://" + parsed.host + ":" + std::to_string(parsed.port) + parsed.path_and_query;
  Transfer transfer{handle.get(), body};
  char detail[CURL_ERROR_SIZE] = {};
  CURL* curl = handle.get();
  CURLcode code = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(curl, option, value);
  };
  set(CURLOPT_URL, target.c_str());
  // https only, also for every redirect: never a downgrade to plain http.
  set(CURLOPT_PROTOCOLS_STR, "https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!ca_bundle.empty()) {
    set(CURLOPT_CAINFO, ca_bundle.c_str());
    set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }
  set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  // Runs on request threads: time-outs must not use signals.
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_USERAGENT, kUserAgent);
  set(CURLOPT_HTTPHEADER, headers.get());
  set(CURLOPT_WRITEFUNCTION, ReceiveBody);
  set(CURLOPT_WRITEDATA, &transfer);
  set(CURLOPT_ERRORBUFFER, detail);
  if (code != CURLE_OK) return Fail(error, FormatCurlError("curl_easy_setopt", code, ""));

  code = curl_easy_perform(curl);
  long status = transfer.refused_status;
  if (code == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  std::string failure;
  if (transfer.too_large) {
    failure = "Update manifest is too large";
  } else if (status != 0 && !IsSuccessStatus(status)) {
    failure = "Update manifest returned HTTP " + std::to_string(status);
  } else if (code != CURLE_OK) {
    failure = FormatCurlError("curl_easy_perform", code, detail);
  }
  if (failure.empty()) return true;
  body->clear();
  return Fail(error, std::move(failure));
}

}  // namespace zennic

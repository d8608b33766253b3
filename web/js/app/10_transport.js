// Main page transport: the JSON request function with its per-route time-outs, the page fetch
// that establishes the session, and the text shown for a failed request.

var REQUEST_TIMEOUT_MS = 15000;
var REQUEST_RETRY_ATTEMPTS = 3;
var REQUEST_RETRY_DELAY_MS = 400;
var NORMALIZE_LONG_REQUEST_TIMEOUT_MS = 120000;
var VOLUME_HEALTH_REQUEST_TIMEOUT_MS = 120000;

// Routes that do not use 15000 ms x 3. Long file work is sent once: posting a conversion again
// while the first still runs would have two conversions write the same files.
var ROUTE_REQUEST_POLICIES = {
  "/api/mixer/update/check": { timeoutMs: 8000, retryAttempts: 1 },
  "/api/mixer/voice-test/record": { timeoutMs: 12000, retryAttempts: 1 },
  "/api/mixer/audio/self-test": { timeoutMs: 60000, retryAttempts: 1 },
  "/api/mixer/audio/use-recommended-cable": { timeoutMs: 15000, retryAttempts: 1 },
  "/api/mixer/audio/fix-windows-input": { timeoutMs: 15000, retryAttempts: 1 },
  "/api/mixer/files/merge": { timeoutMs: NORMALIZE_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/files/normalize": { timeoutMs: NORMALIZE_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/files/volume-health": { timeoutMs: VOLUME_HEALTH_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/analyze": { timeoutMs: NORMALIZE_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/convert": { timeoutMs: NORMALIZE_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  // Native pickers wait for the user.
  "/api/mixer/browse-folder": { timeoutMs: 0, retryAttempts: 1 },
  "/api/mixer/panic/browse-file": { timeoutMs: 0, retryAttempts: 1 }
};

function t(key, params, fallback) {
  return window.ZennicI18n ? window.ZennicI18n.t(key, params, fallback) : (fallback || "");
}

function readJsonAnswer(response) {
  if (!response) return Promise.resolve({ rawText: "", payload: {} });
  return response.text().then(function (rawText) {
    return { rawText: rawText, payload: parseAnswerText(rawText, response.status, true, t) };
  });
}

// POSTs a JSON body; resolves to {response, status, rawText, payload} and never rejects.
// options.timeoutMs: 0, negative or not finite waits without limit.
function postJson(path, body, options) {
  return sendJson("POST", path, body, options);
}

// The delete route, with the method Quick Play sends it with.
function deleteJson(path, body, options) {
  return sendJson("DELETE", path, body, options);
}

function sendJson(method, path, body, options) {
  var policy = ROUTE_REQUEST_POLICIES[path] || {};
  var opts = options || {};
  var timeoutMs = opts.timeoutMs !== undefined ? opts.timeoutMs
    : (policy.timeoutMs !== undefined ? policy.timeoutMs : REQUEST_TIMEOUT_MS);
  var attempts = opts.retryAttempts !== undefined ? opts.retryAttempts
    : (policy.retryAttempts !== undefined ? policy.retryAttempts : REQUEST_RETRY_ATTEMPTS);
  return requestWithRetry(path, {
    method: method,
    timeoutMs: Number.isFinite(timeoutMs) && timeoutMs > 0 ? timeoutMs : 0,
    attempts: Number.isFinite(attempts) ? Math.floor(attempts) : REQUEST_RETRY_ATTEMPTS,
    retryDelayMs: REQUEST_RETRY_DELAY_MS,
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body === undefined ? {} : body),
    readAnswer: readJsonAnswer,
    translate: t
  });
}

function fetchText(path) {
  return requestWithRetry(path, {
    method: "GET",
    timeoutMs: REQUEST_TIMEOUT_MS,
    attempts: REQUEST_RETRY_ATTEMPTS,
    retryDelayMs: REQUEST_RETRY_DELAY_MS,
    headers: { "Cache-Control": "no-store" },
    readAnswer: function (response) {
      return (response ? response.text() : Promise.resolve("")).then(function (text) {
        return { text: text };
      });
    },
    translate: t
  }).then(function (result) {
    if (result.response) return { ok: result.response.ok, status: result.status, text: result.text };
    return { ok: false, status: 0, text: "", error: result.payload.error, code: result.payload.code };
  });
}

// The text of a catalogue entry for a machine code, its placeholders filled from the failure's
// details; when one stays unfilled the server's own sentence is shown instead.
function describeCode(code, payload) {
  var details = payload.details && typeof payload.details === "object" ? payload.details : {};
  var fallback = typeof payload.error === "string" ? payload.error : "";
  var text = t("errors." + code, details, fallback);
  if (/\{\{[A-Za-z0-9_]+\}\}/.test(text) && fallback) text = fallback;
  return text;
}

function describeApiFailure(result, fallbackMessage) {
  if (!result) return fallbackMessage;
  var payload = result.payload || {};
  if (payload.error) {
    if (payload.code) return describeCode(String(payload.code), payload) + " (" + payload.code + ")";
    return String(payload.error);
  }
  if (result.response) return fallbackMessage + " (HTTP " + result.status + ")";
  return fallbackMessage;
}

// GETs the page itself so the server sets the session cookie that every API request carries.
function ensureSessionEstablished() {
  var path = window.location.pathname || "/";
  return fetchText(path).then(function (result) {
    if (result.ok) return;
    var message = "Session bootstrap failed with HTTP " + result.status;
    if (result.code === "request_timeout") message = t("errors.session_timeout", { attempts: REQUEST_RETRY_ATTEMPTS });
    else if (result.code) message = t("errors.session_network_error", { attempts: REQUEST_RETRY_ATTEMPTS });
    throw new Error([
      "step: session_bootstrap",
      "message: " + message,
      "http_status: " + result.status,
      "response_body:",
      result.text.slice(0, DISPLAY_TEXT_LIMIT)
    ].join("\n"));
  });
}

// Quick Play transport: the same request loop as the main page, with Quick Play's option rules
// (no unlimited wait), a DELETE and a binary variant, and the session fetch of "/play".

var PLAY_REQUEST_TIMEOUT_MS = 15000;
var PLAY_REQUEST_RETRY_ATTEMPTS = 3;
var PLAY_REQUEST_RETRY_DELAY_MS = 400;
var PLAY_LONG_REQUEST_TIMEOUT_MS = 120000;

// Routes that do not use 15000 ms x 3. Long file work is sent once: posting a conversion again
// while the first still runs would have two conversions write the same files.
var PLAY_ROUTE_REQUEST_POLICIES = {
  "/api/mixer/files/merge": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/files/normalize": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/files/volume-health": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/trim/source": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/trim/export": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/analyze": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 },
  "/api/mixer/convert": { timeoutMs: PLAY_LONG_REQUEST_TIMEOUT_MS, retryAttempts: 1 }
};

function playT(key, params, fallback) {
  return window.ZennicI18n ? window.ZennicI18n.t(key, params, fallback) : (fallback || "");
}

function playOption(value, policyValue, accept, fallback) {
  if (value !== undefined && accept(value)) return value;
  return policyValue !== undefined ? policyValue : fallback;
}

function playRequestConfig(method, path, body, options) {
  var policy = PLAY_ROUTE_REQUEST_POLICIES[path] || {};
  var opts = options || {};
  var isPositive = function (value) { return Number.isFinite(value) && value > 0; };
  return {
    method: method,
    timeoutMs: playOption(opts.timeoutMs, policy.timeoutMs, isPositive, PLAY_REQUEST_TIMEOUT_MS),
    attempts: Math.floor(playOption(opts.retryAttempts, policy.retryAttempts, isPositive, PLAY_REQUEST_RETRY_ATTEMPTS)),
    retryDelayMs: playOption(opts.retryDelayMs, undefined, function (value) {
      return Number.isFinite(value) && value >= 0;
    }, PLAY_REQUEST_RETRY_DELAY_MS),
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body === undefined ? {} : body),
    readAnswer: playReadJsonAnswer,
    retryUnreadableAnswer: true,
    translate: playT
  };
}

function playReadJsonAnswer(response) {
  return response.text().then(function (rawText) {
    return { rawText: rawText, payload: parseAnswerText(rawText, response.status, false, playT) };
  });
}

function playPostJson(path, body, options) {
  return requestWithRetry(path, playRequestConfig("POST", path, body, options));
}

function playDeleteJson(path, body, options) {
  return requestWithRetry(path, playRequestConfig("DELETE", path, body, options));
}

// A 2xx answer that is not JSON is the file's bytes; anything else is read like playPostJson.
function playPostBinary(path, body, options) {
  var config = playRequestConfig("POST", path, body, options);
  config.readAnswer = function (response) {
    var type = String(response.headers.get("Content-Type") || "").toLowerCase();
    if (response.ok && type.indexOf("application/json") < 0) {
      return response.arrayBuffer().then(function (buffer) {
        return { rawText: "", payload: { ok: true }, arrayBuffer: buffer };
      });
    }
    return playReadJsonAnswer(response).then(function (partial) {
      partial.arrayBuffer = null;
      return partial;
    });
  };
  return requestWithRetry(path, config);
}

function playFetchText(path) {
  var config = playRequestConfig("GET", path, undefined, {});
  config.headers = { "Cache-Control": "no-store" };
  delete config.body;
  config.readAnswer = function (response) {
    return response.text().then(function (text) { return { text: text }; });
  };
  return requestWithRetry(path, config).then(function (result) {
    if (result.response) return { ok: result.response.ok, status: result.status, text: result.text };
    return { ok: false, status: 0, text: "", error: result.payload.error, code: result.payload.code };
  });
}

function playDescribeFailure(result, fallbackMessage) {
  if (!result) return fallbackMessage;
  var payload = result.payload || {};
  if (payload.error) {
    if (!payload.code) return String(payload.error);
    var details = payload.details && typeof payload.details === "object" ? payload.details : {};
    var text = playT("errors." + payload.code, details, String(payload.error));
    // A placeholder the failure did not fill would show raw; the server's sentence is whole.
    if (/\{\{[A-Za-z0-9_]+\}\}/.test(text)) text = String(payload.error);
    return text + " (" + payload.code + ")";
  }
  if (result.status) return fallbackMessage + " (HTTP " + result.status + ")";
  return fallbackMessage;
}

function playEnsureSession() {
  return playFetchText("/play").then(function (result) {
    if (result.ok) return;
    var detail = result.text;
    if (result.code === "request_timeout") detail = playT("errors.session_timeout", { attempts: PLAY_REQUEST_RETRY_ATTEMPTS });
    else if (result.code) detail = playT("errors.session_network_error", { attempts: PLAY_REQUEST_RETRY_ATTEMPTS });
    throw new Error(playT("errors.session_required") + " (HTTP " + result.status + ")\n" + detail);
  });
}

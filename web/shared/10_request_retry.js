// The request loop both pages share: one attempt after another with a time-out of their own,
// a growing pause between attempts, and a result object instead of an exception. Only a request
// that got no answer (network failure or time-out) is tried again; an HTTP error is final.

var DISPLAY_TEXT_LIMIT = 4000;

// A long server text (a body, a stack) is cut so the page stays readable.
function cutDisplayText(text) {
  var value = String(text == null ? "" : text);
  if (value.length <= DISPLAY_TEXT_LIMIT) return value;
  var cut = value.length - DISPLAY_TEXT_LIMIT;
  return value.slice(0, DISPLAY_TEXT_LIMIT) + "\n\n[truncated " + cut + " characters]";
}

function waitMs(ms) {
  return new Promise(function (resolve) { window.setTimeout(resolve, ms); });
}

// The failure payload made up when no answer arrived; "details" carries what its text needs.
function noAnswerPayload(code, attempts, translate) {
  var params = { attempts: attempts };
  return { ok: false, code: code, error: translate("errors." + code, params), details: params };
}

function parseAnswerText(rawText, status, withStatus, translate) {
  if (rawText === "") return {};
  try {
    return JSON.parse(rawText);
  } catch (ignored) {
    var payload = { ok: false, code: "invalid_response", error: translate("errors.invalid_response"), raw_body: rawText };
    if (withStatus) payload.http_status = status;
    return payload;
  }
}

// config: method, timeoutMs (0: none), attempts, retryDelayMs, headers, body (text or undefined),
// keepalive, readAnswer(response) -> Promise of a partial result (throws when unreadable),
// retryUnreadableAnswer, translate(key, params).
function requestWithRetry(path, config) {
  var attempts = Math.max(1, config.attempts);
  function attempt(number) {
    var controller = config.timeoutMs > 0 && typeof AbortController === "function" ? new AbortController() : null;
    var timer = controller ? window.setTimeout(function () { controller.abort(); }, config.timeoutMs) : 0;
    var init = { method: config.method, credentials: "same-origin", cache: "no-store", headers: config.headers || {} };
    if (config.body !== undefined) init.body = config.body;
    if (controller) init.signal = controller.signal;
    var answered = null;
    return fetch(path, init).then(function (response) {
      answered = response;
      return config.readAnswer(response);
    }).then(function (partial) {
      window.clearTimeout(timer);
      partial.response = answered;
      partial.status = answered.status;
      return partial;
    }, function (error) {
      window.clearTimeout(timer);
      if (answered && !config.retryUnreadableAnswer) {
        return config.readAnswer(null).then(function (partial) {
          partial.response = answered;
          partial.status = answered.status;
          return partial;
        });
      }
      var code = error && error.name === "AbortError" ? "request_timeout" : "network_error";
      if (number < attempts) {
        return waitMs(config.retryDelayMs * number).then(function () { return attempt(number + 1); });
      }
      return { response: null, status: 0, rawText: "", payload: noAnswerPayload(code, attempts, config.translate) };
    });
  }
  return attempt(1);
}

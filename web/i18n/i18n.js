// Localisation runtime shared by every page: language choice, catalogue loading with English
// underneath, element marks, placeholder lookup and the tooltip manager that replaces the
// browser's own title tooltips.
(function initializeRuzeradI18n() {
  "use strict";

  var STORAGE_KEY = "zennic.ui_language";
  var TOOLTIP_DELAY_MS = 300;
  var TOOLTIP_MARGIN_PX = 12;
  var TOOLTIP_OFFSET_PX = 14;

  var LANGUAGES = [
    { code: "en", name: "English" },
    { code: "de", name: "Deutsch" },
    { code: "fr", name: "Français" },
    { code: "ko", name: "한국어" },
    { code: "nl", name: "Nederlands" },
    { code: "sv", name: "Svenska" },
    { code: "it", name: "Italiano" },
    { code: "es", name: "Español" },
    { code: "pt", name: "Português" },
    { code: "pt-BR", name: "Português (Brasil)" },
    { code: "hr", name: "Hrvatski" },
    { code: "pl", name: "Polski" },
    { code: "cs", name: "Čeština" },
    { code: "sk", name: "Slovenčina" },
    { code: "ru", name: "Русский" },
    { code: "zh-CN", name: "简体中文" },
    { code: "ja", name: "日本語" },
    { code: "tr", name: "Türkçe" },
    { code: "uk", name: "Українська" },
    { code: "hu", name: "Magyar" },
    { code: "ro", name: "Română" },
    { code: "zh-TW", name: "繁體中文" },
    { code: "da", name: "Dansk" },
    { code: "fi", name: "Suomi" },
    { code: "no", name: "Norsk" },
    { code: "el", name: "Ελληνικά" }
  ];

  // Mark attribute -> how the looked-up text is applied.
  var MARKS = [
    ["data-i18n", function (element, text) { element.textContent = text; }],
    ["data-i18n-html", function (element, text) { element.innerHTML = text; }],
    ["data-i18n-placeholder", function (element, text) { element.setAttribute("placeholder", text); }],
    ["data-i18n-title", setTooltipText],
    ["data-i18n-tooltip", setTooltipText],
    ["data-i18n-aria-label", function (element, text) { element.setAttribute("aria-label", text); }],
    ["data-i18n-alt", function (element, text) { element.setAttribute("alt", text); }]
  ];

  var TOOLTIP_TARGETS = [
    "[data-tooltip]", "[title]", "button[aria-label]", "a[aria-label]", "input[aria-label]",
    "select[aria-label]", "textarea[aria-label]", '[role="button"][aria-label]',
    '[role="tab"][aria-label]', "[tabindex][aria-label]"
  ].join(",");

  var catalogueCache = {};
  var pendingLoads = {};
  var englishStrings = {};
  var activeStrings = {};
  var currentCode = "en";
  var listeners = [];
  var tooltip = { element: null, target: null, x: 0, y: 0, mode: "pointer", timer: 0 };

  function normalizeLanguageCode(input) {
    var code = String(input == null ? "" : input).trim().replace(/_/g, "-").toLowerCase();
    if (!code) return "en";
    if (code === "pt-br") return "pt-BR";
    if (code === "zh-cn" || code === "zh-sg") return "zh-CN";
    if (code === "zh-tw" || code === "zh-hk" || code === "zh-mo") return "zh-TW";
    if (code === "nb" || code === "nn") return "no";
    var exact = findLanguage(code);
    if (exact) return exact;
    var primary = findLanguage(code.split("-")[0]);
    return primary || "en";
  }

  function findLanguage(lowerCode) {
    for (var i = 0; i < LANGUAGES.length; i += 1) {
      if (LANGUAGES[i].code.toLowerCase() === lowerCode) return LANGUAGES[i].code;
    }
    return "";
  }

  function loadCatalogue(code) {
    if (Object.prototype.hasOwnProperty.call(catalogueCache, code)) {
      return Promise.resolve(catalogueCache[code]);
    }
    // Two switches in quick succession share one fetch.
    if (pendingLoads[code]) return pendingLoads[code];
    pendingLoads[code] = fetch("/assets/i18n/" + code + ".json", { credentials: "same-origin", cache: "no-store" })
      .then(function (response) {
        if (!response.ok) throw new Error("HTTP " + response.status);
        return response.json();
      })
      .then(function (value) {
        return value && typeof value === "object" && !Array.isArray(value) ? value : {};
      })
      .catch(function () {
        console.warn("[Ruzerad i18n] Failed to load " + code + ".json, falling back to English.");
        return {};
      })
      .then(function (catalogue) {
        catalogueCache[code] = catalogue;
        delete pendingLoads[code];
        return catalogue;
      });
    return pendingLoads[code];
  }

  function readStoredCode() {
    try {
      return window.localStorage.getItem(STORAGE_KEY) || "";
    } catch (ignored) {
      return "";
    }
  }

  function storeCode(code) {
    try {
      window.localStorage.setItem(STORAGE_KEY, code);
    } catch (ignored) {
      // Storage may be refused (private mode, overlay browsers); the settings keep the choice.
    }
  }

  function setLanguage(input, options) {
    var persist = !(options && options.persist === false);
    var code = normalizeLanguageCode(input);
    return loadCatalogue("en").then(function (english) {
      englishStrings = english;
      if (code === "en") return english;
      return loadCatalogue(code).then(function (chosen) {
        var merged = Object.assign({}, english);
        Object.keys(chosen).forEach(function (key) { merged[key] = chosen[key]; });
        return merged;
      });
    }).then(function (strings) {
      activeStrings = strings;
      currentCode = code;
      if (persist) storeCode(code);
      applyTranslations(document);
      listeners.slice().forEach(function (listener) {
        try {
          listener(code);
        } catch (ignored) {
          // One broken listener must not keep the others from redrawing.
        }
      });
      return code;
    });
  }

  function init(options) {
    var opts = options || {};
    var code = opts.language || readStoredCode() || "en";
    return setLanguage(code, { persist: opts.persist !== false });
  }

  function lookup(key) {
    var active = activeStrings[key];
    if (typeof active === "string" && active !== "") return active;
    var english = englishStrings[key];
    if (typeof english === "string" && english !== "") return english;
    return null;
  }

  function fillPlaceholders(text, params) {
    if (!params) return text;
    var result = text;
    Object.keys(params).forEach(function (name) {
      var value = params[name] == null ? "" : String(params[name]);
      result = result.split("{{" + name + "}}").join(value);
    });
    return result;
  }

  function t(key, params, fallback) {
    var text = lookup(key);
    if (text === null) text = typeof fallback === "string" ? fallback : "";
    return fillPlaceholders(text, params);
  }

  function setTooltipText(element, text) {
    element.setAttribute("data-tooltip", text);
    element.removeAttribute("title");
  }

  function applyTranslations(root) {
    var scope = root || document;
    MARKS.forEach(function (mark) {
      var attribute = mark[0];
      var apply = mark[1];
      scope.querySelectorAll("[" + attribute + "]").forEach(function (element) {
        apply(element, t(element.getAttribute(attribute)));
      });
    });
    scope.querySelectorAll("[title]").forEach(adoptTitle);
    if (tooltip.element && tooltip.target && tooltip.element.classList.contains("is-visible")) {
      tooltip.element.textContent = tooltipText(tooltip.target);
    }
    if (scope === document) document.documentElement.setAttribute("lang", currentCode);
  }

  // Moves a title into data-tooltip so the browser's own tooltip never shows.
  function adoptTitle(element) {
    var title = element.getAttribute("title");
    if (title === null) return;
    if (!element.getAttribute("data-tooltip")) element.setAttribute("data-tooltip", title);
    element.dataset.znNativeTitle = title;
    element.removeAttribute("title");
  }

  function tooltipText(element) {
    var text = element.getAttribute("data-tooltip") || element.getAttribute("title") ||
      element.getAttribute("aria-label") || "";
    return text.trim();
  }

  function findTarget(node) {
    var element = node && node.nodeType === 1 ? node : node && node.parentElement;
    while (element && element.closest) {
      var candidate = element.closest(TOOLTIP_TARGETS);
      if (!candidate) return null;
      adoptTitle(candidate);
      if (document.contains(candidate) && tooltipText(candidate)) return candidate;
      element = candidate.parentElement;
    }
    return null;
  }

  function tooltipElement() {
    if (!tooltip.element) {
      tooltip.element = document.createElement("div");
      tooltip.element.className = "zn-tooltip";
      tooltip.element.setAttribute("role", "tooltip");
      tooltip.element.setAttribute("aria-hidden", "true");
      document.body.appendChild(tooltip.element);
    }
    return tooltip.element;
  }

  function hideTooltip() {
    window.clearTimeout(tooltip.timer);
    tooltip.timer = 0;
    tooltip.target = null;
    if (tooltip.element) {
      tooltip.element.classList.remove("is-visible");
      tooltip.element.setAttribute("aria-hidden", "true");
    }
  }

  function armTooltip(target, mode) {
    hideTooltip();
    tooltip.target = target;
    tooltip.mode = mode;
    tooltip.timer = window.setTimeout(function () {
      tooltip.timer = 0;
      if (!tooltip.target || !document.contains(tooltip.target)) return;
      var element = tooltipElement();
      element.textContent = tooltipText(tooltip.target);
      element.setAttribute("aria-hidden", "false");
      element.classList.add("is-visible");
      positionTooltip();
    }, TOOLTIP_DELAY_MS);
  }

  function clamp(value, low, high) {
    return Math.max(low, Math.min(value, Math.max(low, high)));
  }

  function positionTooltip() {
    var element = tooltip.element;
    if (!element || !tooltip.target) return;
    var width = element.offsetWidth;
    var height = element.offsetHeight;
    var viewWidth = window.innerWidth;
    var viewHeight = window.innerHeight;
    var left;
    var top;
    if (tooltip.mode === "pointer") {
      left = tooltip.x + TOOLTIP_OFFSET_PX;
      top = tooltip.y + TOOLTIP_OFFSET_PX;
      if (top + height > viewHeight - TOOLTIP_MARGIN_PX) top = tooltip.y - TOOLTIP_OFFSET_PX - height;
    } else {
      var box = tooltip.target.getBoundingClientRect();
      left = box.left + box.width / 2 - width / 2;
      top = box.top - TOOLTIP_OFFSET_PX - height;
      if (top < TOOLTIP_MARGIN_PX) top = box.bottom + TOOLTIP_OFFSET_PX;
    }
    left = clamp(left, TOOLTIP_MARGIN_PX, viewWidth - TOOLTIP_MARGIN_PX - width);
    top = clamp(top, TOOLTIP_MARGIN_PX, viewHeight - TOOLTIP_MARGIN_PX - height);
    element.style.left = Math.round(left) + "px";
    element.style.top = Math.round(top) + "px";
  }

  function installTooltipManager() {
    document.addEventListener("pointerover", function (event) {
      var target = findTarget(event.target);
      tooltip.x = event.clientX;
      tooltip.y = event.clientY;
      if (target && target !== tooltip.target) armTooltip(target, "pointer");
    }, true);
    document.addEventListener("pointermove", function (event) {
      tooltip.x = event.clientX;
      tooltip.y = event.clientY;
      if (tooltip.mode === "pointer" && tooltip.element && tooltip.element.classList.contains("is-visible")) {
        positionTooltip();
      }
    }, true);
    document.addEventListener("pointerout", function (event) {
      if (!tooltip.target || tooltip.mode !== "pointer") return;
      var next = event.relatedTarget;
      if (!next || !tooltip.target.contains(next)) hideTooltip();
    }, true);
    document.addEventListener("focusin", function (event) {
      var target = findTarget(event.target);
      if (target) armTooltip(target, "focus");
    });
    document.addEventListener("focusout", function () {
      if (tooltip.mode === "focus") hideTooltip();
    });
    document.addEventListener("click", hideTooltip, true);
    document.addEventListener("keydown", function (event) {
      if (event.key === "Escape") hideTooltip();
    }, true);
    window.addEventListener("scroll", hideTooltip, true);
    window.addEventListener("blur", hideTooltip);
  }

  installTooltipManager();

  window.ZennicI18n = {
    init: init,
    setLanguage: setLanguage,
    applyTranslations: applyTranslations,
    t: t,
    onChange: function (listener) {
      if (typeof listener === "function") listeners.push(listener);
    },
    normalizeLanguageCode: normalizeLanguageCode,
    getCurrentLanguage: function () { return currentCode; },
    getSupportedLanguages: function () {
      return LANGUAGES.map(function (language) { return { code: language.code, name: language.name }; });
    },
    STORAGE_KEY: STORAGE_KEY
  };
})();

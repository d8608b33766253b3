(function () {
  "use strict";

  var STORAGE_KEYS = { lastGame: "zennic.guide.v1.last_game" };

  function pageAddress() {
    var origin = window.location.origin;
    return origin && origin.indexOf("http") === 0 ? origin : "http://127.0.0.1:5000";
  }

  function showAddress() {
    var address = pageAddress();
    var field = document.getElementById("copyLocalhostText");
    if (field) field.value = address;
    ["guideFirstUseUrl", "guideBrowserUrl"].forEach(function (id) {
      var element = document.getElementById(id);
      if (element) element.textContent = address;
    });
  }

  function activateTab(group, tabId) {
    document.querySelectorAll('[data-guide-tab="' + group + '"]').forEach(function (button) {
      button.classList.toggle("is-active", button.getAttribute("data-tab-target") === tabId);
    });
    document.querySelectorAll('[data-tab-panel="' + group + '"]').forEach(function (panel) {
      panel.classList.toggle("is-active", panel.getAttribute("data-tab-id") === tabId);
    });
    if (group === "games") {
      try { window.localStorage.setItem(STORAGE_KEYS.lastGame, tabId); } catch (ignored) {}
    }
  }

  function storedGame() {
    try { return window.localStorage.getItem(STORAGE_KEYS.lastGame) || "cs2"; } catch (ignored) { return "cs2"; }
  }

  function setCopyStatus(text) {
    var status = document.getElementById("guideCopyStatus");
    if (status) status.textContent = text;
  }

  function copyField(field) {
    var text = field ? field.value : "";
    if (!text) return Promise.reject(new Error("empty"));
    if (navigator.clipboard && navigator.clipboard.writeText) return navigator.clipboard.writeText(text);
    field.select();
    return document.execCommand("copy") ? Promise.resolve() : Promise.reject(new Error("copy"));
  }

  function guideT(key, params, fallback) {
    return window.ZennicI18n ? window.ZennicI18n.t(key, params, fallback) : (fallback || "");
  }

  document.addEventListener("DOMContentLoaded", function () {
    // The guide keeps the stored language; a failed catalogue still leaves a working page.
    if (window.ZennicI18n) window.ZennicI18n.init({ persist: false }).catch(function () {});
    showAddress();
    document.querySelectorAll("[data-guide-tab]").forEach(function (button) {
      button.addEventListener("click", function () {
        activateTab(button.getAttribute("data-guide-tab"), button.getAttribute("data-tab-target"));
      });
    });
    activateTab("windows", "win10");
    var game = storedGame();
    if (!document.querySelector('[data-guide-tab="games"][data-tab-target="' + game + '"]')) game = "cs2";
    activateTab("games", game);

    document.querySelectorAll("[data-copy-target]").forEach(function (button) {
      button.addEventListener("click", function () {
        copyField(document.getElementById(button.getAttribute("data-copy-target"))).then(
          function () { setCopyStatus(guideT("guide.quick_copy.copy_status_copied", null, "Copied.")); },
          function () { setCopyStatus(guideT("guide.quick_copy.copy_status_failed", null, "Copy failed.")); });
      });
    });
  });
})();

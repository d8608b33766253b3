(function () {
  "use strict";

  var STORAGE_KEYS = { lastGame: "zennic.guide.v1.last_game" };
  var DEFAULT_GAME = "cs2";

  function guideT(key, params, fallback) {
    return window.ZennicI18n ? window.ZennicI18n.t(key, params, fallback) : (fallback || "");
  }

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
      var active = button.getAttribute("data-tab-target") === tabId;
      button.classList.toggle("is-active", active);
      button.setAttribute("aria-selected", active ? "true" : "false");
    });
    document.querySelectorAll('[data-tab-panel="' + group + '"]').forEach(function (panel) {
      panel.classList.toggle("is-active", panel.getAttribute("data-tab-id") === tabId);
    });
    if (group === "games") {
      try { window.localStorage.setItem(STORAGE_KEYS.lastGame, tabId); } catch (ignored) {}
    }
  }

  function storedGame() {
    var game = DEFAULT_GAME;
    try { game = window.localStorage.getItem(STORAGE_KEYS.lastGame) || DEFAULT_GAME; } catch (ignored) {}
    // A stored id that no tab carries (an older page, a hand-edited store) falls back to the first.
    return document.querySelector('[data-guide-tab="games"][data-tab-target="' + game + '"]') ? game : DEFAULT_GAME;
  }

  function copyField(field) {
    var text = field ? field.value : "";
    if (!text) return Promise.reject(new Error("empty"));
    if (navigator.clipboard && navigator.clipboard.writeText) return navigator.clipboard.writeText(text);
    field.select();
    return document.execCommand("copy") ? Promise.resolve() : Promise.reject(new Error("copy"));
  }

  function wireCopyButtons() {
    var status = document.getElementById("guideCopyStatus");
    document.querySelectorAll("[data-copy-target]").forEach(function (button) {
      button.addEventListener("click", function () {
        var field = document.getElementById(button.getAttribute("data-copy-target"));
        var copied;
        try { copied = copyField(field); } catch (error) { copied = Promise.reject(error); }
        copied.then(function () {
          status.textContent = guideT("guide.quick_copy.copy_status_copied");
        }, function () {
          status.textContent = guideT("guide.quick_copy.copy_status_failed");
        });
      });
    });
  }

  var lightbox = { opener: null };

  function openLightbox(button) {
    var image = button.querySelector("img");
    var figure = button.closest("figure");
    var caption = figure ? figure.querySelector("figcaption") : null;
    var alt = image ? image.getAttribute("alt") || "" : "";
    var box = document.getElementById("guideLightbox");
    var shown = document.getElementById("guideLightboxImage");
    shown.src = image ? image.currentSrc || image.src : "";
    shown.alt = alt;
    document.getElementById("guideLightboxCaption").textContent = (caption ? caption.textContent.trim() : "") || alt;
    lightbox.opener = button;
    box.hidden = false;
    document.body.classList.add("guide-lightbox-open");
    document.getElementById("guideLightboxClose").focus();
  }

  function closeLightbox() {
    var box = document.getElementById("guideLightbox");
    if (box.hidden) return;
    box.hidden = true;
    var shown = document.getElementById("guideLightboxImage");
    shown.removeAttribute("src");
    shown.alt = "";
    document.getElementById("guideLightboxCaption").textContent = "";
    document.body.classList.remove("guide-lightbox-open");
    var opener = lightbox.opener;
    lightbox.opener = null;
    if (opener) opener.focus();
  }

  function wireLightbox() {
    document.querySelectorAll("[data-guide-lightbox]").forEach(function (button) {
      button.addEventListener("click", function () { openLightbox(button); });
    });
    document.getElementById("guideLightboxClose").addEventListener("click", closeLightbox);
    document.querySelectorAll("[data-guide-lightbox-close]").forEach(function (element) {
      element.addEventListener("click", closeLightbox);
    });
    document.addEventListener("keydown", function (event) {
      if (document.getElementById("guideLightbox").hidden) return;
      if (event.key === "Escape") {
        event.preventDefault();
        closeLightbox();
      } else if (event.key === "Tab") {
        // The close button is the dialog's only control: focus never leaves it while open.
        event.preventDefault();
        document.getElementById("guideLightboxClose").focus();
      }
    });
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
    activateTab("games", storedGame());
    wireCopyButtons();
    wireLightbox();
  });
})();

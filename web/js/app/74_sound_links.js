// Sound links: the player's short list of sound web sites, edited here and saved whole.

Object.assign(state, {
  soundLinks: [],
  selectedSoundLinkId: "",
  soundLinkEditingNew: false,
  soundLinksBusy: false
});

var SOUND_LINK_URL = /^https?:\/\/\S+$/i;
// A status poll already on its way when a save ended carries the list from before the save.
var soundLinksStatusStale = false;

function isSoundLinkUrl(url) {
  return SOUND_LINK_URL.test(String(url || "").trim());
}

// Keeps the links that can be shown and opened; true when the list changed.
function takeSoundLinks(links) {
  var usable = (Array.isArray(links) ? links : []).filter(function (link) {
    return link && typeof link.id === "string" && link.id !== "" && typeof link.url === "string" && link.url !== "";
  }).map(function (link) {
    return { id: link.id, name: typeof link.name === "string" ? link.name : "", url: link.url };
  });
  var changed = JSON.stringify(usable) !== JSON.stringify(state.soundLinks);
  state.soundLinks = usable;
  return changed;
}

function chosenSoundLink() {
  if (state.soundLinkEditingNew) return null;
  return state.soundLinks.find(function (link) { return link.id === state.selectedSoundLinkId; }) || null;
}

function soundLinkOption(value, text) {
  var option = document.createElement("option");
  option.value = value;
  option.textContent = text;
  return option;
}

function renderSoundLinks() {
  var select = byId("soundLinkSel");
  select.textContent = "";
  if (state.soundLinkEditingNew) select.appendChild(soundLinkOption("", t("sound_links.new")));
  else if (state.soundLinks.length === 0) select.appendChild(soundLinkOption("", t("sound_links.empty")));
  else if (!chosenSoundLink()) state.selectedSoundLinkId = state.soundLinks[0].id;
  state.soundLinks.forEach(function (link) { select.appendChild(soundLinkOption(link.id, link.name || link.url)); });
  select.value = state.soundLinkEditingNew ? "" : state.selectedSoundLinkId;

  var chosen = chosenSoundLink();
  var nameInput = byId("soundLinkNameInput");
  var urlInput = byId("soundLinkUrlInput");
  var typing = document.activeElement === nameInput || document.activeElement === urlInput;
  if (!state.soundLinkEditingNew && !typing) {
    nameInput.value = chosen ? chosen.name : "";
    urlInput.value = chosen ? chosen.url : "";
  }
  var open = byId("soundLinkOpenBtn");
  if (chosen && isSoundLinkUrl(chosen.url)) {
    open.href = chosen.url.trim();
    open.removeAttribute("aria-disabled");
    open.removeAttribute("tabindex");
  } else {
    open.removeAttribute("href");
    open.setAttribute("aria-disabled", "true");
    open.tabIndex = -1;
  }
  byId("soundLinkRemoveBtn").disabled = !chosen || state.soundLinksBusy;
  byId("soundLinkSaveBtn").disabled = state.soundLinksBusy;
}

function showSoundLinksMessage(text) {
  byId("soundLinksMessage").textContent = text;
}

// Sends the whole list; `choose(links)` picks the link to show afterwards.
function sendSoundLinks(links, successKey, choose) {
  state.soundLinksBusy = true;
  renderSoundLinks();
  return postJson("/api/mixer/sound-links/save", { links: links }).then(function (result) {
    state.soundLinksBusy = false;
    soundLinksStatusStale = state.statusRequestInFlight;
    if (!result.payload.ok) {
      showSoundLinksMessage(describeApiFailure(result, t("sound_links.save_failed")));
      renderSoundLinks();
      return false;
    }
    var answer = result.payload;
    var stored = Array.isArray(answer.sound_links) ? answer.sound_links
      : (answer.settings && Array.isArray(answer.settings.sound_links) ? answer.settings.sound_links : links);
    takeSoundLinks(stored);
    if (state.settings) state.settings.sound_links = state.soundLinks.slice();
    var chosen = choose(state.soundLinks) || state.soundLinks[0];
    state.selectedSoundLinkId = chosen ? chosen.id : "";
    state.soundLinkEditingNew = false;
    renderSoundLinks();
    showSoundLinksMessage(t(successKey));
    return true;
  });
}

function saveSoundLink() {
  if (state.soundLinksBusy) return Promise.resolve(false);
  var url = byId("soundLinkUrlInput").value.trim();
  var name = byId("soundLinkNameInput").value.trim();
  if (!isSoundLinkUrl(url)) {
    showSoundLinksMessage(t("sound_links.invalid_url"));
    return Promise.resolve(false);
  }
  var chosen = chosenSoundLink();
  var id = chosen ? chosen.id : "sound-link-" + Date.now();
  var links = state.soundLinks.filter(function (link) { return link.id !== id; })
    .concat([{ id: id, name: name || url, url: url }]);
  showSoundLinksMessage(t("sound_links.saving"));
  return sendSoundLinks(links, "sound_links.saved", function (stored) {
    return stored.find(function (link) { return link.id === id; }) ||
      stored.find(function (link) { return link.url === url; });
  });
}

function removeSoundLink() {
  var chosen = chosenSoundLink();
  if (!chosen || state.soundLinksBusy) return Promise.resolve(false);
  var links = state.soundLinks.filter(function (link) { return link.id !== chosen.id; });
  return sendSoundLinks(links, "sound_links.removed", function (stored) { return stored[0]; });
}

function startNewSoundLink() {
  state.soundLinkEditingNew = true;
  byId("soundLinkNameInput").value = "";
  byId("soundLinkUrlInput").value = "";
  showSoundLinksMessage("");
  renderSoundLinks();
  byId("soundLinkNameInput").focus();
}

function wireSoundLinks() {
  byId("soundLinkSel").addEventListener("change", function (event) {
    if (!event.target.value) return;
    state.soundLinkEditingNew = false;
    state.selectedSoundLinkId = event.target.value;
    showSoundLinksMessage("");
    renderSoundLinks();
  });
  byId("soundLinkNewBtn").addEventListener("click", startNewSoundLink);
  byId("soundLinkSaveBtn").addEventListener("click", saveSoundLink);
  byId("soundLinkRemoveBtn").addEventListener("click", removeSoundLink);
  byId("soundLinkOpenBtn").addEventListener("click", function (event) {
    if (byId("soundLinkOpenBtn").getAttribute("aria-disabled") === "true") event.preventDefault();
  });
  onPageHook("settings", function (settings) {
    takeSoundLinks(settings.sound_links);
    renderSoundLinks();
  });
  onPageHook("status", function (mixer) {
    if (state.soundLinksBusy || soundLinksStatusStale) {
      soundLinksStatusStale = false;
      return;
    }
    if (Array.isArray(mixer.sound_links) && takeSoundLinks(mixer.sound_links)) renderSoundLinks();
  });
  if (window.ZennicI18n) window.ZennicI18n.onChange(renderSoundLinks);
}

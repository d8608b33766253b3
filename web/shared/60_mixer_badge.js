// The mixer's state as both pages show it: stopped, running, playing a clip, interrupted while
// a device it uses is away, or not known while the program does not answer.

var MIXER_BADGE_TEXT_KEYS = {
  off: "main.status.stopped",
  on: "main.status.running",
  ptt: "main.status.ptt_active",
  interrupted: "main.status.devices_stopped",
  unanswered: "main.status.no_answer"
};

// The badge state of a status answer's "mixer" object; null when the poll got no answer.
function mixerBadgeState(mixer) {
  if (!mixer) return "unanswered";
  if (mixer.running !== true) return "off";
  if (mixer.devices_stopped === true) return "interrupted";
  return mixer.ptt_active === true ? "ptt" : "on";
}

function renderMixerBadge(badge, badgeState, translate) {
  var known = Object.prototype.hasOwnProperty.call(MIXER_BADGE_TEXT_KEYS, badgeState) ? badgeState : "off";
  badge.className = "status-dot status-" + known;
  badge.dataset.state = known;
  badge.textContent = translate(MIXER_BADGE_TEXT_KEYS[known]);
}

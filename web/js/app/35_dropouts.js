// The run's dropouts on the mixer card: every break the engine counted in the audio, by device,
// 0 in a clean run.

var lastDropouts = null;

function renderDropouts() {
  var line = byId("mixerDropouts");
  var dropouts = lastDropouts;
  if (!dropouts || typeof dropouts.total !== "number") {
    line.hidden = true;
    return;
  }
  var text = t("main.mixer.dropouts", { total: dropouts.total });
  if (dropouts.total > 0) {
    text += " " + t("main.mixer.dropouts_by_device", {
      microphone: dropouts.microphone, output: dropouts.output, monitor: dropouts.monitor
    });
  }
  line.textContent = text;
  line.classList.toggle("state-warn", dropouts.total > 0);
  // A clean run says so while it runs; a run that broke keeps saying how until the next start.
  line.hidden = !state.mixerRunning && dropouts.total === 0;
}

function wireDropouts() {
  onPageHook("status", function (mixer) {
    lastDropouts = mixer.dropouts && typeof mixer.dropouts === "object" ? mixer.dropouts : null;
    renderDropouts();
  });
  if (window.ZennicI18n) window.ZennicI18n.onChange(renderDropouts);
}

// How long a hotkey takes on the X display named by DISPLAY: from a key press to the
// key-binding service's handler, and one press and release of the voice-chat key.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "core/app_paths.h"
#include "engine/key_binding_service.h"
#include "engine/key_injector.h"
#include "model/key_catalog.h"
#include "model/runtime_state.h"
// Last: Xlib's macros (Bool, None) clash with the names above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace zennic {
namespace {

constexpr unsigned kXKeypadAdd = 86;

void BM_KeyPressToHandler(benchmark::State& state) {
  Display* sender = XOpenDisplay(nullptr);
  if (sender == nullptr) {
    state.SkipWithError("no X display");
    return;
  }
  std::filesystem::path data = std::filesystem::temp_directory_path() / "ruzerad-hotkeys-bench";
  RuntimeState runtime_state(SettingsStore(FillAppPaths(data), {}, data / "sounds"));
  runtime_state.LoadSettings(nullptr);
  KeyBindingService service(&runtime_state);

  std::mutex mutex;
  std::condition_variable arrived;
  uint64_t events = 0;
  service.SetKeyEventHandler([&](const RawKeyEvent&) {
    std::lock_guard lock(mutex);
    ++events;
    arrived.notify_all();
  });
  service.Initialize(nullptr);

  for (auto _ : state) {
    uint64_t before = 0;
    {
      std::lock_guard lock(mutex);
      before = events;
    }
    XTestFakeKeyEvent(sender, kXKeypadAdd, True, CurrentTime);
    XTestFakeKeyEvent(sender, kXKeypadAdd, False, CurrentTime);
    XFlush(sender);
    std::unique_lock lock(mutex);
    arrived.wait(lock, [&] { return events >= before + 2; });
  }
  state.SetItemsProcessed(state.iterations() * 2);
  service.Stop();
  XCloseDisplay(sender);
  std::filesystem::remove_all(data);
}
BENCHMARK(BM_KeyPressToHandler)->UseRealTime();

void BM_VoiceKeyPressAndRelease(benchmark::State& state) {
  // A desktop always has clients; with none left, Xvfb resets at every disconnect and the
  // reset, not the injection, would be measured.
  Display* session_client = XOpenDisplay(nullptr);
  if (session_client == nullptr) {
    state.SkipWithError("no X display");
    return;
  }
  KeyBinding key = FindKeyCatalogEntry("key_k", kKeySourceDefault).value();
  KeyInjector injector;
  std::string error;
  for (auto _ : state) {
    if (!injector.KeyDown(key, &error) || !injector.KeyUp(key, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  XCloseDisplay(session_client);
}
BENCHMARK(BM_VoiceKeyPressAndRelease)->UseRealTime();

}  // namespace
}  // namespace zennic

#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/key_injector.h"
#include "engine/raw_input_window.h"
#include "model/key_binding.h"

namespace zennic {

class RuntimeState;
struct MixerSettings;

enum class KeyCaptureState : int {
  kWaiting = 0,
  kCaptured = 1,   // capture: stored into the settings; verification: the key matched
  kMismatch = 2,   // verification: another key was pressed
  kTimeout = 3,
  kCancelled = 4,  // a newer capture or verification replaced it
  kRejected = 5,   // the left or right mouse button was pressed
};

// "waiting", "captured", "mismatch", "timeout", "cancelled" or "rejected"; any other value
// reads as "waiting".
std::string KeyCaptureStateName(KeyCaptureState state);

// One capture or verification as the HTTP API reports it.
struct KeyCaptureResult {
  std::string capture_id;
  std::string target;  // "ptt", "voice" or "panic"
  std::string status;  // the state's name
  uint32_t timeout_ms = 10000;
  std::optional<KeyBinding> binding;  // the key taken (in verification also on a mismatch)
  bool verify_only = false;
  std::optional<KeyBinding> expected_binding;  // the configured key, in verification
  std::string message;
};

// The hotkey service: owns the raw input, completes key captures with key presses, forwards
// every event to the one key-event handler (the mixer engine's), tells the engine which key
// is which, and holds the game's voice-chat key while a clip plays.
class KeyBindingService {
 public:
  using KeyEventHandler = std::function<void(const RawKeyEvent&)>;

  explicit KeyBindingService(RuntimeState* runtime_state);
  // Stops raw input and lets go of a voice-chat key still held, so none stays stuck down.
  ~KeyBindingService();
  KeyBindingService(const KeyBindingService&) = delete;
  KeyBindingService& operator=(const KeyBindingService&) = delete;

  // Starts raw input once. Without a display it starts all the same and delivers nothing.
  bool Initialize(std::string* error);
  // Stops raw input; captures, matching and injection still work, but no key events arrive.
  void Stop();
  // Why raw input delivers no events; empty while it does or when stopped.
  std::string RawInputInactiveReason() const;

  // Replaces the handler; an empty function removes it. It runs on the raw-input thread,
  // outside the service's mutex, so it may call back into the service.
  void SetKeyEventHandler(KeyEventHandler handler);

  bool MatchesPushToTalkKey(uint32_t vk, uint32_t scan_code, bool extended) const;
  bool MatchesPanicKey(uint32_t vk, uint32_t scan_code, bool extended) const;
  bool MatchesVoiceKey(uint32_t vk, uint32_t scan_code, bool extended) const;

  // Presses the configured voice-chat key when the settings ask for it and `skip` is false,
  // and remembers the binding pressed, so the release lets go of that very key.
  bool PressGameVoiceKey(bool skip, std::string* error);
  // Releases the remembered key; after a failure it stays remembered and a retry tries again.
  // A capture being saved meanwhile does not hold it up.
  bool ReleaseGameVoiceKey(std::string* error);

  // Waits for the next key press and stores it as the target's key.
  bool StartKeyCapture(const std::string& target, int32_t timeout_ms, KeyCaptureResult* out,
                       std::string* error);
  // Waits for the next key press and checks that it is the target's configured key.
  bool StartKeyVerification(const std::string& target, int32_t timeout_ms, KeyCaptureResult* out,
                            std::string* error);
  bool GetKeyCaptureResult(const std::string& capture_id, KeyCaptureResult* out,
                           std::string* error);

  // What raw input calls for every event: a press completes a waiting capture, and every event
  // then goes to the handler. False with the reason when a press was refused for the capture.
  bool HandleRawKeyEvent(const RawKeyEvent& event, std::string* error);

 private:
  using Clock = std::chrono::steady_clock;

  struct KeyCaptureRecord {
    std::string capture_id;
    std::string target;
    KeyCaptureState state = KeyCaptureState::kWaiting;
    uint32_t timeout_ms = 10000;
    Clock::time_point start_time;
    Clock::time_point deadline;
    std::optional<KeyBinding> captured_binding;
    bool verify_only = false;
    std::optional<KeyBinding> expected_binding;
    std::string message;
  };

  bool BeginKeyCapture(const std::string& target, int32_t timeout_ms, bool verify_only,
                       KeyCaptureResult* out, std::string* error);
  // The callers below hold mutex_.
  void ExpireKeyCaptureLocked();
  KeyCaptureRecord* WaitingRecordLocked();
  bool ApplyBindingToTargetLocked(const KeyBinding& binding, std::string* error);
  static KeyCaptureResult BuildKeyCaptureResult(const KeyCaptureRecord& record);

  // `target` is "ptt", "voice" or "panic".
  bool MatchesConfiguredKey(const std::string& target, uint32_t vk, uint32_t scan_code,
                            bool extended) const;

  RuntimeState* runtime_state_;
  std::unique_ptr<RawInputWindow> raw_input_window_;

  mutable std::mutex mutex_;
  std::map<std::string, KeyCaptureRecord> captures_;
  // Capture ids, oldest first: any local client may start captures, so only the newest are kept.
  std::deque<std::string> capture_order_;
  std::string waiting_capture_id_;
  uint64_t capture_counter_ = 1;
  bool started_ = false;
  KeyEventHandler key_event_handler_;

  // The voice-chat key: presses and releases take turns under their own mutex, apart from
  // captures, whose saves may take as long as the disk does.
  std::mutex voice_key_mutex_;
  KeyInjector injector_;
  bool voice_key_pressed_ = false;
  KeyBinding pressed_voice_binding_;
};

}  // namespace zennic

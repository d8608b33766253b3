#include "engine/key_binding_service.h"

#include <algorithm>

#include "engine/key_injector.h"
#include "model/key_catalog.h"
#include "model/runtime_state.h"

namespace zennic {
namespace {

constexpr char kTargetPtt[] = "ptt";
constexpr char kTargetVoice[] = "voice";
constexpr char kTargetPanic[] = "panic";
constexpr uint32_t kDefaultTimeoutMs = 10000;
constexpr uint32_t kMaximumTimeoutMs = 30000;
constexpr size_t kKeptCaptures = 64;

constexpr char kMissingRuntimeState[] = "KeyBindingService dependencies are not configured";
constexpr char kNullResult[] = "Key capture result pointer is null";
constexpr char kReservedButton[] =
    "Left/right mouse buttons are reserved for normal clicking. Use side mouse buttons or a "
    "keyboard key.";

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::optional<KeyBinding> ConfiguredBinding(const MixerSettings& settings,
                                            const std::string& target) {
  if (target == kTargetPtt) return settings.ptt_trigger_key;
  if (target == kTargetPanic) return settings.panic_trigger_key;
  return settings.voice_chat_key;
}

void StoreBinding(MixerSettings& settings, const std::string& target, const KeyBinding& binding) {
  if (target == kTargetPtt) {
    settings.ptt_trigger_key = binding;
  } else if (target == kTargetPanic) {
    settings.panic_trigger_key = binding;
  } else {
    settings.voice_chat_key = binding;
  }
}

uint32_t EffectiveTimeoutMs(int32_t requested) {
  if (requested <= 0) return kDefaultTimeoutMs;
  return std::min(static_cast<uint32_t>(requested), kMaximumTimeoutMs);
}

}  // namespace

std::string KeyCaptureStateName(KeyCaptureState state) {
  switch (state) {
    case KeyCaptureState::kCaptured:
      return "captured";
    case KeyCaptureState::kMismatch:
      return "mismatch";
    case KeyCaptureState::kTimeout:
      return "timeout";
    case KeyCaptureState::kCancelled:
      return "cancelled";
    case KeyCaptureState::kRejected:
      return "rejected";
    case KeyCaptureState::kWaiting:
      break;
  }
  return "waiting";
}

KeyBindingService::KeyBindingService(RuntimeState* runtime_state)
    : runtime_state_(runtime_state), raw_input_window_(std::make_unique<RawInputWindow>()) {}

KeyBindingService::~KeyBindingService() {
  Stop();
  // Injected keys stay down after the program ends: a voice-chat key still held here would
  // leave the game transmitting.
  ReleaseGameVoiceKey(nullptr);
}

bool KeyBindingService::Initialize(std::string* error) {
  std::lock_guard lock(mutex_);
  if (started_) return true;
  // The window waits for nothing the callback takes, so starting it under the mutex is safe.
  bool started = raw_input_window_->Start(
      [this](const RawKeyEvent& event) {
        std::string ignored;
        HandleRawKeyEvent(event, &ignored);
      },
      error);
  if (started) started_ = true;
  return started;
}

void KeyBindingService::Stop() {
  // Not under the mutex: the worker being joined may be waiting for it in HandleRawKeyEvent.
  raw_input_window_->Stop();
  std::lock_guard lock(mutex_);
  started_ = false;
}

std::string KeyBindingService::RawInputInactiveReason() const {
  return raw_input_window_->InactiveReason();
}

void KeyBindingService::SetKeyEventHandler(KeyEventHandler handler) {
  std::lock_guard lock(mutex_);
  key_event_handler_ = std::move(handler);
}

bool KeyBindingService::MatchesConfiguredKey(const std::string& target, uint32_t vk,
                                             uint32_t scan_code, bool extended) const {
  // The named key, not the raw one, is compared: a generic Shift from raw input becomes its
  // left or right key first.
  std::optional<KeyBinding> named =
      NameCapturedKey(vk, static_cast<int32_t>(scan_code), extended, kKeySourceCapturedBackend);
  if (!named || runtime_state_ == nullptr) return false;
  std::optional<KeyBinding> configured = ConfiguredBinding(runtime_state_->GetSettings(), target);
  return configured.has_value() && KeyBindingsMatch(*named, *configured);
}

bool KeyBindingService::MatchesPushToTalkKey(uint32_t vk, uint32_t scan_code, bool extended) const {
  return MatchesConfiguredKey(kTargetPtt, vk, scan_code, extended);
}

bool KeyBindingService::MatchesPanicKey(uint32_t vk, uint32_t scan_code, bool extended) const {
  return MatchesConfiguredKey(kTargetPanic, vk, scan_code, extended);
}

bool KeyBindingService::MatchesVoiceKey(uint32_t vk, uint32_t scan_code, bool extended) const {
  return MatchesConfiguredKey(kTargetVoice, vk, scan_code, extended);
}

bool KeyBindingService::PressGameVoiceKey(bool skip, std::string* error) {
  if (runtime_state_ == nullptr) {
    SetError(error, kMissingRuntimeState);
    return false;
  }
  MixerSettings settings = runtime_state_->GetSettings();
  if (!settings.hold_voice_key || skip) return true;
  std::lock_guard lock(voice_key_mutex_);
  if (!injector_.KeyDown(settings.voice_chat_key, error)) return false;
  // A second press with another key configured would forget the first key while it is still
  // down; let go of it rather than leave it stuck.
  if (voice_key_pressed_ && !KeyBindingsMatch(pressed_voice_binding_, settings.voice_chat_key)) {
    injector_.KeyUp(pressed_voice_binding_, nullptr);
  }
  voice_key_pressed_ = true;
  pressed_voice_binding_ = settings.voice_chat_key;
  return true;
}

bool KeyBindingService::ReleaseGameVoiceKey(std::string* error) {
  std::lock_guard lock(voice_key_mutex_);
  if (!voice_key_pressed_) return true;
  // The remembered key, not the configured one: the settings may have changed meanwhile.
  if (!injector_.KeyUp(pressed_voice_binding_, error)) return false;
  voice_key_pressed_ = false;
  pressed_voice_binding_ = KeyBinding();
  return true;
}

bool KeyBindingService::StartKeyCapture(const std::string& target, int32_t timeout_ms,
                                        KeyCaptureResult* out, std::string* error) {
  return BeginKeyCapture(target, timeout_ms, false, out, error);
}

bool KeyBindingService::StartKeyVerification(const std::string& target, int32_t timeout_ms,
                                             KeyCaptureResult* out, std::string* error) {
  return BeginKeyCapture(target, timeout_ms, true, out, error);
}

bool KeyBindingService::BeginKeyCapture(const std::string& target, int32_t timeout_ms,
                                        bool verify_only, KeyCaptureResult* out,
                                        std::string* error) {
  if (out == nullptr) {
    SetError(error, kNullResult);
    return false;
  }
  if (target != kTargetPtt && target != kTargetVoice && target != kTargetPanic) {
    SetError(error, "Capture target must be 'ptt', 'voice', or 'panic'");
    return false;
  }
  if (verify_only && runtime_state_ == nullptr) {
    SetError(error, kMissingRuntimeState);
    return false;
  }

  std::lock_guard lock(mutex_);
  ExpireKeyCaptureLocked();
  if (KeyCaptureRecord* older = WaitingRecordLocked()) older->state = KeyCaptureState::kCancelled;
  waiting_capture_id_.clear();

  KeyCaptureRecord record;
  record.capture_id = "capture-" + std::to_string(capture_counter_++);
  record.target = target;
  record.timeout_ms = EffectiveTimeoutMs(timeout_ms);
  record.start_time = Clock::now();
  record.deadline = record.start_time + std::chrono::milliseconds(record.timeout_ms);
  record.verify_only = verify_only;
  if (verify_only) {
    record.expected_binding = ConfiguredBinding(runtime_state_->GetSettings(), target);
    if (!record.expected_binding || !IsValidKeyBinding(*record.expected_binding)) {
      SetError(error, "No valid configured key is available to verify");
      return false;
    }
  }

  *out = BuildKeyCaptureResult(record);
  waiting_capture_id_ = record.capture_id;
  capture_order_.push_back(record.capture_id);
  captures_[record.capture_id] = std::move(record);
  // The waiting capture is the newest, so it is never the one forgotten.
  if (capture_order_.size() > kKeptCaptures) {
    captures_.erase(capture_order_.front());
    capture_order_.pop_front();
  }
  return true;
}

bool KeyBindingService::GetKeyCaptureResult(const std::string& capture_id, KeyCaptureResult* out,
                                            std::string* error) {
  if (out == nullptr) {
    SetError(error, kNullResult);
    return false;
  }
  std::lock_guard lock(mutex_);
  ExpireKeyCaptureLocked();
  auto found = captures_.find(capture_id);
  if (found == captures_.end()) {
    SetError(error, "Unknown capture id");
    return false;
  }
  *out = BuildKeyCaptureResult(found->second);
  return true;
}

void KeyBindingService::ExpireKeyCaptureLocked() {
  if (waiting_capture_id_.empty()) return;
  auto found = captures_.find(waiting_capture_id_);
  if (found != captures_.end() && found->second.state == KeyCaptureState::kWaiting) {
    if (Clock::now() < found->second.deadline) return;
    found->second.state = KeyCaptureState::kTimeout;
  }
  waiting_capture_id_.clear();
}

KeyBindingService::KeyCaptureRecord* KeyBindingService::WaitingRecordLocked() {
  if (waiting_capture_id_.empty()) return nullptr;
  auto found = captures_.find(waiting_capture_id_);
  if (found == captures_.end() || found->second.state != KeyCaptureState::kWaiting) return nullptr;
  return &found->second;
}

bool KeyBindingService::ApplyBindingToTargetLocked(const KeyBinding& binding, std::string* error) {
  if (!IsValidKeyBinding(binding)) {
    SetError(error, "Captured binding is invalid");
    return false;
  }
  ExpireKeyCaptureLocked();
  KeyCaptureRecord* record = WaitingRecordLocked();
  if (record == nullptr) {
    SetError(error, "No key capture is waiting");
    return false;
  }

  if (record->verify_only) {
    record->captured_binding = binding;
    if (record->expected_binding && KeyBindingsMatch(binding, *record->expected_binding)) {
      record->state = KeyCaptureState::kCaptured;
    } else {
      record->state = KeyCaptureState::kMismatch;
      record->message = "The detected key did not match the configured key";
    }
    waiting_capture_id_.clear();
    return true;
  }

  if (runtime_state_ == nullptr) {
    SetError(error, kMissingRuntimeState);
    return false;
  }
  // Saved while the service mutex is held: the service's mutex comes before the runtime
  // state's, never after.
  const std::string target = record->target;
  if (!runtime_state_->MutateSettings(
          [&](MixerSettings& settings) { StoreBinding(settings, target, binding); }, true, error)) {
    return false;
  }
  record->captured_binding = binding;
  record->state = KeyCaptureState::kCaptured;
  waiting_capture_id_.clear();
  return true;
}

KeyCaptureResult KeyBindingService::BuildKeyCaptureResult(const KeyCaptureRecord& record) {
  KeyCaptureResult result;
  result.capture_id = record.capture_id;
  result.target = record.target;
  result.status = KeyCaptureStateName(record.state);
  result.timeout_ms = record.timeout_ms;
  result.binding = record.captured_binding;
  result.verify_only = record.verify_only;
  result.expected_binding = record.expected_binding;
  result.message = record.message;
  return result;
}

bool KeyBindingService::HandleRawKeyEvent(const RawKeyEvent& event, std::string* error) {
  bool result = true;
  KeyEventHandler handler;
  {
    std::lock_guard lock(mutex_);
    // Only presses complete a capture; the check and the completion share one lock, so a
    // capture started after this press cannot take it.
    if (event.is_down) {
      ExpireKeyCaptureLocked();
      if (KeyCaptureRecord* record = WaitingRecordLocked()) {
        if (IsReservedMouseButton(static_cast<int32_t>(event.vk))) {
          record->state = KeyCaptureState::kRejected;
          record->message = kReservedButton;
          waiting_capture_id_.clear();
          SetError(error, kReservedButton);
          result = false;
        } else if (std::optional<KeyBinding> named =
                       NameCapturedKey(event.vk, static_cast<int32_t>(event.scan_code),
                                       event.extended, kKeySourceCapturedBackend)) {
          result = ApplyBindingToTargetLocked(*named, error);
        } else {
          SetError(error, "Unsupported key");
          result = false;
        }
      }
    }
    handler = key_event_handler_;
  }
  // Every event, used by a capture or not, reaches the handler, outside the mutex.
  if (handler) handler(event);
  return result;
}

}  // namespace zennic

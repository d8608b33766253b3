#include "windows_audio/audio_backup.h"

#include <chrono>
#include <ctime>

#include "core/text.h"

namespace zennic {
namespace {

const JsonValue* ObjectMember(const JsonValue& object, const std::string& key) {
  const JsonValue* member = object.Find(key);
  return member != nullptr && member->type == JsonValue::Type::Object ? member : nullptr;
}

AudioRole RoleFromName(const std::string& name) {
  if (EqualsIgnoreCase(name, "multimedia")) return AudioRole::kMultimedia;
  if (EqualsIgnoreCase(name, "communications")) return AudioRole::kCommunications;
  return AudioRole::kConsole;
}

}  // namespace

bool ParseAudioRoleEndpoint(const JsonValue& value, AudioRoleEndpoint* endpoint) {
  if (value.type != JsonValue::Type::Object) return false;
  AudioRoleEndpoint parsed;
  parsed.flow = EqualsIgnoreCase(value.GetString("flow", "render"), "capture") ? AudioFlow::kCapture
                                                                               : AudioFlow::kRender;
  parsed.role = RoleFromName(value.GetString("role", "console"));
  parsed.id = value.GetString("id", "");
  parsed.name = value.GetString("name", "");
  parsed.present = value.GetBool("present", !parsed.id.empty());
  *endpoint = std::move(parsed);
  return true;
}

bool ParseAudioDefaultsSnapshot(const JsonValue& value, AudioDefaultsSnapshot* snapshot) {
  if (value.type != JsonValue::Type::Object) return false;
  AudioDefaultsSnapshot parsed;
  parsed.saved_at = value.GetString("saved_at", "");
  parsed.invalid_render_output = value.GetBool("invalid_render_output", false);
  const JsonValue* endpoints = value.Find("endpoints");
  if (endpoints != nullptr && endpoints->type == JsonValue::Type::Array) {
    for (const JsonValue& element : endpoints->array_value) {
      AudioRoleEndpoint endpoint;
      if (ParseAudioRoleEndpoint(element, &endpoint)) parsed.endpoints.push_back(endpoint);
    }
  }
  *snapshot = std::move(parsed);
  return true;
}

bool ParseAudioBackup(const JsonValue& value, AudioBackup* backup) {
  if (value.type != JsonValue::Type::Object) return false;
  AudioBackup parsed;
  const JsonValue* version = value.Find("version");
  if (version != nullptr && version->type == JsonValue::Type::Number) {
    parsed.version = JsonNumberToInt32(version->number_value);
  }
  parsed.session_active = value.GetBool("session_active", false);
  if (const JsonValue* current = ObjectMember(value, "current_session")) {
    ParseAudioDefaultsSnapshot(*current, &parsed.current_session);
  }
  if (const JsonValue* applied = ObjectMember(value, "applied")) {
    ParseAudioDefaultsSnapshot(*applied, &parsed.applied);
  }
  if (const JsonValue* last_known_good = ObjectMember(value, "last_known_good")) {
    parsed.last_known_good.emplace();
    ParseAudioDefaultsSnapshot(*last_known_good, &*parsed.last_known_good);
  }
  *backup = std::move(parsed);
  return true;
}

JsonValue AudioRoleEndpointToJson(const AudioRoleEndpoint& endpoint) {
  JsonValue object = JsonValue::MakeObject();
  object["flow"] = AudioFlowName(endpoint.flow);
  object["role"] = AudioRoleName(endpoint.role);
  object["id"] = endpoint.id;
  object["name"] = endpoint.name;
  object["present"] = endpoint.present;
  return object;
}

JsonValue AudioDefaultsSnapshotToJson(const AudioDefaultsSnapshot& snapshot) {
  JsonValue object = JsonValue::MakeObject();
  object["saved_at"] = snapshot.saved_at;
  object["invalid_render_output"] = snapshot.invalid_render_output;
  JsonValue& endpoints = object["endpoints"] = JsonValue::MakeArray();
  for (const AudioRoleEndpoint& endpoint : snapshot.endpoints) {
    endpoints.PushBack(AudioRoleEndpointToJson(endpoint));
  }
  return object;
}

JsonValue AudioBackupToJson(const AudioBackup& backup) {
  JsonValue object = JsonValue::MakeObject();
  object["version"] = 1.0;
  object["session_active"] = backup.session_active;
  object["current_session"] = AudioDefaultsSnapshotToJson(backup.current_session);
  object["applied"] = AudioDefaultsSnapshotToJson(backup.applied);
  object["last_known_good"] = backup.last_known_good
                                  ? AudioDefaultsSnapshotToJson(*backup.last_known_good)
                                  : JsonValue();
  return object;
}

std::string AudioRoleName(AudioRole role) {
  switch (role) {
    case AudioRole::kMultimedia:
      return "multimedia";
    case AudioRole::kCommunications:
      return "communications";
    default:
      return "console";
  }
}

std::string AudioFlowName(AudioFlow flow) {
  return flow == AudioFlow::kRender ? "render" : "capture";
}

std::string DescribeFlowRole(AudioFlow flow, AudioRole role) {
  return AudioFlowName(flow) + ":" + AudioRoleName(role);
}

std::string FormatBackupTimestamp() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  char text[32] = "";
  if (localtime_r(&now, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    return {};
  }
  return text;
}

}  // namespace zennic

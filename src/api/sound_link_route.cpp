#include <set>

#include "api/http_api.h"
#include "model/mixer_settings_json.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

constexpr size_t kMaxSoundLinks = 20;
constexpr size_t kMaxUrlBytes = 2048;

// Only web pages: the client opens these in a browser, so no other scheme, no blank and no
// control character may reach it.
bool IsHttpUrl(const std::string& url) {
  std::string trimmed = Trim(url);
  if (trimmed.empty() || trimmed.size() > kMaxUrlBytes) return false;
  for (unsigned char byte : trimmed) {
    if (byte < 33 || byte == 127) return false;
  }
  std::string lower = ToLower(trimmed);
  return lower.starts_with("http://") || lower.starts_with("https://");
}

// The given id (else the name's slug) with every character outside [A-Za-z0-9_-] as one "-",
// made unique among `taken` by "-2", "-3", ...
std::string TakeSoundLinkId(const std::string& given_id, const std::string& name,
                            std::set<std::string>* taken) {
  std::string source = Trim(given_id);
  if (source.empty()) source = MakeSlug(name);
  std::string id;
  for (unsigned char byte : source) {
    bool kept = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                (byte >= '0' && byte <= '9') || byte == '_' || byte == '-';
    if (kept) {
      id.push_back(static_cast<char>(byte));
    } else if ((byte & 0xC0) != 0x80) {
      // A UTF-8 continuation byte belongs to the character already replaced.
      id.push_back('-');
    }
  }
  std::string unique = id;
  for (int n = 2; taken->contains(unique); ++n) unique = id + "-" + std::to_string(n);
  taken->insert(unique);
  return unique;
}

JsonValue BuildSoundLinksJson(const std::vector<SoundLink>& links) {
  JsonValue array = JsonValue::MakeArray();
  for (const SoundLink& link : links) array.PushBack(SoundLinkToJson(link));
  return array;
}

}  // namespace

void HttpApi::RegisterSoundLinkRoute() {
  routes_.emplace("/api/mixer/sound-links/save",
                  [this](const JsonValue& body) { return HandleSoundLinksSave(body); });
}

HttpResponse HttpApi::HandleSoundLinksSave(const JsonValue& body) {
  const JsonValue* links = body.Find("links");
  if (links == nullptr || links->type != JsonValue::Type::Array) {
    return ErrorResponse(400, "sound_links_invalid", "links must be an array");
  }
  if (links->array_value.size() > kMaxSoundLinks) {
    return ErrorResponse(400, "sound_links_too_many", "Save up to 20 sound links");
  }
  std::vector<SoundLink> saved;
  std::set<std::string> taken_ids;
  for (const JsonValue& element : links->array_value) {
    SoundLink link;
    if (!SoundLinkFromJson(element, &link, nullptr)) {
      return ErrorResponse(400, "sound_links_invalid", "Each sound link must be an object");
    }
    link.url = Trim(link.url);
    if (!IsHttpUrl(link.url)) {
      return ErrorResponse(400, "sound_link_url_invalid",
                           "Sound links must use http:// or https:// URLs");
    }
    link.name = Trim(link.name);
    if (link.name.empty()) link.name = link.url;
    link.id = TakeSoundLinkId(link.id, link.name, &taken_ids);
    saved.push_back(std::move(link));
  }

  std::string error;
  if (!config_.runtime_state->MutateSettings(
          [&saved](MixerSettings& settings) { settings.sound_links = saved; }, true, &error)) {
    return ApiRefusal(500, "settings_save_failed", error, "Failed to save sound links");
  }
  MixerSettings stored = config_.runtime_state->GetSettings();
  JsonValue reply = JsonValue::MakeObject();
  reply["settings"] = MixerSettingsToJson(stored);
  reply["sound_links"] = BuildSoundLinksJson(stored.sound_links);
  return MakeJsonResponse(reply);
}

}  // namespace zennic

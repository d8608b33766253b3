#include "sound_files/sound_inbox_ledger.h"

#include <ctime>

#include "core/paths.h"
#include "core/text.h"

namespace zennic {
namespace {

// What a number reads back as after a trip through the ledger file, whose numbers keep 15
// significant digits: a last-write time has 18.
double AsStoredInLedger(double number) {
  JsonValue stored;
  if (!JsonValue::Parse(JsonValue(number).Serialize(0), &stored, nullptr)) return number;
  return stored.number_value;
}

std::string MakeKey(const std::string& path, uint64_t size, int64_t ticks) {
  const uint64_t stored_size = JsonNumberToUint64(AsStoredInLedger(static_cast<double>(size)));
  const int64_t stored_ticks = JsonNumberToInt64(AsStoredInLedger(static_cast<double>(ticks)));
  // Names differing only in case are different files here.
  return path + "|" + std::to_string(stored_size) + "|" + std::to_string(stored_ticks);
}

// What tells one file from another: its path, size and last-write time.
JsonValue FileIdentityJson(const SoundInboxRecord& record) {
  JsonValue item = JsonValue::MakeObject();
  item["source_path"] = record.source_path;
  item["source_size"] = static_cast<double>(record.source_size);
  item["modified_ticks"] = static_cast<double>(record.modified_ticks);
  return item;
}

std::vector<SoundInboxRecord> ParseRecordList(const JsonValue& document, const char* member) {
  std::vector<SoundInboxRecord> records;
  const JsonValue* list =
      document.type == JsonValue::Type::Object ? document.Find(member) : nullptr;
  if (list == nullptr || list->type != JsonValue::Type::Array) return records;
  for (const JsonValue& item : list->array_value) {
    if (item.type != JsonValue::Type::Object) continue;
    SoundInboxRecord record;
    record.source_path = item.GetString("source_path", "");
    if (record.source_path.empty()) continue;
    record.source_size = JsonNumberToUint64(item.GetNumber("source_size", 0));
    record.modified_ticks = JsonNumberToInt64(item.GetNumber("modified_ticks", 0));
    record.prepared_path = item.GetString("prepared_path", "");
    record.backup_path = item.GetString("backup_path", "");
    record.imported_at = item.GetString("imported_at", "");
    record.code = item.GetString("code", "");
    record.failed = item.GetBool("failed", false);
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace

std::string MakeSoundInboxRecordKey(const SoundInboxRecord& record) {
  return MakeKey(record.source_path, record.source_size, record.modified_ticks);
}

std::string MakeSoundInboxFileKey(const std::filesystem::path& path, uint64_t size,
                                  int64_t ticks) {
  return MakeKey(WideToUtf8(AbsoluteNormalPath(path)), size, ticks);
}

JsonValue BuildSoundInboxLedgerJson(const std::vector<SoundInboxRecord>& records,
                                    const std::vector<SoundInboxRecord>& present_when_chosen) {
  JsonValue document = JsonValue::MakeObject();
  document["version"] = 1.0;
  JsonValue& list = document["records"];
  list = JsonValue::MakeArray();
  for (const SoundInboxRecord& record : records) {
    JsonValue item = FileIdentityJson(record);
    item["prepared_path"] = record.prepared_path;
    item["backup_path"] = record.backup_path;
    item["imported_at"] = record.imported_at;
    item["code"] = record.code;
    item["failed"] = record.failed;
    list.PushBack(item);
  }
  if (!present_when_chosen.empty()) {
    JsonValue& present = document["present_when_chosen"];
    present = JsonValue::MakeArray();
    for (const SoundInboxRecord& file : present_when_chosen) {
      present.PushBack(FileIdentityJson(file));
    }
  }
  return document;
}

std::vector<SoundInboxRecord> ParseSoundInboxLedgerJson(const JsonValue& document) {
  std::vector<SoundInboxRecord> records = ParseRecordList(document, "records");
  TrimSoundInboxRecords(&records);
  return records;
}

std::vector<SoundInboxRecord> ParsePresentWhenChosenJson(const JsonValue& document) {
  return ParseRecordList(document, "present_when_chosen");
}

void TrimSoundInboxRecords(std::vector<SoundInboxRecord>* records) {
  if (records->size() <= kMaxSoundInboxRecords) return;
  records->erase(records->begin(),
                 records->end() - static_cast<std::ptrdiff_t>(kMaxSoundInboxRecords));
}

std::string FormatUtcTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (::gmtime_r(&now, &parts) == nullptr) return "";
  char buffer[32];
  const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(buffer, length);
}

}  // namespace zennic

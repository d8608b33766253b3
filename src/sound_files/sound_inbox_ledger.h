#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/json_value.h"

namespace zennic {

// One file the Sound Inbox has handled, prepared or failed.
struct SoundInboxRecord {
  std::string source_path;  // absolute, lexically normal
  uint64_t source_size = 0;
  int64_t modified_ticks = 0;  // last-write time (see FileTimeToTicks)
  std::string prepared_path;   // empty when the preparation failed or did not run
  std::string backup_path;
  std::string imported_at;  // see FormatUtcTimestamp
  std::string code;         // empty on success
  bool failed = false;
};

// The ledger keeps the newest records only.
constexpr size_t kMaxSoundInboxRecords = 500;

// Two records describe the same file exactly when their keys are equal: same path (compared as
// the file system compares names), size and last-write time. Size and time are taken at the
// precision the ledger file keeps them, so a record read back after a restart still matches the
// file it was made for.
std::string MakeSoundInboxRecordKey(const SoundInboxRecord& record);
// `path` is made absolute and lexically normal first.
std::string MakeSoundInboxFileKey(const std::filesystem::path& path, uint64_t size,
                                  int64_t ticks);

// The ledger file's document: {"records": [...], "version": 1}, records oldest first. The files
// that lay in the folder when the user chose it, recorded as seen and never prepared, follow as
// "present_when_chosen" (path, size and time only), outside the records' limit: a folder holds
// at most as many as a scan counts.
JsonValue BuildSoundInboxLedgerJson(const std::vector<SoundInboxRecord>& records,
                                    const std::vector<SoundInboxRecord>& present_when_chosen = {});
// Read tolerantly: anything but an object with a "records" array gives no records; elements
// that are not objects or have no source path are skipped; only the newest records are kept.
std::vector<SoundInboxRecord> ParseSoundInboxLedgerJson(const JsonValue& document);
// The "present_when_chosen" files, read as tolerantly.
std::vector<SoundInboxRecord> ParsePresentWhenChosenJson(const JsonValue& document);
// Drops the oldest records beyond the ledger's size.
void TrimSoundInboxRecords(std::vector<SoundInboxRecord>* records);

// The current time in UTC as "%Y-%m-%dT%H:%M:%SZ".
std::string FormatUtcTimestamp();

}  // namespace zennic

#include "sound_files/sound_inbox_service.h"

#include <algorithm>
#include <system_error>
#include <unordered_map>

#include "core/app_log.h"
#include "core/files.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"
#include "sound_files/inbox_sound_preparation.h"
#include "sound_files/sound_inbox_folder.h"

namespace zennic {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
namespace {

constexpr char kLogTag[] = "SoundInboxService";
constexpr char kTooLarge[] = "Inbox audio file is too large to prepare safely";

// The log line of a file the inbox gave up on names the file.
std::string PreparationFailure(const std::string& path, const std::string& message) {
  return "Could not prepare " + path + ": " + message;
}

}  // namespace

JsonValue BuildSoundInboxStatusJson(const SoundInboxStatus& status) {
  JsonValue json = JsonValue::MakeObject();
  json["enabled"] = status.enabled;
  json["watching"] = status.watching;
  json["folder_path"] = status.folder_path;
  json["phase"] = status.phase;
  json["code"] = JsonValue::StringOrNull(status.code);
  json["message"] = status.message;
  json["last_source_path"] = JsonValue::StringOrNull(status.last_source_path);
  json["last_prepared_path"] = JsonValue::StringOrNull(status.last_prepared_path);
  json["pending_count"] = static_cast<double>(status.pending_count);
  json["imported_count"] = static_cast<double>(status.imported_count);
  json["failed_count"] = static_cast<double>(status.failed_count);
  json["revision"] = static_cast<double>(status.revision);
  return json;
}

SoundInboxService::SoundInboxService(RuntimeState* runtime_state, ProfileService* profile_service,
                                     ConverterService* converter, fs::path ledger_path,
                                     fs::path logs_folder)
    : runtime_state_(runtime_state),
      profile_service_(profile_service),
      converter_(converter),
      ledger_path_(std::move(ledger_path)),
      logs_folder_(std::move(logs_folder)) {}

SoundInboxService::~SoundInboxService() { Stop(); }

void SoundInboxService::Start() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  if (worker_.joinable()) return;
  stop_requested_ = false;
  wake_requested_ = false;
  LoadStateIfNeeded();
  worker_ = std::thread(&SoundInboxService::WorkerLoop, this);
}

void SoundInboxService::Stop() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    stop_requested_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void SoundInboxService::Wake() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    wake_requested_ = true;
  }
  wake_.notify_all();
}

void SoundInboxService::WatchFromNow(const fs::path& folder, const std::function<bool()>& choose) {
  // A scan between the choice and the count would take what lies there for new arrivals.
  std::lock_guard<std::mutex> scan(scan_mutex_);
  if (!choose()) return;
  const fs::path chosen = AbsoluteNormalPath(folder);
  std::vector<SoundInboxRecord> present;
  const bool counted = ListPresentFiles(chosen, &present);
  std::lock_guard<std::mutex> lock(state_mutex_);
  // The ledger is saved with them, so it has to have been read first.
  LoadStateIfNeeded();
  if (counted) {
    KeepPresentFiles(std::move(present));
  } else {
    watch_from_now_ = chosen;
  }
}

SoundInboxStatus SoundInboxService::GetStatus() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return status_;
}

void SoundInboxService::WorkerLoop() {
  while (WaitForNextScan()) RunScan();
}

bool SoundInboxService::WaitForNextScan() {
  std::unique_lock<std::mutex> lock(state_mutex_);
  const Clock::time_point deadline = Clock::now() + kScanInterval;
  wake_.wait_until(lock, deadline, [this] { return stop_requested_ || wake_requested_; });
  wake_requested_ = false;
  return !stop_requested_;
}

void SoundInboxService::RunScan() {
  std::unique_lock<std::mutex> scan(scan_mutex_, std::try_to_lock);
  if (!scan.owns_lock()) return;
  std::string error;
  // Nothing a scan raises may end the worker; the next tick tries again.
  try {
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      LoadStateIfNeeded();
    }
    if (runtime_state_ == nullptr || converter_ == nullptr) {
      error = "Sound Inbox service is not fully configured";
    } else {
      ScanLocked(runtime_state_->GetSettings(), Clock::now(), &error);
    }
  } catch (const std::exception& failure) {
    error = std::string("Sound Inbox scan failed: ") + failure.what();
  } catch (...) {
    error = "Sound Inbox scan failed";
  }
  if (!error.empty() && !logs_folder_.empty()) WriteLogLine(logs_folder_, kLogTag, error);
}

bool SoundInboxService::ScanOnce(const MixerSettings& settings, Clock::time_point scan_time,
                                 std::string* error) {
  std::lock_guard<std::mutex> scan(scan_mutex_);
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    LoadStateIfNeeded();
  }
  return ScanLocked(settings, scan_time, error);
}

bool SoundInboxService::ScanLocked(const MixerSettings& settings, Clock::time_point scan_time,
                                   std::string* error) {
  SoundInboxStatus status;
  status.enabled = settings.sound_inbox_enabled;
  status.folder_path = settings.sound_inbox_dir;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    status.imported_count = status_.imported_count;
    status.failed_count = status_.failed_count;
    status.last_source_path = status_.last_source_path;
    status.last_prepared_path = status_.last_prepared_path;
  }
  if (!status.enabled) {
    status.phase = "disabled";
    status.message = "Sound Inbox is disabled";
    SetStatus(std::move(status), false);
    return true;
  }
  const fs::path folder = AbsoluteNormalPath(Utf8ToPath(settings.sound_inbox_dir));
  if (!ValidateSoundInboxFolder(settings, folder, &status.code, &status.message)) {
    status.phase = "failed";
    SetStatus(std::move(status), true);
    return true;
  }

  bool chosen_too_full = false;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    chosen_too_full = !watch_from_now_.empty() && watch_from_now_ == folder;
  }
  if (chosen_too_full) {
    RecordPresentFiles(folder, &status);
    return true;
  }
  std::vector<SoundInboxCandidate> seen;
  if (!CollectCandidates(folder, scan_time, &status, &seen, error)) return true;
  SoundInboxCandidate chosen;
  const bool settled = MergePending(seen, scan_time, &status, &chosen);
  status.watching = true;
  if (!settled) {
    status.phase = status.pending_count > 0 ? "detected" : "watching";
    status.message = status.pending_count > 0 ? "New sound detected" : "Watching folder";
    SetStatus(std::move(status), false);
    return true;
  }
  return Prepare(settings, chosen, &status, error);
}

bool SoundInboxService::VisitSoundFiles(
    const fs::path& folder, Clock::time_point scan_time,
    const std::function<bool(const SoundInboxCandidate&)>& visit) {
  size_t regular_files = 0;
  const fs::path canonical_folder = CanonicalFolderPath(folder);
  std::error_code walk_error;
  // A walk that cannot start or breaks off ends here with what it saw so far.
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                           walk_error);
       !walk_error && it != fs::recursive_directory_iterator(); it.increment(walk_error)) {
    if (regular_files > kMaxScannedFiles) return false;
    const fs::path& path = it->path();
    std::error_code code;
    if (!fs::is_regular_file(path, code)) continue;
    ++regular_files;
    if (IsPartialDownloadName(path) || !IsSupportedAudioExtension(path) ||
        !LiesInFolder(path, canonical_folder)) {
      continue;
    }
    const uintmax_t size = fs::file_size(path, code);
    if (code || size == 0) continue;
    const fs::file_time_type written = fs::last_write_time(path, code);
    if (code) continue;
    if (!visit(SoundInboxCandidate{AbsoluteNormalPath(path), size, FileTimeToTicks(written),
                                   scan_time})) {
      break;
    }
  }
  return true;
}

void SoundInboxService::StoreTooManyFiles(SoundInboxStatus* status) {
  status->phase = "failed";
  status->code = "sound_inbox_too_many_files";
  status->message = "Sound Inbox has too many files to scan safely";
  SetStatus(*status, true);
}

bool SoundInboxService::CollectCandidates(const fs::path& folder, Clock::time_point scan_time,
                                          SoundInboxStatus* status,
                                          std::vector<SoundInboxCandidate>* seen,
                                          std::string* error) {
  bool refused = false;
  const auto take = [&](const SoundInboxCandidate& file) {
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      if (HasRecord(MakeSoundInboxFileKey(file.path, file.size, file.modified_ticks))) return true;
    }
    if (file.size <= kMaxSourceBytes) {
      seen->push_back(file);
      return true;
    }
    // Refused at once, without waiting for it to settle, and never offered again unchanged.
    SoundInboxRecord record;
    record.source_path = WideToUtf8(file.path);
    record.source_size = file.size;
    record.modified_ticks = file.modified_ticks;
    record.imported_at = FormatUtcTimestamp();
    record.code = "sound_inbox_too_large";
    record.failed = true;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      AppendRecord(record);
      status->failed_count = ++status_.failed_count;
    }
    status->phase = "failed";
    status->code = record.code;
    status->message = kTooLarge;
    status->last_source_path = record.source_path;
    SetStatus(*status, true);
    if (error != nullptr) *error = PreparationFailure(record.source_path, kTooLarge);
    refused = true;
    return false;
  };
  if (!VisitSoundFiles(folder, scan_time, take)) {
    StoreTooManyFiles(status);
    return false;
  }
  return !refused;
}

bool SoundInboxService::ListPresentFiles(const fs::path& folder,
                                         std::vector<SoundInboxRecord>* present) {
  const auto keep = [&](const SoundInboxCandidate& file) {
    SoundInboxRecord record;
    record.source_path = WideToUtf8(file.path);
    record.source_size = file.size;
    record.modified_ticks = file.modified_ticks;
    present->push_back(std::move(record));
    return true;
  };
  return VisitSoundFiles(folder, Clock::now(), keep);
}

void SoundInboxService::KeepPresentFiles(std::vector<SoundInboxRecord> present) {
  present_when_chosen_ = std::move(present);
  pending_.clear();
  watch_from_now_.clear();
  IndexLedger();
  SaveState();
}

void SoundInboxService::RecordPresentFiles(const fs::path& folder, SoundInboxStatus* status) {
  std::vector<SoundInboxRecord> present;
  // A folder still too full is tried again at the next scan.
  if (!ListPresentFiles(folder, &present)) {
    StoreTooManyFiles(status);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    KeepPresentFiles(std::move(present));
  }
  status->watching = true;
  status->phase = "watching";
  status->message = "Watching folder";
  SetStatus(*status, false);
}

bool SoundInboxService::MergePending(const std::vector<SoundInboxCandidate>& seen,
                                     Clock::time_point scan_time, SoundInboxStatus* status,
                                     SoundInboxCandidate* chosen) {
  // Paths compare as the file system does: byte for byte here.
  std::unordered_map<std::string, const SoundInboxCandidate*> seen_by_path;
  for (const SoundInboxCandidate& file : seen) seen_by_path.emplace(file.path.native(), &file);
  std::lock_guard<std::mutex> lock(state_mutex_);
  std::erase_if(pending_, [&](const SoundInboxCandidate& entry) {
    return seen_by_path.count(entry.path.native()) == 0;
  });
  for (SoundInboxCandidate& entry : pending_) {
    const SoundInboxCandidate& file = *seen_by_path.at(entry.path.native());
    // Still being written: its wait starts again.
    if (entry.size != file.size || entry.modified_ticks != file.modified_ticks) entry = file;
    seen_by_path.erase(file.path.native());
  }
  for (const SoundInboxCandidate& file : seen) {
    if (seen_by_path.count(file.path.native()) != 0) pending_.push_back(file);
  }
  status->pending_count = static_cast<uint32_t>(pending_.size());
  for (const SoundInboxCandidate& entry : pending_) {
    if (scan_time - entry.first_seen >= kSettleTime) {
      *chosen = entry;
      return true;
    }
  }
  return false;
}

bool SoundInboxService::Prepare(const MixerSettings& settings, const SoundInboxCandidate& file,
                                SoundInboxStatus* status, std::string* error) {
  status->phase = "preparing";
  status->message = "Preparing inbox sound";
  status->last_source_path = WideToUtf8(file.path);
  SetStatus(*status, false);

  ImportedSoundResult result;
  std::string code;
  std::string message;
  bool prepared = false;
  if (converter_ == nullptr) {
    message = "Sound Inbox service is not fully configured";
  } else {
    // A failure to look at the disk is this file's failure: recorded, it is not retried
    // every 2 seconds while it stays unchanged.
    try {
      prepared = converter_->PrepareInboxSound(DestinationFolder(settings), file.path,
                                               kAppendedSilenceSeconds, kMaxSourceBytes,
                                               kMaxSourceSeconds, &result, &code, &message);
    } catch (const std::exception& failure) {
      code.clear();
      message = failure.what();
    }
  }

  SoundInboxRecord record;
  record.source_path = WideToUtf8(file.path);
  record.source_size = file.size;
  record.modified_ticks = file.modified_ticks;
  record.imported_at = FormatUtcTimestamp();
  record.failed = !prepared;
  if (prepared) {
    record.prepared_path = result.prepared_path;
    record.backup_path = result.backup_path;
  } else {
    record.code = code.empty() ? "prepare_failed" : code;
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    AppendRecord(record);
    std::erase_if(pending_,
                  [&](const SoundInboxCandidate& entry) { return entry.path == file.path; });
    if (prepared) {
      status->imported_count = ++status_.imported_count;
    } else {
      status->failed_count = ++status_.failed_count;
    }
  }
  status->pending_count = 0;
  status->last_source_path = record.source_path;
  status->last_prepared_path = record.prepared_path;
  status->phase = prepared ? "ready" : "failed";
  status->code = record.code;
  if (prepared) {
    status->message = "Ready";
  } else {
    status->message = message.empty() ? "Failed to prepare inbox sound" : message;
  }
  if (!prepared && error != nullptr) {
    *error = PreparationFailure(record.source_path, status->message);
  }
  SetStatus(*status, true);
  return prepared;
}

fs::path SoundInboxService::DestinationFolder(const MixerSettings& settings) const {
  const Profile* active =
      profile_service_ != nullptr ? ProfileService::ActiveProfile(settings) : nullptr;
  if (active == nullptr && !settings.profiles.empty()) active = &settings.profiles.front();
  if (active == nullptr) return AbsoluteNormalPath(DefaultSoundsDirectory());
  return AbsoluteNormalPath(Utf8ToPath(active->audio_dir));
}

void SoundInboxService::SetStatus(SoundInboxStatus status, bool advance) {
  std::lock_guard<std::mutex> lock(state_mutex_);
  if (advance) ++revision_;
  status.revision = revision_;
  status_ = std::move(status);
}

void SoundInboxService::LoadStateIfNeeded() {
  if (ledger_loaded_) return;
  LoadState();
  ledger_loaded_ = true;
}

void SoundInboxService::LoadState() {
  ledger_.clear();
  present_when_chosen_.clear();
  ledger_keys_.clear();
  if (ledger_path_.empty()) return;
  std::error_code code;
  if (!fs::exists(ledger_path_, code)) return;
  std::string text;
  JsonValue document;
  std::string error;
  if (!ReadTextFile(ledger_path_, &text, &error) ||
      !JsonValue::Parse(text, &document, &error)) {
    // The inbox works on; files still lying there count as new.
    if (!logs_folder_.empty()) {
      WriteLogLine(logs_folder_, kLogTag, "Sound Inbox ledger ignored: " + error);
    }
    return;
  }
  ledger_ = ParseSoundInboxLedgerJson(document);
  present_when_chosen_ = ParsePresentWhenChosenJson(document);
  IndexLedger();
}

void SoundInboxService::SaveState() {
  if (ledger_path_.empty()) return;
  // Best effort: a failed write keeps the records in memory and the old file on disk.
  WriteTextFileAtomic(ledger_path_,
                      BuildSoundInboxLedgerJson(ledger_, present_when_chosen_).Serialize(0),
                      nullptr);
}

bool SoundInboxService::HasRecord(const std::string& file_key) const {
  return ledger_keys_.count(file_key) > 0;
}

void SoundInboxService::IndexLedger() {
  ledger_keys_.clear();
  for (const SoundInboxRecord& record : ledger_) ledger_keys_.insert(MakeSoundInboxRecordKey(record));
  for (const SoundInboxRecord& file : present_when_chosen_) {
    ledger_keys_.insert(MakeSoundInboxRecordKey(file));
  }
}

void SoundInboxService::AppendRecord(SoundInboxRecord record) {
  const std::string key = MakeSoundInboxRecordKey(record);
  std::erase_if(ledger_,
                [&](const SoundInboxRecord& entry) { return MakeSoundInboxRecordKey(entry) == key; });
  ledger_.push_back(std::move(record));
  TrimSoundInboxRecords(&ledger_);
  IndexLedger();
  SaveState();
}

}  // namespace zennic

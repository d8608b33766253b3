#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "core/json_value.h"
#include "model/mixer_settings.h"
#include "sound_files/sound_inbox_ledger.h"

namespace zennic {

class ConverterService;
class ProfileService;
class RuntimeState;

// What the inbox is doing, as the web client shows it. `revision` changes whenever something
// happened that the user should see.
struct SoundInboxStatus {
  bool enabled = false;
  bool watching = false;
  std::string folder_path;  // as the settings hold it
  // "disabled", "watching", "detected", "preparing", "ready" or "failed".
  std::string phase = "disabled";
  std::string code;
  std::string message;
  std::string last_source_path;
  std::string last_prepared_path;
  uint32_t pending_count = 0;
  uint32_t imported_count = 0;
  uint32_t failed_count = 0;
  uint32_t revision = 0;
};

JsonValue BuildSoundInboxStatusJson(const SoundInboxStatus& status);

// A file seen in the inbox and not yet handled.
struct SoundInboxCandidate {
  std::filesystem::path path;  // absolute, lexically normal
  uint64_t size = 0;
  int64_t modified_ticks = 0;
  // The scan that first saw the file with this size and time.
  std::chrono::steady_clock::time_point first_seen;
};

// Watches the folder the user chose for downloads. Every 2 seconds a worker scans it; a sound
// file that has stayed unchanged for 5 seconds is prepared, one per scan, into the active
// profile's audio folder. A ledger in the data folder makes sure each file is handled once,
// across restarts too.
class SoundInboxService {
 public:
  static constexpr std::chrono::seconds kScanInterval{2};
  static constexpr std::chrono::seconds kSettleTime{5};
  static constexpr uint64_t kMaxSourceBytes = 78'643'200;  // 75 MiB
  static constexpr double kMaxSourceSeconds = 600.0;
  static constexpr double kAppendedSilenceSeconds = 1.5;
  static constexpr size_t kMaxScannedFiles = 2000;

  // Any dependency may be null; the ledger path and the logs folder may be empty.
  SoundInboxService(RuntimeState* runtime_state, ProfileService* profile_service,
                    ConverterService* converter, std::filesystem::path ledger_path,
                    std::filesystem::path logs_folder);
  ~SoundInboxService();
  SoundInboxService(const SoundInboxService&) = delete;
  SoundInboxService& operator=(const SoundInboxService&) = delete;

  // Loads the ledger the first time and starts the worker; a running worker is left alone.
  void Start();
  // Stops and joins the worker.
  void Stop();
  // Ends the worker's wait: a scan follows at once, with the settings then in force.
  void Wake();
  // Runs `choose`, which stores the settings that make `folder` the inbox and says whether the
  // user has just chosen it, with no scan beside it (a scan under way is waited for). The files
  // then lying in a folder just chosen count as seen before `choose`'s caller answers, so only
  // sounds that arrive afterwards are prepared: a Downloads folder holds sounds the user never
  // meant as clips. A folder too full to count has them recorded by the first scan that can.
  void WatchFromNow(const std::filesystem::path& folder, const std::function<bool()>& choose);
  SoundInboxStatus GetStatus() const;

  // One scan with these settings, as of `scan_time` on the steady clock; the worker passes the
  // current time. Never overlaps the worker's scan. False with `error`, which names the file,
  // when a preparation failed.
  bool ScanOnce(const MixerSettings& settings, std::chrono::steady_clock::time_point scan_time,
                std::string* error);

 private:
  void WorkerLoop();
  // Waits until the next scan is due; false when the worker is to stop.
  bool WaitForNextScan();
  // One scan from the worker, with the scan mutex held.
  void RunScan();
  // The scan itself; the caller holds the scan mutex and the ledger is loaded.
  bool ScanLocked(const MixerSettings& settings, std::chrono::steady_clock::time_point scan_time,
                  std::string* error);
  // Hands each finished sound file in the folder (with its time stamped `scan_time`) to `visit`
  // until that returns false. False when the folder holds more files than a scan may count.
  bool VisitSoundFiles(const std::filesystem::path& folder,
                       std::chrono::steady_clock::time_point scan_time,
                       const std::function<bool(const SoundInboxCandidate&)>& visit);
  void StoreTooManyFiles(SoundInboxStatus* status);
  // Walks the folder into `seen`; false when the scan has to end early (its status is stored,
  // and `error` names a file refused as too large).
  bool CollectCandidates(const std::filesystem::path& folder,
                         std::chrono::steady_clock::time_point scan_time,
                         SoundInboxStatus* status, std::vector<SoundInboxCandidate>* seen,
                         std::string* error);
  // The sounds lying in the folder; false when it holds more files than a scan may count.
  bool ListPresentFiles(const std::filesystem::path& folder,
                        std::vector<SoundInboxRecord>* present);
  // Records them as present when chosen, in place of a scan. The state mutex is held.
  void KeepPresentFiles(std::vector<SoundInboxRecord> present);
  // The scan of a folder chosen while too full to count.
  void RecordPresentFiles(const std::filesystem::path& folder, SoundInboxStatus* status);
  // Merges the walk into the pending list; returns the settled file to prepare, if any.
  bool MergePending(const std::vector<SoundInboxCandidate>& seen,
                    std::chrono::steady_clock::time_point scan_time, SoundInboxStatus* status,
                    SoundInboxCandidate* chosen);
  bool Prepare(const MixerSettings& settings, const SoundInboxCandidate& file,
               SoundInboxStatus* status, std::string* error);
  std::filesystem::path DestinationFolder(const MixerSettings& settings) const;

  // Copies every field but the revision, which advances when asked.
  void SetStatus(SoundInboxStatus status, bool advance);
  // The state mutex is held by the callers of these.
  void LoadStateIfNeeded();
  void LoadState();
  void SaveState();
  bool HasRecord(const std::string& file_key) const;
  void AppendRecord(SoundInboxRecord record);
  void IndexLedger();

  RuntimeState* runtime_state_;
  ProfileService* profile_service_;
  ConverterService* converter_;
  const std::filesystem::path ledger_path_;
  const std::filesystem::path logs_folder_;

  mutable std::mutex state_mutex_;  // guards everything below but the scan mutex
  std::condition_variable wake_;
  std::thread worker_;
  bool stop_requested_ = false;
  bool wake_requested_ = false;
  bool ledger_loaded_ = false;
  uint32_t revision_ = 0;
  SoundInboxStatus status_;
  std::vector<SoundInboxRecord> ledger_;  // oldest first
  // The files that lay in the folder when it was chosen: seen, never prepared.
  std::vector<SoundInboxRecord> present_when_chosen_;
  // The keys of both lists, for lookups while walking.
  std::unordered_set<std::string> ledger_keys_;
  // A folder chosen while too full to count, whose files are to be recorded as present at its
  // next scan that can count them; empty when none.
  std::filesystem::path watch_from_now_;
  std::vector<SoundInboxCandidate> pending_;  // in the order first seen

  // Held for the whole of one scan; taken before the state mutex, never after.
  std::mutex scan_mutex_;
};

}  // namespace zennic

#include "platform/audio_thread_priority.h"

#include <gio/gio.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zennic {
namespace {

// Above the desktop's ordinary real-time work, well below the system's own.
constexpr int kRealtimePriority = 10;
constexpr int kRaisedNice = -10;
// rtkit grants real-time only to processes that cap the CPU time a real-time thread may take
// without blocking; the audio threads block every few milliseconds.
constexpr rlim_t kRealtimeCpuLimitMicroseconds = 200000;

bool SetRealtime(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  // Children (folder openers, players) start at normal priority.
  return pthread_setschedparam(pthread_self(), SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

// Asks rtkit, the desktop's broker of scheduling priorities, over the system bus.
bool AskRtkit(const char* method, GVariant* arguments, std::string* reason) {
  GError* failure = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &failure);
  if (bus == nullptr) {
    *reason = failure != nullptr ? failure->message : "no system bus";
    g_clear_error(&failure);
    g_variant_unref(g_variant_ref_sink(arguments));
    return false;
  }
  GVariant* answer = g_dbus_connection_call_sync(
      bus, "org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1",
      "org.freedesktop.RealtimeKit1", method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, 1000,
      nullptr, &failure);
  g_object_unref(bus);
  if (answer == nullptr) {
    *reason = failure != nullptr ? failure->message : "rtkit did not answer";
    g_clear_error(&failure);
    return false;
  }
  g_variant_unref(answer);
  return true;
}

bool CapRealtimeCpuTime() {
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= kRealtimeCpuLimitMicroseconds) {
    return true;
  }
  limit.rlim_cur = limit.rlim_max = kRealtimeCpuLimitMicroseconds;
  return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

}  // namespace

std::string RaiseAudioThreadPriority() {
  const auto thread_id = static_cast<guint64>(syscall(SYS_gettid));
  if (SetRealtime(kRealtimePriority)) {
    return "real-time priority " + std::to_string(kRealtimePriority);
  }
  rlimit allowed{};
  if (getrlimit(RLIMIT_RTPRIO, &allowed) == 0 && allowed.rlim_cur > 0) {
    int priority = static_cast<int>(std::min<rlim_t>(allowed.rlim_cur, kRealtimePriority));
    if (SetRealtime(priority)) return "real-time priority " + std::to_string(priority);
  }
  std::string reason;
  if (CapRealtimeCpuTime() &&
      AskRtkit("MakeThreadRealtime", g_variant_new("(tu)", thread_id, guint32{kRealtimePriority}),
               &reason)) {
    return "real-time priority " + std::to_string(kRealtimePriority) + " through rtkit";
  }
  const std::string raised = "raised priority (nice " + std::to_string(kRaisedNice) + ")";
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kRaisedNice) == 0) return raised;
  if (AskRtkit("MakeThreadHighPriority", g_variant_new("(ti)", thread_id, gint32{kRaisedNice}),
               &reason)) {
    return raised + " through rtkit";
  }
  return "normal priority: " + reason;
}

}  // namespace zennic

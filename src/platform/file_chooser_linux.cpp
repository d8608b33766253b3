#include "platform/file_chooser.h"

#include <gtk/gtk.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "platform/desktop_display.h"

namespace zennic {
namespace {

// One chooser between the waiting thread and the desktop's thread.
struct PendingChooser {
  FileChooserRequest request;
  GtkFileChooserNative* dialog = nullptr;  // desktop thread only
  std::mutex mutex;
  std::condition_variable answered_cv;
  bool answered = false;
  FileChooserResult result;

  void Answer(FileChooserResult answer) {
    std::lock_guard<std::mutex> lock(mutex);
    if (answered) return;
    answered = true;
    result = std::move(answer);
    answered_cv.notify_all();
  }
};

// Every chooser that a thread waits for, shown or still queued, so closing the desktop can
// answer them all.
std::mutex waiting_mutex;
std::set<std::shared_ptr<PendingChooser>> waiting;

std::shared_ptr<PendingChooser> FindWaiting(const PendingChooser* raw) {
  std::lock_guard<std::mutex> lock(waiting_mutex);
  for (const auto& pending : waiting) {
    if (pending.get() == raw) return pending;
  }
  return nullptr;
}

// Desktop thread only, as the dialog is touched.
void Finish(const std::shared_ptr<PendingChooser>& pending, FileChooserResult result) {
  if (pending->dialog != nullptr) {
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(pending->dialog));
    g_object_unref(pending->dialog);
    pending->dialog = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(waiting_mutex);
    waiting.erase(pending);
  }
  pending->Answer(std::move(result));
}

void CloseEveryChooser() {
  std::set<std::shared_ptr<PendingChooser>> open;
  {
    std::lock_guard<std::mutex> lock(waiting_mutex);
    open = waiting;
  }
  for (const auto& pending : open) Finish(pending, {FileChooserStatus::Unavailable, {}});
}

// GTK's patterns are case-sensitive; a file named "CLIP.WAV" must match ".wav".
std::string CaseFreePattern(const std::string& extension) {
  std::string pattern = "*";
  for (char c : extension) {
    char lower = g_ascii_tolower(c);
    char upper = g_ascii_toupper(c);
    pattern += lower == upper ? std::string(1, c) : std::string("[") + lower + upper + "]";
  }
  return pattern;
}

FileChooserResult ResultOf(GtkFileChooser* chooser) {
  GFile* file = gtk_file_chooser_get_file(chooser);
  if (file == nullptr) return {FileChooserStatus::Unresolved, {}};
  char* local = g_file_get_path(file);
  g_object_unref(file);
  if (local == nullptr || *local == '\0') {
    g_free(local);
    return {FileChooserStatus::NoLocalPath, {}};
  }
  std::filesystem::path path(local);
  g_free(local);
  return {FileChooserStatus::Chosen, std::move(path)};
}

void OnResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  std::shared_ptr<PendingChooser> pending = FindWaiting(static_cast<PendingChooser*>(data));
  if (!pending) return;
  FileChooserResult result = response == GTK_RESPONSE_ACCEPT
                                 ? ResultOf(GTK_FILE_CHOOSER(dialog))
                                 : FileChooserResult{FileChooserStatus::Cancelled, {}};
  Finish(pending, std::move(result));
}

void Show(const std::shared_ptr<PendingChooser>& pending) {
  {
    std::lock_guard<std::mutex> lock(pending->mutex);
    if (pending->answered) return;
  }
  const FileChooserRequest& request = pending->request;
  bool folder = request.kind == FileChooserKind::Folder;
  GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
      request.title.c_str(), nullptr,
      folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, nullptr,
      nullptr);
  if (dialog == nullptr) {
    Finish(pending, {FileChooserStatus::Unavailable, {}});
    return;
  }
  pending->dialog = dialog;
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  for (const FileChooserFilter& wanted : request.filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, wanted.name.c_str());
    if (wanted.extensions.empty()) gtk_file_filter_add_pattern(filter, "*");
    for (const std::string& extension : wanted.extensions) {
      gtk_file_filter_add_pattern(filter, CaseFreePattern(extension).c_str());
    }
    gtk_file_chooser_add_filter(chooser, filter);  // takes the filter
  }
  std::error_code no_status;
  if (!request.initial_folder.empty() &&
      std::filesystem::is_directory(request.initial_folder, no_status) &&
      !gtk_file_chooser_set_current_folder(chooser, request.initial_folder.c_str())) {
    Finish(pending, {FileChooserStatus::FailedToOpen, {}});
    return;
  }
  g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), pending.get());
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

}  // namespace

FileChooserResult RunFileChooser(const FileChooserRequest& request) {
  static std::once_flag listen_once;
  std::call_once(listen_once, [] { AddDesktopCloseListener(CloseEveryChooser); });

  auto pending = std::make_shared<PendingChooser>();
  pending->request = request;
  {
    std::lock_guard<std::mutex> lock(waiting_mutex);
    waiting.insert(pending);
  }
  if (!PostToDesktopThread([pending] { Show(pending); })) {
    std::lock_guard<std::mutex> lock(waiting_mutex);
    waiting.erase(pending);
    return {FileChooserStatus::Unavailable, {}};
  }
  // A chooser still queued when the desktop closes is answered by the close too.
  std::unique_lock<std::mutex> lock(pending->mutex);
  pending->answered_cv.wait(lock, [&] { return pending->answered; });
  return pending->result;
}

}  // namespace zennic

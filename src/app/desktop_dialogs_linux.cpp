#include <gtk/gtk.h>

#include <algorithm>
#include <fstream>

#include "app/desktop_shell.h"

namespace zennic {
namespace {

constexpr char kWelcomeTitle[] = "Ruzerad is running";
constexpr char kWelcomeIntro[] =
    "Ruzerad is running in your system tray. To open the UI, paste this URL into your browser "
    "or Steam overlay browser:";
constexpr char kWelcomeOutro[] =
    "You can find this URL anytime by right-clicking the Ruzerad icon in the system tray.";
constexpr char kWelcomeCopy[] = "Copy URL";
constexpr char kWelcomeOk[] = "OK";
constexpr char kWelcomeCheckbox[] = "Don't show this again";
constexpr char kWelcomeAddress[] = "http://127.0.0.1:5000";
constexpr int kCopyResponse = 1;

const char* OrDefault(const std::string& text, const char* fallback) {
  return text.empty() ? fallback : text.c_str();
}

GtkMessageType MessageTypeOf(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::Warning: return GTK_MESSAGE_WARNING;
    case MessageBoxIcon::Error: return GTK_MESSAGE_ERROR;
    case MessageBoxIcon::Information: break;
  }
  return GTK_MESSAGE_INFO;
}

GtkWidget* WrappedLabel(const char* text) {
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  return label;
}

// Only its existence matters; a flag that cannot be written shows the window again next time.
void WriteFlagFile(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream flag(path, std::ios::binary | std::ios::trunc);
  if (flag) flag << '1';
}

void SetClipboardText(GtkClipboard*, GtkSelectionData* selection, guint, gpointer text) {
  const auto* copy = static_cast<const std::string*>(text);
  gtk_selection_data_set_text(selection, copy->c_str(), static_cast<gint>(copy->size()));
}

void ForgetClipboardText(GtkClipboard*, gpointer text) { delete static_cast<std::string*>(text); }

}  // namespace

int DesktopShell::RunDialog(void* dialog) {
  if (ending_) return GTK_RESPONSE_DELETE_EVENT;
  open_dialogs_.push_back(dialog);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_present(GTK_WINDOW(dialog));
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  open_dialogs_.erase(std::find(open_dialogs_.begin(), open_dialogs_.end(), dialog));
  return response;
}

void DesktopShell::ShowMessageBox(MessageBoxIcon icon, const std::string& caption,
                                  const std::string& text) {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageTypeOf(icon),
                                             GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  RunDialog(dialog);
  gtk_widget_destroy(dialog);
}

bool DesktopShell::AskYesNo(const std::string& caption, const std::string& text, bool) {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                             GTK_BUTTONS_YES_NO, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
  bool yes = RunDialog(dialog) == GTK_RESPONSE_YES;
  gtk_widget_destroy(dialog);
  return yes;
}

bool DesktopShell::RunWelcome(const WelcomeOptions& options) {
  if (ending_) return true;
  GtkWidget* dialog = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(dialog), OrDefault(options.title, kWelcomeTitle));
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 470, -1);

  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 18);
  gtk_box_set_spacing(GTK_BOX(content), 12);
  GtkWidget* address = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(address), OrDefault(options.address, kWelcomeAddress));
  gtk_editable_set_editable(GTK_EDITABLE(address), FALSE);
  GtkWidget* suppress =
      gtk_check_button_new_with_label(OrDefault(options.checkbox, kWelcomeCheckbox));
  gtk_box_pack_start(GTK_BOX(content), WrappedLabel(OrDefault(options.intro, kWelcomeIntro)),
                     FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(content), address, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(content), WrappedLabel(OrDefault(options.outro, kWelcomeOutro)),
                     FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(content), suppress, FALSE, FALSE, 0);
  gtk_dialog_add_button(GTK_DIALOG(dialog), OrDefault(options.copy_button, kWelcomeCopy),
                        kCopyResponse);
  GtkWidget* ok =
      gtk_dialog_add_button(GTK_DIALOG(dialog), OrDefault(options.ok_button, kWelcomeOk),
                            GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_show_all(content);
  gtk_widget_grab_focus(ok);

  // Copying keeps the window open; any other way of closing it counts as OK.
  while (RunDialog(dialog) == kCopyResponse) {
    CopyTextToClipboard(gtk_entry_get_text(GTK_ENTRY(address)));
  }
  if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(suppress))) {
    WriteFlagFile(options.flag_file);
  }
  gtk_widget_destroy(dialog);
  return true;
}

bool DesktopShell::CopyTextToClipboard(const std::string& text) {
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  GtkTargetList* list = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_text_targets(list, 0);
  int count = 0;
  GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
  auto* copy = new std::string(text);
  bool owned = gtk_clipboard_set_with_data(clipboard, targets, static_cast<guint>(count),
                                           SetClipboardText, ForgetClipboardText, copy);
  if (!owned) delete copy;
  gtk_target_table_free(targets, count);
  gtk_target_list_unref(list);
  return owned;
}

}  // namespace zennic

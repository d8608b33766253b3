#include "app/console_shell.h"

#include <cstdio>

#include "core/app_log.h"
#include "core/text.h"
#include "platform/terminal_question.h"
#include "platform/termination_signals.h"

namespace zennic {
namespace {

constexpr char kLogTag[] = "TrayHost";

// A log entry is one line.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c != '\n') {
      line += c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  return line;
}

void Print(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace

ConsoleShell::ConsoleShell(std::filesystem::path logs_folder)
    : logs_folder_(std::move(logs_folder)) {}

bool ConsoleShell::Create(const std::string&, TrayCallbacks callbacks, std::string*) {
  callbacks_ = std::move(callbacks);
  return true;
}

void ConsoleShell::ShowNotification(const std::string& title, const std::string& message) {
  Print(title + ": " + message);
  WriteLogLine(logs_folder_, kLogTag, OneLine(title + ": " + message));
}

int ConsoleShell::RunMessageLoop() {
  for (;;) {
    TerminationRequest request = WaitForTerminationRequest();
    // The session's end restores what the program changed; the system ends the program next.
    if (callbacks_.exit) callbacks_.exit();
    if (request == TerminationRequest::Exit) return 0;
  }
}

void ConsoleShell::ShowMessageBox(MessageBoxIcon, const std::string& caption,
                                  const std::string& text) {
  Print(caption + "\n\n" + text);
  // The caption alone: a box's text may read like the log's own lines ("Ruzerad started ...").
  WriteLogLine(logs_folder_, kLogTag, "Shown on the terminal: " + caption);
}

bool ConsoleShell::AskYesNo(const std::string& caption, const std::string& text,
                            bool safe_answer) {
  std::optional<std::string> reply = AskOnTerminal(caption + "\n\n" + text + " [y/n] ");
  bool yes = safe_answer;
  std::string how = "no terminal to ask on";
  if (reply) {
    std::string answer = ToLower(Trim(*reply));
    how = "asked on the terminal";
    if (answer == "y" || answer == "yes") yes = true;
    if (answer == "n" || answer == "no") yes = false;
  }
  WriteLogLine(logs_folder_, kLogTag,
               OneLine(caption + ": " + text) + " " + (yes ? "Yes" : "No") + " (" + how + ")");
  return yes;
}

}  // namespace zennic

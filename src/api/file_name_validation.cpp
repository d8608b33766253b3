#include "api/file_name_validation.h"

#include <array>
#include <cctype>

#include "core/text.h"

namespace zennic {
namespace {

// The codes and the noun that one validator's refusals use.
struct NameKind {
  const char* required_code;
  const char* required_message;
  const char* invalid_code;
  const char* reserved_code;
  const char* noun;  // starts each sentence
};

constexpr NameKind kOutputName{"filename_required", "Output filename is required",
                               "filename_invalid", "reserved_filename", "Filename"};
constexpr NameKind kNewName{"filename_required", "New filename is required", "filename_invalid",
                            "reserved_filename", "Filename"};
constexpr NameKind kFolderName{"folder_name_required", "Folder name is required",
                               "folder_name_invalid", "reserved_folder_name", "Folder name"};

bool Refuse(std::string* code, std::string* message, const std::string& code_text,
            const std::string& message_text) {
  if (code) *code = code_text;
  if (message) *message = message_text;
  return false;
}

bool IsForbiddenCharacter(unsigned char c) {
  static constexpr std::string_view kForbidden = "\"*/:<>?\\|";
  return c < 32 || kForbidden.find(static_cast<char>(c)) != std::string_view::npos;
}

// The tests every kind of name passes, in their fixed order.
bool PassesSharedTests(const std::string& name, const NameKind& kind, std::string* code,
                       std::string* message) {
  const std::string noun = kind.noun;
  if (Trim(name).empty()) return Refuse(code, message, kind.required_code, kind.required_message);
  if (name == "." || name == "..") {
    return Refuse(code, message, kind.invalid_code, noun + " cannot be . or ..");
  }
  if (name.back() == '.' || name.back() == ' ') {
    return Refuse(code, message, kind.invalid_code, noun + " cannot end with a dot or space");
  }
  for (char c : name) {
    if (IsForbiddenCharacter(static_cast<unsigned char>(c))) {
      return Refuse(code, message, kind.invalid_code,
                    noun + " contains characters that are not allowed on Windows");
    }
  }
  if (IsReservedDeviceName(name)) {
    return Refuse(code, message, kind.reserved_code, noun + " uses a reserved Windows device name");
  }
  return true;
}

bool Accept(const std::string& name, std::filesystem::path* accepted) {
  if (accepted) *accepted = Utf8ToPath(name);
  return true;
}

// Where the extension starts as file paths define it: the last dot, unless it is the first
// character.
size_t ExtensionDot(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == 0 ? std::string::npos : dot;
}

}  // namespace

bool HasValidExtension(std::string_view name, size_t dot) {
  if (dot == std::string_view::npos || dot == 0 || dot >= name.size()) return false;
  std::string_view extension = name.substr(dot + 1);
  if (extension.empty() || extension.size() > 16) return false;
  for (char c : extension) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool IsReservedDeviceName(std::string_view name) {
  static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
  std::string base = ToLower(name.substr(0, name.find('.')));
  for (std::string_view reserved : kPlain) {
    if (base == reserved) return true;
  }
  return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) &&
         base[3] >= '1' && base[3] <= '9';
}

bool ValidateOutputFilename(const std::string& name, std::filesystem::path* accepted,
                            std::string* code, std::string* message) {
  if (!PassesSharedTests(name, kOutputName, code, message)) return false;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return Accept(name + ".wav", accepted);
  if (dot == 0) {
    return Refuse(code, message, "filename_invalid",
                  "Filename must include a base name before the extension");
  }
  if (EqualsIgnoreCase(name.substr(dot), ".wav")) {
    return Accept(name.substr(0, dot) + ".wav", accepted);
  }
  if (HasValidExtension(name, dot)) {
    return Refuse(code, message, "extension_invalid",
                  "Export filename extension must be .wav or omitted");
  }
  return Accept(name + ".wav", accepted);
}

bool ValidateNewFilename(const std::filesystem::path& current, const std::string& name,
                         std::filesystem::path* accepted, std::string* code, std::string* message) {
  if (!PassesSharedTests(name, kNewName, code, message)) return false;
  std::string current_extension = current.extension().string();
  size_t dot = ExtensionDot(name);
  if (dot == std::string::npos) return Accept(name + current_extension, accepted);
  if (EqualsIgnoreCase(name.substr(dot), current_extension)) return Accept(name, accepted);
  if (HasValidExtension(name, dot)) {
    return Refuse(code, message, "extension_invalid", "Filename extension must stay the same");
  }
  return Accept(name + current_extension, accepted);
}

bool ValidateFolderName(const std::string& name, std::filesystem::path* accepted, std::string* code,
                        std::string* message) {
  if (!PassesSharedTests(name, kFolderName, code, message)) return false;
  if (EqualsIgnoreCase(name, "_originals")) {
    return Refuse(code, message, "folder_name_invalid", "_originals is reserved by Ruzerad");
  }
  return Accept(name, accepted);
}

}  // namespace zennic

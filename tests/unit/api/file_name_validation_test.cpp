// Names typed by the user: what each validator accepts, turns into, or refuses with which code.

#include "api/file_name_validation.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

// The accepted name, or "!" followed by the refusal's code.
template <typename Validate>
std::string Outcome(Validate validate) {
  std::filesystem::path accepted;
  std::string code;
  std::string message;
  if (!validate(&accepted, &code, &message)) {
    EXPECT_FALSE(message.empty());
    return "!" + code;
  }
  return accepted.string();
}

std::string Output(const std::string& name) {
  return Outcome([&](auto... out) { return ValidateOutputFilename(name, out...); });
}
std::string Renamed(const std::string& current, const std::string& name) {
  return Outcome([&](auto... out) { return ValidateNewFilename(current, name, out...); });
}
std::string Folder(const std::string& name) {
  return Outcome([&](auto... out) { return ValidateFolderName(name, out...); });
}

TEST(FileNameValidation, SharedRulesInTheirOrder) {
  for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
           {"   ", "!filename_required"},
           {"..", "!filename_invalid"},
           {"intro.wav ", "!filename_invalid"},
           {"intro.", "!filename_invalid"},
           {" intro.wav", " intro.wav"},
           {"a:b.wav", "!filename_invalid"},
           {"a/b.wav", "!filename_invalid"},
           {"a\\b.wav", "!filename_invalid"},
           {"tab\there", "!filename_invalid"},
           {"nul.txt.wav", "!reserved_filename"},
           {"COM1.wav", "!reserved_filename"},
           {"lpt9", "!reserved_filename"},
           {"aux.tar.gz", "!reserved_filename"},
           {"com10.wav", "com10.wav"},
           {"console.wav", "console.wav"},
           {"com0.wav", "com0.wav"},
           {"café.wav", "café.wav"},
       }) {
    EXPECT_EQ(Output(name), expected) << "[" << name << "]";
  }
  EXPECT_EQ(Folder("   "), "!folder_name_required");
  EXPECT_EQ(Folder("a/b"), "!folder_name_invalid");
  EXPECT_EQ(Folder("con"), "!reserved_folder_name");
  EXPECT_EQ(Renamed("/r/a.mp3", ""), "!filename_required");
}

TEST(FileNameValidation, ExtensionRulesOfEachKind) {
  for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
           {"mix", "mix.wav"},
           {"mix.Wav", "mix.wav"},
           {"Clip.WAV", "Clip.wav"},
           {"mix.flac", "!extension_invalid"},
           {"mix.my take", "mix.my take.wav"},
           {"Take 2.final mix", "Take 2.final mix.wav"},
           {"mix.abcdefghijklmnopq", "mix.abcdefghijklmnopq.wav"},
           {".wav", "!filename_invalid"},
       }) {
    EXPECT_EQ(Output(name), expected) << name;
  }
  for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
           {"b", "b.mp3"},
           {"b.MP3", "b.MP3"},
           {"b.wav", "!extension_invalid"},
           {"b.x y", "b.x y.mp3"},
           {"intro.v2 final", "intro.v2 final.mp3"},
           {".hidden", ".hidden.mp3"},
       }) {
    EXPECT_EQ(Renamed("/r/a.mp3", name), expected) << name;
  }
  EXPECT_EQ(Folder("_Originals"), "!folder_name_invalid");
  EXPECT_EQ(Folder("originals"), "originals");
  EXPECT_EQ(Folder("_originals2"), "_originals2");
}

}  // namespace
}  // namespace zennic

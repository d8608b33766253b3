#include "engine/x11_key_codes.h"

#include <array>

namespace zennic {
namespace {

constexpr unsigned kXKeycodeOffset = 8;

struct KeyRow {
  uint16_t input_code;  // the kernel's code; X adds kXKeycodeOffset
  uint8_t vk;
  uint8_t vk_without_num_lock;  // 0: the same as vk
  uint16_t scan_code;           // make code, with its E0 or E1 prefix in the high byte
};

// US layout. Codes 1 to 88 send the make code equal to the input code; the rest are listed.
constexpr KeyRow kKeys[] = {
    {1, 0x1B, 0, 0x01},   // Escape
    {2, 0x31, 0, 0x02},   {3, 0x32, 0, 0x03},  {4, 0x33, 0, 0x04},  {5, 0x34, 0, 0x05},
    {6, 0x35, 0, 0x06},   {7, 0x36, 0, 0x07},  {8, 0x37, 0, 0x08},  {9, 0x38, 0, 0x09},
    {10, 0x39, 0, 0x0A},  {11, 0x30, 0, 0x0B},
    {12, 0xBD, 0, 0x0C},  // -
    {13, 0xBB, 0, 0x0D},  // =
    {14, 0x08, 0, 0x0E},  // Backspace
    {15, 0x09, 0, 0x0F},  // Tab
    {16, 'Q', 0, 0x10},   {17, 'W', 0, 0x11},  {18, 'E', 0, 0x12},  {19, 'R', 0, 0x13},
    {20, 'T', 0, 0x14},   {21, 'Y', 0, 0x15},  {22, 'U', 0, 0x16},  {23, 'I', 0, 0x17},
    {24, 'O', 0, 0x18},   {25, 'P', 0, 0x19},
    {26, 0xDB, 0, 0x1A},  // [
    {27, 0xDD, 0, 0x1B},  // ]
    {28, 0x0D, 0, 0x1C},  // Enter
    {29, 0x11, 0, 0x1D},  // Left Ctrl
    {30, 'A', 0, 0x1E},   {31, 'S', 0, 0x1F},  {32, 'D', 0, 0x20},  {33, 'F', 0, 0x21},
    {34, 'G', 0, 0x22},   {35, 'H', 0, 0x23},  {36, 'J', 0, 0x24},  {37, 'K', 0, 0x25},
    {38, 'L', 0, 0x26},
    {39, 0xBA, 0, 0x27},  // ;
    {40, 0xDE, 0, 0x28},  // '
    {41, 0xC0, 0, 0x29},  // `
    {42, 0x10, 0, 0x2A},  // Left Shift
    {43, 0xDC, 0, 0x2B},  // backslash
    {44, 'Z', 0, 0x2C},   {45, 'X', 0, 0x2D},  {46, 'C', 0, 0x2E},  {47, 'V', 0, 0x2F},
    {48, 'B', 0, 0x30},   {49, 'N', 0, 0x31},  {50, 'M', 0, 0x32},
    {51, 0xBC, 0, 0x33},  // ,
    {52, 0xBE, 0, 0x34},  // .
    {53, 0xBF, 0, 0x35},  // /
    {54, 0x10, 0, 0x36},  // Right Shift
    {55, 0x6A, 0, 0x37},  // Numpad *
    {56, 0x12, 0, 0x38},  // Left Alt
    {57, 0x20, 0, 0x39},  // Space
    {58, 0x14, 0, 0x3A},  // CapsLock
    {59, 0x70, 0, 0x3B},  {60, 0x71, 0, 0x3C}, {61, 0x72, 0, 0x3D}, {62, 0x73, 0, 0x3E},
    {63, 0x74, 0, 0x3F},  {64, 0x75, 0, 0x40}, {65, 0x76, 0, 0x41}, {66, 0x77, 0, 0x42},
    {67, 0x78, 0, 0x43},  {68, 0x79, 0, 0x44},  // F1 to F10
    {69, 0x90, 0, 0x45},  // NumLock
    {70, 0x91, 0, 0x46},  // ScrollLock
    // The keypad: digits with NumLock on, navigation keys (without E0) with it off.
    {71, 0x67, 0x24, 0x47}, {72, 0x68, 0x26, 0x48}, {73, 0x69, 0x21, 0x49},
    {74, 0x6D, 0, 0x4A},  // Numpad -
    {75, 0x64, 0x25, 0x4B}, {76, 0x65, 0x0C, 0x4C}, {77, 0x66, 0x27, 0x4D},
    {78, 0x6B, 0, 0x4E},  // Numpad +
    {79, 0x61, 0x23, 0x4F}, {80, 0x62, 0x28, 0x50}, {81, 0x63, 0x22, 0x51},
    {82, 0x60, 0x2D, 0x52}, {83, 0x6E, 0x2E, 0x53},
    {86, 0xE2, 0, 0x56},  // the extra key left of Z on ISO keyboards
    {87, 0x7A, 0, 0x57},  {88, 0x7B, 0, 0x58},  // F11, F12
    {96, 0x0D, 0, 0xE01C},   // Numpad Enter
    {97, 0x11, 0, 0xE01D},   // Right Ctrl
    {98, 0x6F, 0, 0xE035},   // Numpad /
    {99, 0x2C, 0, 0xE037},   // Print Screen
    {100, 0x12, 0, 0xE038},  // Right Alt
    {102, 0x24, 0, 0xE047},  // Home
    {103, 0x26, 0, 0xE048},  // Arrow Up
    {104, 0x21, 0, 0xE049},  // PageUp
    {105, 0x25, 0, 0xE04B},  // Arrow Left
    {106, 0x27, 0, 0xE04D},  // Arrow Right
    {107, 0x23, 0, 0xE04F},  // End
    {108, 0x28, 0, 0xE050},  // Arrow Down
    {109, 0x22, 0, 0xE051},  // PageDown
    {110, 0x2D, 0, 0xE052},  // Insert
    {111, 0x2E, 0, 0xE053},  // Delete
    {119, 0x13, 0, 0xE11D},  // Pause
    {125, 0x5B, 0, 0xE05B},  // Left Windows
    {126, 0x5C, 0, 0xE05C},  // Right Windows
    {127, 0x5D, 0, 0xE05D},  // Menu
    {183, 0x7C, 0, 0x64},  {184, 0x7D, 0, 0x65}, {185, 0x7E, 0, 0x66}, {186, 0x7F, 0, 0x67},
    {187, 0x80, 0, 0x68},  {188, 0x81, 0, 0x69}, {189, 0x82, 0, 0x6A}, {190, 0x83, 0, 0x6B},
    {191, 0x84, 0, 0x6C},  {192, 0x85, 0, 0x6D}, {193, 0x86, 0, 0x6E}, {194, 0x87, 0, 0x76},
    // F13 to F24
};

const KeyRow* FindByXKeycode(unsigned x_keycode) {
  for (const KeyRow& row : kKeys) {
    if (row.input_code + kXKeycodeOffset == x_keycode) return &row;
  }
  return nullptr;
}

struct ButtonRow {
  unsigned x_button;
  uint32_t code;
};

constexpr std::array<ButtonRow, 5> kButtons = {{{1, 1}, {3, 2}, {2, 4}, {8, 5}, {9, 6}}};

}  // namespace

std::optional<RawKeyEvent> RawKeyEventFromXKey(unsigned x_keycode, bool is_down, bool num_lock_on) {
  const KeyRow* row = FindByXKeycode(x_keycode);
  if (row == nullptr) return std::nullopt;
  RawKeyEvent event;
  event.is_down = is_down;
  event.vk = (num_lock_on || row->vk_without_num_lock == 0) ? row->vk : row->vk_without_num_lock;
  event.scan_code = row->scan_code & 0xFFu;
  event.extended = (row->scan_code >> 8) != 0;
  return event;
}

std::optional<RawKeyEvent> RawKeyEventFromXButton(unsigned x_button, bool is_down) {
  for (const ButtonRow& row : kButtons) {
    if (row.x_button == x_button) return RawKeyEvent{is_down, row.code, row.code, false};
  }
  return std::nullopt;
}

std::optional<unsigned> XKeycodeFromScanCode(uint32_t scan_code, bool extended) {
  uint32_t prefix = (scan_code >> 8) & 0xFFu;
  if (prefix == 0 && extended) prefix = 0xE0;
  uint32_t wanted = (prefix << 8) | (scan_code & 0xFFu);
  for (const KeyRow& row : kKeys) {
    if (row.scan_code == wanted) return row.input_code + kXKeycodeOffset;
  }
  return std::nullopt;
}

std::optional<unsigned> XButtonFromMouseButtonCode(uint32_t code) {
  for (const ButtonRow& row : kButtons) {
    if (row.code == code) return row.x_button;
  }
  return std::nullopt;
}

}  // namespace zennic

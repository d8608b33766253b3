#include "platform/keyboard_layout.h"

#include <array>

namespace zennic {
namespace {

// X11 keyboards have no virtual keys of their own, so the program always speaks the US
// PC/AT layout (scan code set 1) here.
struct ScanCodeRow {
  uint32_t vk;
  int32_t scan_code;
};

constexpr std::array kUsLayout = {
    ScanCodeRow{0x08, 0x0E},    // Backspace
    ScanCodeRow{0x09, 0x0F},    // Tab
    ScanCodeRow{0x0C, 0x4C},    // Clear (numpad 5 without Num Lock)
    ScanCodeRow{0x0D, 0x1C},    // Enter
    ScanCodeRow{0x10, 0x2A},    // Shift
    ScanCodeRow{0x11, 0x1D},    // Ctrl
    ScanCodeRow{0x12, 0x38},    // Alt
    ScanCodeRow{0x14, 0x3A},    // Caps Lock
    ScanCodeRow{0x1B, 0x01},    // Esc
    ScanCodeRow{0x20, 0x39},    // Space
    ScanCodeRow{0x21, 0xE049},  // Page Up
    ScanCodeRow{0x22, 0xE051},  // Page Down
    ScanCodeRow{0x23, 0xE04F},  // End
    ScanCodeRow{0x24, 0xE047},  // Home
    ScanCodeRow{0x25, 0xE04B},  // Left
    ScanCodeRow{0x26, 0xE048},  // Up
    ScanCodeRow{0x27, 0xE04D},  // Right
    ScanCodeRow{0x28, 0xE050},  // Down
    ScanCodeRow{0x2D, 0xE052},  // Insert
    ScanCodeRow{0x2E, 0xE053},  // Delete
    ScanCodeRow{0x30, 0x0B},    // 0
    ScanCodeRow{0x31, 0x02},    // 1
    ScanCodeRow{0x32, 0x03},
    ScanCodeRow{0x33, 0x04},
    ScanCodeRow{0x34, 0x05},
    ScanCodeRow{0x35, 0x06},
    ScanCodeRow{0x36, 0x07},
    ScanCodeRow{0x37, 0x08},
    ScanCodeRow{0x38, 0x09},
    ScanCodeRow{0x39, 0x0A},  // 9
    ScanCodeRow{0x41, 0x1E},  // A
    ScanCodeRow{0x42, 0x30},
    ScanCodeRow{0x43, 0x2E},
    ScanCodeRow{0x44, 0x20},
    ScanCodeRow{0x45, 0x12},
    ScanCodeRow{0x46, 0x21},
    ScanCodeRow{0x47, 0x22},
    ScanCodeRow{0x48, 0x23},
    ScanCodeRow{0x49, 0x17},
    ScanCodeRow{0x4A, 0x24},
    ScanCodeRow{0x4B, 0x25},
    ScanCodeRow{0x4C, 0x26},
    ScanCodeRow{0x4D, 0x32},
    ScanCodeRow{0x4E, 0x31},
    ScanCodeRow{0x4F, 0x18},
    ScanCodeRow{0x50, 0x19},
    ScanCodeRow{0x51, 0x10},
    ScanCodeRow{0x52, 0x13},
    ScanCodeRow{0x53, 0x1F},
    ScanCodeRow{0x54, 0x14},
    ScanCodeRow{0x55, 0x16},
    ScanCodeRow{0x56, 0x2F},
    ScanCodeRow{0x57, 0x11},
    ScanCodeRow{0x58, 0x2D},
    ScanCodeRow{0x59, 0x15},
    ScanCodeRow{0x5A, 0x2C},    // Z
    ScanCodeRow{0x5B, 0xE05B},  // left Windows
    ScanCodeRow{0x5C, 0xE05C},  // right Windows
    ScanCodeRow{0x5D, 0xE05D},  // menu
    ScanCodeRow{0x60, 0x52},    // numpad 0
    ScanCodeRow{0x61, 0x4F},
    ScanCodeRow{0x62, 0x50},
    ScanCodeRow{0x63, 0x51},
    ScanCodeRow{0x64, 0x4B},
    ScanCodeRow{0x65, 0x4C},
    ScanCodeRow{0x66, 0x4D},
    ScanCodeRow{0x67, 0x47},
    ScanCodeRow{0x68, 0x48},
    ScanCodeRow{0x69, 0x49},    // numpad 9
    ScanCodeRow{0x6A, 0x37},    // numpad *
    ScanCodeRow{0x6B, 0x4E},    // numpad +
    ScanCodeRow{0x6D, 0x4A},    // numpad -
    ScanCodeRow{0x6E, 0x53},    // numpad .
    ScanCodeRow{0x6F, 0xE035},  // numpad /
    ScanCodeRow{0x70, 0x3B},    // F1
    ScanCodeRow{0x71, 0x3C},
    ScanCodeRow{0x72, 0x3D},
    ScanCodeRow{0x73, 0x3E},
    ScanCodeRow{0x74, 0x3F},
    ScanCodeRow{0x75, 0x40},
    ScanCodeRow{0x76, 0x41},
    ScanCodeRow{0x77, 0x42},
    ScanCodeRow{0x78, 0x43},
    ScanCodeRow{0x79, 0x44},  // F10
    ScanCodeRow{0x7A, 0x57},  // F11
    ScanCodeRow{0x7B, 0x58},  // F12
    ScanCodeRow{0x7C, 0x64},  // F13
    ScanCodeRow{0x7D, 0x65},
    ScanCodeRow{0x7E, 0x66},
    ScanCodeRow{0x7F, 0x67},
    ScanCodeRow{0x80, 0x68},
    ScanCodeRow{0x81, 0x69},
    ScanCodeRow{0x82, 0x6A},
    ScanCodeRow{0x83, 0x6B},
    ScanCodeRow{0x84, 0x6C},
    ScanCodeRow{0x85, 0x6D},
    ScanCodeRow{0x86, 0x6E},    // F23
    ScanCodeRow{0x87, 0x76},    // F24
    ScanCodeRow{0x90, 0xE045},  // Num Lock
    ScanCodeRow{0x91, 0x46},    // Scroll Lock
    ScanCodeRow{0xA0, 0x2A},    // left Shift
    ScanCodeRow{0xA1, 0x36},    // right Shift
    ScanCodeRow{0xA2, 0x1D},    // left Ctrl
    ScanCodeRow{0xA3, 0xE01D},  // right Ctrl
    ScanCodeRow{0xA4, 0x38},    // left Alt
    ScanCodeRow{0xA5, 0xE038},  // right Alt
    ScanCodeRow{0xBA, 0x27},    // ;
    ScanCodeRow{0xBB, 0x0D},    // =
    ScanCodeRow{0xBC, 0x33},    // ,
    ScanCodeRow{0xBD, 0x0C},    // -
    ScanCodeRow{0xBE, 0x34},    // .
    ScanCodeRow{0xBF, 0x35},    // /
    ScanCodeRow{0xC0, 0x29},    // `
    ScanCodeRow{0xDB, 0x1A},    // [
    ScanCodeRow{0xDC, 0x2B},    // backslash
    ScanCodeRow{0xDD, 0x1B},    // ]
    ScanCodeRow{0xDE, 0x28},    // '
    ScanCodeRow{0xE2, 0x56},    // the extra key beside left Shift on 102-key boards
};

}  // namespace

int32_t VirtualKeyToScanCode(uint32_t vk) {
  for (const ScanCodeRow& row : kUsLayout) {
    if (row.vk == vk) return row.scan_code;
  }
  return 0;
}

}  // namespace zennic

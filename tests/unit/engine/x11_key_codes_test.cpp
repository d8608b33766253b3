#include "engine/x11_key_codes.h"

#include <gtest/gtest.h>

#include "model/key_catalog.h"

namespace zennic {
namespace {

// X key codes of a standard keymap (kernel input code + 8).
constexpr unsigned kControlRight = 105, kReturn = 36, kKeypadEnter = 104;
constexpr unsigned kKeypadAdd = 86, kKeypad8 = 80, kKeypadDivide = 106, kArrowUp = 111;
constexpr unsigned kPause = 127, kSlash = 61, kLetterK = 45, kF24 = 202;

RawKeyEvent Down(uint32_t vk, uint32_t scan, bool extended) { return {true, vk, scan, extended}; }

TEST(X11KeyCodes, ExtendedKeysCarryTheirPrefixAsAFlag) {
  EXPECT_EQ(RawKeyEventFromXKey(kReturn, true, false), Down(13, 0x1C, false));
  EXPECT_EQ(RawKeyEventFromXKey(kKeypadEnter, true, false), Down(13, 0x1C, true));
  EXPECT_EQ(RawKeyEventFromXKey(kKeypadDivide, true, false), Down(111, 0x35, true));
  EXPECT_EQ(RawKeyEventFromXKey(kArrowUp, true, false), Down(38, 0x48, true));
  EXPECT_EQ(RawKeyEventFromXKey(kPause, true, false), Down(0x13, 0x1D, true));
  EXPECT_EQ(RawKeyEventFromXKey(kKeypadAdd, true, false), Down(107, 0x4E, false));
  EXPECT_EQ(RawKeyEventFromXKey(kLetterK, true, false), Down('K', 0x25, false));
  EXPECT_EQ(RawKeyEventFromXKey(kF24, true, false), Down(135, 0x76, false));
}

TEST(X11KeyCodes, KeypadDigitsFollowNumLockAndNavigationStaysUnextended) {
  EXPECT_EQ(RawKeyEventFromXKey(kKeypadAdd, true, true), Down(107, 0x4E, false));
  EXPECT_EQ(RawKeyEventFromXKey(kKeypad8, true, true), Down(0x68, 0x48, false));
  EXPECT_EQ(RawKeyEventFromXKey(kKeypad8, true, false), Down(38, 0x48, false));
}

TEST(X11KeyCodes, EveryKnownKeyIsInjectedAsTheKeyThatReportedIt) {
  // A duplicate or a slip in the table would press another key than the one captured.
  // Pause alone cannot round-trip: its E1 prefix folds into the same flag as Right Ctrl's E0.
  int known = 0;
  for (unsigned keycode = 8; keycode < 256; ++keycode) {
    std::optional<RawKeyEvent> event = RawKeyEventFromXKey(keycode, true, true);
    if (!event || keycode == kPause) continue;
    ++known;
    EXPECT_EQ(XKeycodeFromScanCode(event->scan_code, event->extended), keycode) << keycode;
  }
  EXPECT_GT(known, 100);
}

TEST(X11KeyCodes, EveryCatalogueKeyIsInjectedAsAKeyThatRawInputNamesBackAsTheSameKey) {
  // The catalogue's scan codes and this table are kept apart; a disagreement would make the
  // voice-chat key press another key than the one the user chose.
  for (const KeyCatalogEntry& entry : GetKeyCatalog()) {
    std::optional<RawKeyEvent> event;
    if (entry.vk == 4 || entry.vk == 5 || entry.vk == 6) {
      std::optional<unsigned> button = XButtonFromMouseButtonCode(static_cast<uint32_t>(entry.vk));
      ASSERT_TRUE(button.has_value()) << entry.id;
      event = RawKeyEventFromXButton(*button, true);
    } else {
      std::optional<unsigned> keycode =
          XKeycodeFromScanCode(static_cast<uint32_t>(entry.scan_code), entry.extended);
      ASSERT_TRUE(keycode.has_value()) << entry.id;
      event = RawKeyEventFromXKey(*keycode, true, true);
    }
    ASSERT_TRUE(event.has_value()) << entry.id;
    std::optional<KeyBinding> named = NameCapturedKey(
        event->vk, static_cast<int32_t>(event->scan_code), event->extended, kKeySourceCapturedBackend);
    ASSERT_TRUE(named.has_value()) << entry.id;
    EXPECT_EQ(named->id, entry.id);
  }
}

TEST(X11KeyCodes, InjectionAcceptsThePrefixInTheHighByteOrAsTheFlag) {
  EXPECT_EQ(XKeycodeFromScanCode(0xE035, true), kKeypadDivide);
  EXPECT_EQ(XKeycodeFromScanCode(0x35, true), kKeypadDivide);
  EXPECT_EQ(XKeycodeFromScanCode(0x35, false), kSlash);
  EXPECT_EQ(XKeycodeFromScanCode(0x1D, true), kControlRight);
  EXPECT_EQ(XKeycodeFromScanCode(0xE11D, true), kPause);
  EXPECT_FALSE(XKeycodeFromScanCode(0, false).has_value());
  EXPECT_FALSE(XKeycodeFromScanCode(0x7F, false).has_value());
  EXPECT_FALSE(XKeycodeFromScanCode(0x7F, true).has_value());
}

TEST(X11KeyCodes, MouseButtonsMapBothWaysAndTheWheelIsNoButton) {
  EXPECT_EQ(RawKeyEventFromXButton(1, true), (RawKeyEvent{true, 1, 1, false}));
  EXPECT_EQ(RawKeyEventFromXButton(3, true), (RawKeyEvent{true, 2, 2, false}));
  EXPECT_EQ(RawKeyEventFromXButton(2, false), (RawKeyEvent{false, 4, 4, false}));
  EXPECT_EQ(RawKeyEventFromXButton(8, true), (RawKeyEvent{true, 5, 5, false}));
  EXPECT_EQ(RawKeyEventFromXButton(9, true), (RawKeyEvent{true, 6, 6, false}));
  for (unsigned wheel = 4; wheel <= 7; ++wheel) EXPECT_FALSE(RawKeyEventFromXButton(wheel, true));
  EXPECT_EQ(XButtonFromMouseButtonCode(4), 2u);
  EXPECT_EQ(XButtonFromMouseButtonCode(5), 8u);
  EXPECT_EQ(XButtonFromMouseButtonCode(6), 9u);
  EXPECT_FALSE(XButtonFromMouseButtonCode(3).has_value());
}

}  // namespace
}  // namespace zennic

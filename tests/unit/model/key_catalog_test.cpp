#include "model/key_catalog.h"

#include <gtest/gtest.h>

#include <set>

namespace zennic {
namespace {

std::string NamedId(uint32_t vk, int32_t scan_code, bool extended) {
  auto binding = NameCapturedKey(vk, scan_code, extended, kKeySourceCapturedBackend);
  return binding ? binding->id : "<none>";
}

std::string FoundId(const std::string& name) {
  auto binding = FindKeyCatalogEntry(name, kKeySourceDefault);
  return binding ? binding->id : "<none>";
}

TEST(KeyCatalog, HasOneHundredAndOneUniqueUsableRowsInTheirOrder) {
  const auto& catalog = GetKeyCatalog();
  ASSERT_EQ(catalog.size(), 101u);
  std::set<std::string> ids;
  for (const KeyCatalogEntry& row : catalog) {
    EXPECT_TRUE(ids.insert(row.id).second) << row.id;
    // A zero scan code would make the row unusable as a binding.
    EXPECT_TRUE(IsValidKeyBinding(KeyBindingFromCatalogEntry(row, kKeySourceDefault))) << row.id;
  }
  EXPECT_EQ(catalog[0].id, "mouse_middle");
  EXPECT_EQ(catalog[30].id, "right_alt");
  EXPECT_EQ(catalog[31].id, "digit_0");
  EXPECT_EQ(catalog[32].id, "numpad_0");
  EXPECT_EQ(catalog[51].id, "key_a");
  EXPECT_EQ(catalog[77].id, "f1");
  EXPECT_EQ(catalog[100].id, "f24");
  EXPECT_EQ(&catalog, &GetKeyCatalog());
}

TEST(KeyCatalog, RowsCarryTheUsLayoutScanCodes) {
  auto row = [](const std::string& id) {
    for (const KeyCatalogEntry& entry : GetKeyCatalog()) {
      if (entry.id == id) return entry;
    }
    ADD_FAILURE() << id;
    return KeyCatalogEntry{};
  };
  EXPECT_EQ(row("key_k").vk, 75);
  EXPECT_EQ(row("key_k").scan_code, 0x25);
  EXPECT_EQ(row("key_k").browser_key, "k");
  EXPECT_EQ(row("key_k").browser_code, "KeyK");
  EXPECT_EQ(row("numpad_add").scan_code, 0x4E);
  EXPECT_EQ(row("numpad_divide").scan_code, 0xE035);
  EXPECT_EQ(row("right_ctrl").scan_code, 0xE01D);
  EXPECT_EQ(row("delete").scan_code, 0xE053);
  EXPECT_EQ(row("f12").vk, 123);
  EXPECT_EQ(row("f24").scan_code, 0x76);
  EXPECT_EQ(row("mouse_x2").scan_code, 6);
  EXPECT_EQ(row("numpad_7").location, 3);
  EXPECT_EQ(row("space").browser_key, " ");
}

TEST(NameCapturedKey, ResolvesTheSideOfGenericModifiers) {
  EXPECT_EQ(NamedId(16, 0x36, false), "right_shift");
  EXPECT_EQ(NamedId(16, 0x2A, false), "left_shift");
  EXPECT_EQ(NamedId(17, 0x1D, true), "right_ctrl");
  EXPECT_EQ(NamedId(17, 0x1D, false), "left_ctrl");
  EXPECT_EQ(NamedId(18, 0x38, false), "left_alt");
  EXPECT_EQ(NamedId(18, 0x38, true), "right_alt");
}

TEST(NameCapturedKey, RefusesButtonsAndKeysThatMustNotBecomeHotkeys) {
  for (uint32_t vk : {1u, 2u, 91u, 92u, 93u}) {
    EXPECT_EQ(NamedId(vk, 0x1E, false), "<none>") << vk;
    EXPECT_EQ(NamedId(vk, 0, true), "<none>") << vk;
  }
  EXPECT_EQ(NamedId(186, 0x27, false), "<none>");  // semicolon
  EXPECT_EQ(NamedId(46, 0x53, false), "<none>");   // numpad Delete without Num Lock
}

TEST(NameCapturedKey, TheExtendedFlagSeparatesKeysThatShareAVirtualKey) {
  EXPECT_EQ(NamedId(13, 0x1C, true), "numpad_enter");
  EXPECT_EQ(NamedId(13, 0x1C, false), "enter");
  EXPECT_EQ(NamedId(4, 4, false), "mouse_middle");
  EXPECT_EQ(NamedId(5, 5, false), "mouse_x1");
}

TEST(NameCapturedKey, CatalogueRowsUseTheirOwnScanCode) {
  auto a = NameCapturedKey(0x41, 0x99, false, kKeySourceCapturedBackend);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->id, "key_a");
  EXPECT_EQ(a->scan_code, 0x1E);
  EXPECT_EQ(a->source, "captured_backend");
}

TEST(NameCapturedKey, AnExtendedLetterOrDigitKeepsItsCapturedScanCode) {
  auto a = NameCapturedKey(0x41, 0x1E, true, kKeySourceCapturedBackend);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->id, "key_a");
  EXPECT_EQ(a->label, "A");
  EXPECT_EQ(a->scan_code, 0x1E);
  EXPECT_FALSE(a->extended);

  auto unmapped = NameCapturedKey(0x41, 0, true, kKeySourceCapturedBackend);
  ASSERT_TRUE(unmapped);
  EXPECT_EQ(unmapped->scan_code, 0x1E);

  auto f13 = NameCapturedKey(124, 0x64, true, kKeySourceCapturedBackend);
  ASSERT_TRUE(f13);
  EXPECT_EQ(f13->id, "f13");
  EXPECT_EQ(f13->browser_code, "F13");
  auto digit = NameCapturedKey(0x37, 0x08, true, kKeySourceCapturedBackend);
  ASSERT_TRUE(digit);
  EXPECT_EQ(digit->browser_code, "Digit7");
  auto numpad = NameCapturedKey(99, 0x51, true, kKeySourceCapturedBackend);
  ASSERT_TRUE(numpad);
  EXPECT_EQ(numpad->id, "numpad_3");
  EXPECT_EQ(numpad->location, 3);
}

TEST(FindKeyCatalogEntry, MatchesAnyNameWithoutRegardToCaseFirstRowWinning) {
  for (const char* name : {"Add", "numpad +", "NUMPADADD", "numpad_add", "+"}) {
    EXPECT_EQ(FoundId(name), "numpad_add") << name;
  }
  EXPECT_EQ(FoundId("Esc"), "escape");
  EXPECT_EQ(FoundId("enter"), "numpad_enter");
  EXPECT_EQ(FoundId("5"), "digit_5");
  EXPECT_EQ(FoundId(" "), "space");
  EXPECT_EQ(FoundId("F12"), "f12");
  EXPECT_EQ(FoundId("Shift"), "left_shift");
  EXPECT_EQ(FoundId(""), "<none>");
  EXPECT_EQ(FoundId("Win"), "<none>");
}

TEST(KeyBindingFromLegacyName, PrefersTheKeyNameThenTheLabelThenTheDefault) {
  KeyBinding k = KeyBindingFromLegacyName("K", "");
  EXPECT_EQ(k.id, "key_k");
  EXPECT_EQ(k.source, "migrated_legacy");
  EXPECT_EQ(KeyBindingFromLegacyName("K", "F5").id, "f5");
  KeyBinding fallback = KeyBindingFromLegacyName("nothing", "either");
  EXPECT_EQ(fallback.id, "numpad_add");
  EXPECT_EQ(fallback.source, "default");
}

TEST(DefaultKeys, AreTheNumpadPlusAndK) {
  KeyBinding ptt = DefaultPttTriggerKey();
  EXPECT_EQ(ptt.id, "numpad_add");
  EXPECT_EQ(ptt.vk, 107);
  EXPECT_EQ(ptt.source, "default");
  KeyBinding voice = DefaultVoiceChatKey();
  EXPECT_EQ(voice.id, "key_k");
  EXPECT_EQ(voice.source, "default");
}

TEST(IsValidKeyBinding, NeedsNamesAndCodesAndRefusesBorrowedMouseIdentities) {
  KeyBinding k = DefaultVoiceChatKey();
  EXPECT_TRUE(IsValidKeyBinding(k));
  KeyBinding broken = k;
  broken.vk = 0;
  EXPECT_FALSE(IsValidKeyBinding(broken));
  broken = k;
  broken.label.clear();
  EXPECT_FALSE(IsValidKeyBinding(broken));
  broken = k;
  broken.scan_code = 0;
  EXPECT_FALSE(IsValidKeyBinding(broken));

  KeyBinding mouse = k;
  mouse.vk = 5;
  mouse.scan_code = 5;
  mouse.id = "mouse_x1";
  EXPECT_TRUE(IsValidKeyBinding(mouse));
  mouse.id = "key_k";
  EXPECT_FALSE(IsValidKeyBinding(mouse));  // a key id on a mouse code
  mouse.vk = 65;
  mouse.id = "mouse_x1";
  EXPECT_FALSE(IsValidKeyBinding(mouse));  // a mouse id on a key code
  mouse.vk = 1;
  mouse.id = "mouse_left";
  EXPECT_FALSE(IsValidKeyBinding(mouse));  // the left button is never a hotkey
}

TEST(KeyBindingHelpers, MouseButtonsAndMatching) {
  KeyBinding binding;
  binding.vk = 4;
  binding.id = "MOUSE_X2";
  EXPECT_TRUE(IsMouseButtonBinding(binding));
  binding.vk = 3;
  EXPECT_FALSE(IsMouseButtonBinding(binding));
  EXPECT_TRUE(IsReservedMouseButton(1));
  EXPECT_TRUE(IsReservedMouseButton(2));
  EXPECT_FALSE(IsReservedMouseButton(4));

  KeyBinding a = DefaultVoiceChatKey();
  KeyBinding b = a;
  b.label = "other";
  b.source = "captured_backend";
  EXPECT_TRUE(KeyBindingsMatch(a, b));
  auto enter = NameCapturedKey(13, 0x1C, false, kKeySourceDefault);
  auto numpad_enter = NameCapturedKey(13, 0x1C, true, kKeySourceDefault);
  EXPECT_FALSE(KeyBindingsMatch(*enter, *numpad_enter));
}

}  // namespace
}  // namespace zennic

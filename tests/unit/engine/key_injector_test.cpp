// Injected input as another client of the test display sees it.

#include "engine/key_injector.h"

#include <gtest/gtest.h>

#include "model/key_catalog.h"
#include "unit/engine/second_x_client.h"

namespace zennic {
namespace {

KeyBinding Catalogued(const std::string& id) {
  std::optional<KeyBinding> binding = FindKeyCatalogEntry(id, kKeySourceDefault);
  EXPECT_TRUE(binding.has_value()) << id;
  return binding.value_or(KeyBinding());
}

class KeyInjectorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(client_.connected()); }
  testing::SecondXClient client_;
  KeyInjector injector_;
};

TEST_F(KeyInjectorTest, KeysArePressedAndReleasedByScanCodeWithTheirExtendedFlag) {
  struct Case {
    const char* id;
    unsigned x_keycode;
  };
  for (Case c : {Case{"numpad_add", 86}, Case{"key_k", 45}, Case{"numpad_divide", 106},
                 Case{"right_ctrl", 105}, Case{"right_shift", 62}, Case{"numpad_enter", 104},
                 Case{"f24", 202}}) {
    std::string error;
    ASSERT_TRUE(injector_.KeyDown(Catalogued(c.id), &error)) << c.id << ": " << error;
    EXPECT_TRUE(client_.IsKeyDown(c.x_keycode)) << c.id;
    ASSERT_TRUE(injector_.KeyUp(Catalogued(c.id), &error)) << c.id << ": " << error;
    EXPECT_FALSE(client_.IsAnyKeyDown()) << c.id;
  }
}

TEST_F(KeyInjectorTest, MouseButtonBindingsArePressedAsButtonsNeverAsKeys) {
  struct Case {
    const char* id;
    unsigned x_button;
  };
  for (Case c : {Case{"mouse_middle", 2}, Case{"mouse_x1", 8}, Case{"mouse_x2", 9}}) {
    std::string error;
    ASSERT_TRUE(injector_.KeyDown(Catalogued(c.id), &error)) << c.id << ": " << error;
    EXPECT_TRUE(client_.IsButtonDown(c.x_button)) << c.id;
    EXPECT_FALSE(client_.IsAnyKeyDown()) << c.id;
    ASSERT_TRUE(injector_.KeyUp(Catalogued(c.id), &error)) << c.id << ": " << error;
    EXPECT_FALSE(client_.IsButtonDown(c.x_button)) << c.id;
  }
}

TEST_F(KeyInjectorTest, AScanCodeWithoutAKeyIsRefusedAndPressesNothing) {
  KeyBinding binding = Catalogued("key_k");
  binding.scan_code = 0x7F;
  std::string error;
  EXPECT_FALSE(injector_.KeyDown(binding, &error));
  EXPECT_EQ(error, "SendInput failed for key down: scan code 0x7F has no key on this keyboard");
  EXPECT_FALSE(injector_.KeyUp(binding, &error));
  EXPECT_EQ(error.rfind("SendInput failed for key up: ", 0), 0u) << error;
  EXPECT_FALSE(client_.IsAnyKeyDown());
}

}  // namespace
}  // namespace zennic

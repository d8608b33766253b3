// Raw input read from the test display while another client holds the focus.

#include "engine/raw_input_window.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "support/program_process.h"
#include "support/temp_folder.h"
#include "unit/engine/raw_key_event_recorder.h"
#include "unit/engine/second_x_client.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::RawKeyEventRecorder;
using testing::SecondXClient;

RawKeyEvent Key(bool down, uint32_t vk, uint32_t scan, bool extended) {
  return {down, vk, scan, extended};
}
RawKeyEvent Button(bool down, uint32_t code) { return {down, code, code, false}; }

class RawInputWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client_.connected());
    client_.FocusOwnWindow();
    ASSERT_TRUE(client_.OwnWindowHasFocus());
    std::string error;
    ASSERT_TRUE(window_.Start(recorder_.Callback(), &error)) << error;
    ASSERT_EQ(window_.InactiveReason(), "");
  }

  SecondXClient client_;
  RawKeyEventRecorder recorder_;
  RawInputWindow window_;
};

TEST_F(RawInputWindowTest, LeftAndRightModifiersAndExtendedKeysArriveAsRawInputReportsThem) {
  for (unsigned keycode : {50u, 62u, 37u, 105u, 64u, 108u, 36u, 104u}) client_.TapKey(keycode);
  std::vector<RawKeyEvent> expected = {
      Key(true, 16, 0x2A, false), Key(false, 16, 0x2A, false),  // left Shift
      Key(true, 16, 0x36, false), Key(false, 16, 0x36, false),  // right Shift
      Key(true, 17, 0x1D, false), Key(false, 17, 0x1D, false),  // left Ctrl
      Key(true, 17, 0x1D, true),  Key(false, 17, 0x1D, true),   // right Ctrl
      Key(true, 18, 0x38, false), Key(false, 18, 0x38, false),  // left Alt
      Key(true, 18, 0x38, true),  Key(false, 18, 0x38, true),   // right Alt
      Key(true, 13, 0x1C, false), Key(false, 13, 0x1C, false),  // Enter
      Key(true, 13, 0x1C, true),  Key(false, 13, 0x1C, true),   // Numpad Enter
  };
  EXPECT_EQ(recorder_.WaitFor(expected.size()), expected);
}

TEST_F(RawInputWindowTest, KeypadDigitsReportDigitsOnlyWhileNumLockIsOn) {
  constexpr unsigned kNumLock = 77, kKeypad8 = 80;
  client_.TapKey(kNumLock);
  client_.TapKey(kKeypad8);
  client_.TapKey(kNumLock);
  client_.TapKey(kKeypad8);
  std::vector<RawKeyEvent> events = recorder_.WaitFor(8);
  ASSERT_EQ(events.size(), 8u);
  // Whichever state the display started in, one press saw NumLock on and the other off.
  RawKeyEvent digit = Key(true, 0x68, 0x48, false);
  RawKeyEvent arrow = Key(true, 38, 0x48, false);  // the keypad's arrow up is not extended
  EXPECT_TRUE((events[2] == digit && events[6] == arrow) || (events[2] == arrow && events[6] == digit))
      << events[2].vk << " then " << events[6].vk;
}

TEST_F(RawInputWindowTest, EveryButtonButTheWheelArrivesInOrder) {
  client_.SendButton(1, true);
  client_.SendButton(3, true);
  client_.SendButton(1, false);
  client_.TapButton(4);  // wheel: nothing
  client_.TapButton(5);
  client_.SendButton(3, false);
  client_.TapButton(2);
  client_.TapButton(9);
  std::vector<RawKeyEvent> expected = {Button(true, 1),  Button(true, 2),  Button(false, 1),
                                       Button(false, 2), Button(true, 4),  Button(false, 4),
                                       Button(true, 6),  Button(false, 6)};
  EXPECT_EQ(recorder_.WaitFor(expected.size()), expected);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder_.WaitFor(expected.size() + 1, 0ms), expected);
}

TEST_F(RawInputWindowTest, ASecondStartKeepsTheFirstCallbackAndARestartTakesANewOne) {
  RawKeyEventRecorder second;
  std::string error;
  EXPECT_TRUE(window_.Start(second.Callback(), &error));
  client_.TapKey(86);
  EXPECT_EQ(recorder_.WaitFor(2).size(), 2u);

  window_.Stop();
  window_.Stop();
  client_.TapKey(86);
  ASSERT_TRUE(window_.Start(second.Callback(), &error)) << error;
  client_.TapKey(45);
  std::vector<RawKeyEvent> expected = {Key(true, 'K', 0x25, false), Key(false, 'K', 0x25, false)};
  EXPECT_EQ(second.WaitFor(2), expected);
  EXPECT_EQ(recorder_.WaitFor(3, 0ms).size(), 2u) << "a stopped window delivers nothing";
}

TEST(RawInputWindowWithoutDisplay, StartsDeliveringNothingAndSaysWhy) {
  for (const char* display : {"", ":not-a-display"}) {
    testing::ScopedDisplayVariable variable(display);
    RawInputWindow window;
    std::string error;
    ASSERT_TRUE(window.Start([](const RawKeyEvent&) {}, &error)) << error;
    EXPECT_NE(window.InactiveReason().find("Global hotkeys are unavailable"), std::string::npos)
        << window.InactiveReason();
    window.Stop();
    EXPECT_EQ(window.InactiveReason(), "");
  }
  testing::ScopedDisplayVariable unset_variable(nullptr);
  RawInputWindow unset;
  EXPECT_TRUE(unset.Start(nullptr, nullptr));
  EXPECT_NE(unset.InactiveReason(), "");
}

TEST(RawInputWindowWithoutDisplay, ALostDisplayEndsDeliveryButNotTheProgram) {
  testing::TempFolder folder;
  testing::ProgramProcess::Options options;
  options.executable = "/usr/bin/Xvfb";
  options.arguments = {"-displayfd", "1", "-screen", "0", "320x200x24", "-nolisten", "tcp"};
  testing::ProgramProcess server(options, folder.path());
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(server.WaitForStdout("\n", 10s)) << server.Stderr();
  std::string display = ":" + server.Stdout().substr(0, server.Stdout().find('\n'));
  testing::ScopedDisplayVariable variable(display.c_str());

  RawInputWindow window;
  std::string error;
  ASSERT_TRUE(window.Start([](const RawKeyEvent&) {}, &error)) << error;
  ASSERT_EQ(window.InactiveReason(), "");
  server.Signal(SIGKILL);
  ASSERT_TRUE(server.WaitForExit(10s).has_value());
  for (int i = 0; i < 100 && window.InactiveReason().empty(); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_NE(window.InactiveReason().find("lost"), std::string::npos) << window.InactiveReason();
  window.Stop();
}

}  // namespace
}  // namespace zennic

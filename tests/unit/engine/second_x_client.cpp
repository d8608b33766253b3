#include "unit/engine/second_x_client.h"

// gtest first: Xlib's macros (None, Bool) break its headers.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
// clang-format on

#include <cstdlib>

#include "support/test_environment.h"

namespace zennic::testing {

SecondXClient::SecondXClient() {
  std::string name = RequiredEnvironment("DISPLAY");
  if (name.empty()) return;
  display_ = XOpenDisplay(name.c_str());
  EXPECT_NE(display_, nullptr) << "cannot open the test display " << name;
}

SecondXClient::~SecondXClient() {
  if (display_ == nullptr) return;
  if (window_ != 0) XDestroyWindow(display_, window_);
  XCloseDisplay(display_);
}

void SecondXClient::FocusOwnWindow() {
  if (window_ == 0) {
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 200, 100, 0, 0, 0);
    XMapRaised(display_, window_);
    XSync(display_, False);
  }
  XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

bool SecondXClient::OwnWindowHasFocus() {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  return window_ != 0 && focus == window_;
}

void SecondXClient::SendKey(unsigned x_keycode, bool press) {
  XTestFakeKeyEvent(display_, x_keycode, press ? True : False, CurrentTime);
  XSync(display_, False);
}

void SecondXClient::TapKey(unsigned x_keycode) {
  SendKey(x_keycode, true);
  SendKey(x_keycode, false);
}

void SecondXClient::SendButton(unsigned x_button, bool press) {
  XTestFakeButtonEvent(display_, x_button, press ? True : False, CurrentTime);
  XSync(display_, False);
}

void SecondXClient::TapButton(unsigned x_button) {
  SendButton(x_button, true);
  SendButton(x_button, false);
}

void SecondXClient::HoldServer(bool hold) {
  if (hold) {
    XGrabServer(display_);
  } else {
    XUngrabServer(display_);
  }
  XSync(display_, False);
}

bool SecondXClient::IsKeyDown(unsigned x_keycode) {
  char keys[32] = {};
  XQueryKeymap(display_, keys);
  return (keys[x_keycode / 8] & (1 << (x_keycode % 8))) != 0;
}

bool SecondXClient::IsAnyKeyDown() {
  char keys[32] = {};
  XQueryKeymap(display_, keys);
  for (char byte : keys) {
    if (byte != 0) return true;
  }
  return false;
}

bool SecondXClient::IsButtonDown(unsigned x_button) {
  // The master pointer carries the state of every pointer device, the XTEST one included.
  int device_count = 0;
  XIDeviceInfo* devices = XIQueryDevice(display_, XIAllMasterDevices, &device_count);
  int pointer = -1;
  for (int i = 0; i < device_count && pointer < 0; ++i) {
    if (devices[i].use == XIMasterPointer) pointer = devices[i].deviceid;
  }
  XIFreeDeviceInfo(devices);
  EXPECT_GE(pointer, 0) << "the display has no master pointer";
  if (pointer < 0) return false;

  Window root = 0;
  Window child = 0;
  double root_x = 0, root_y = 0, window_x = 0, window_y = 0;
  XIButtonState buttons = {};
  XIModifierState modifiers = {};
  XIGroupState group = {};
  XIQueryPointer(display_, pointer, DefaultRootWindow(display_), &root, &child, &root_x, &root_y,
                 &window_x, &window_y, &buttons, &modifiers, &group);
  bool down = static_cast<int>(x_button) < buttons.mask_len * 8 && XIMaskIsSet(buttons.mask, x_button);
  XFree(buttons.mask);
  return down;
}

ScopedDisplayVariable::ScopedDisplayVariable(const char* value) {
  if (const char* old = std::getenv("DISPLAY")) saved_ = old;
  if (value == nullptr) {
    ::unsetenv("DISPLAY");
  } else {
    ::setenv("DISPLAY", value, 1);
  }
}

ScopedDisplayVariable::~ScopedDisplayVariable() {
  if (saved_) {
    ::setenv("DISPLAY", saved_->c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
}

void RunXdotool(const std::string& arguments) {
  RequiredEnvironment("DISPLAY");
  std::string command = "xdotool " + arguments;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace zennic::testing

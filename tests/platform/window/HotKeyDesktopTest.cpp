// Hot keys on a desktop (label desktop): Xvfb with openbox, another X client
// (xmessage) holding the focus, keys pressed with xdotool. Each hot key
// comes to the window that registered it, also with NumLock on, and the
// media play/pause key to the window that took it; a key another client has
// grabbed is refused.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/LastError.h"
#include "platform/kernel/Messages.h"
#include "platform/window/Window.h"
#include "platform/window/X11HotKeys.h"
#include "tests/support/ChildProcess.h"

namespace {

using zorva_test::ChildProcess;

std::vector<WPARAM> theHotKeys;
std::vector<WORD> theAppCommands;

LRESULT HotKeyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_HOTKEY) theHotKeys.push_back(wParam);
  if (message == WM_APPCOMMAND) theAppCommands.push_back(HIWORD(static_cast<std::uintptr_t>(lParam)));
  return DefWindowProc(hwnd, message, wParam, lParam);
}

int RunTool(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  return child.Started() ? child.Wait() : -1;
}

template <class Done>
bool Until(Done done, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    platform::PumpMessages();
    std::this_thread::yield();
  }
  return true;
}

class HotKeyDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb_ = new ChildProcess({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30)) return;
    ::setenv("DISPLAY", (":" + xvfb_->Lines().front()).c_str(), 1);
    openbox_ = new ChildProcess({"/usr/bin/openbox", "--sm-disable"});
    // A busy machine may take a while to start them.
    Until([] { return RunTool({"/usr/bin/wmctrl", "-m"}) == 0; }, 90);
    other_ = new ChildProcess({"/usr/bin/xmessage", "-name", "otherclient", "another program"});
    Until(
        [] {
          return RunTool({"/usr/bin/xdotool", "search", "--sync", "--classname", "otherclient", "windowactivate",
                          "--sync"}) == 0;
        },
        90);
  }
  static void TearDownTestSuite() {
    delete other_;
    delete openbox_;
    delete xvfb_;
  }
  void SetUp() override {
    theHotKeys.clear();
    theAppCommands.clear();
    WNDCLASS windowClass{};
    windowClass.lpfnWndProc = &HotKeyProc;
    windowClass.lpszClassName = "HotKeyDesktopTest";
    RegisterClass(&windowClass);
    hwnd_ = CreateWindowEx(0, "HotKeyDesktopTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd_);
  }
  void TearDown() override {
    DestroyWindow(hwnd_);
    UnregisterClass("HotKeyDesktopTest", nullptr);
    platform::PumpMessages();
  }
  // The window the window manager calls active is the other client's.
  static bool OtherHasTheFocus() {
    ChildProcess active({"/usr/bin/xdotool", "getactivewindow"});
    ChildProcess other({"/usr/bin/xdotool", "search", "--classname", "otherclient"});
    active.Wait();
    other.Wait();
    return !active.Lines().empty() && !other.Lines().empty() && active.Lines().front() == other.Lines().front();
  }

  static ChildProcess* xvfb_;
  static ChildProcess* openbox_;
  static ChildProcess* other_;
  HWND hwnd_ = nullptr;
};

ChildProcess* HotKeyDesktopTest::xvfb_ = nullptr;
ChildProcess* HotKeyDesktopTest::openbox_ = nullptr;
ChildProcess* HotKeyDesktopTest::other_ = nullptr;

TEST_F(HotKeyDesktopTest, EachHotKeyComesWhileAnotherClientHasTheFocus) {
  struct Case {
    int id;
    UINT key;
    const char* pressed;
  };
  const Case cases[] = {{127, 'L', "ctrl+alt+l"}, {128, 'P', "ctrl+alt+p"}, {139, 'T', "ctrl+alt+t"}};
  for (const Case& c : cases) ASSERT_TRUE(RegisterHotKey(hwnd_, c.id, MOD_ALT | MOD_CONTROL, c.key)) << c.pressed;
  ASSERT_TRUE(Until([] {
    RunTool({"/usr/bin/xdotool", "search", "--classname", "otherclient", "windowactivate", "--sync"});
    return OtherHasTheFocus();
  }));
  for (const bool numLock : {false, true}) {
    if (numLock) {
      ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", "Num_Lock"}), 0);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.pressed) + (numLock ? " with NumLock" : ""));
      theHotKeys.clear();
      ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", c.pressed}), 0);
      EXPECT_TRUE(Until([&] { return !theHotKeys.empty(); }));
      EXPECT_EQ(theHotKeys, std::vector<WPARAM>{static_cast<WPARAM>(c.id)});
    }
    if (numLock) {
      ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", "Num_Lock"}), 0);
    }
  }
  // Let go: the other client has the key again.
  for (const Case& c : cases) EXPECT_TRUE(UnregisterHotKey(hwnd_, c.id));
  theHotKeys.clear();
  ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", "ctrl+alt+l"}), 0);
  platform::PumpMessages();
  EXPECT_TRUE(theHotKeys.empty());
}

TEST_F(HotKeyDesktopTest, TheMediaKeyComesAsPlayPauseWhileAnotherClientHasTheFocus) {
  ASSERT_TRUE(platform::x11::GrabMediaKey(hwnd_));
  ASSERT_TRUE(Until([] {
    RunTool({"/usr/bin/xdotool", "search", "--classname", "otherclient", "windowactivate", "--sync"});
    return OtherHasTheFocus();
  }));
  for (const char* lock : {"", "Num_Lock"}) {
    SCOPED_TRACE(lock);
    if (*lock) {
      ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", lock}), 0);
    }
    theAppCommands.clear();
    ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", "XF86AudioPlay"}), 0);
    EXPECT_TRUE(Until([] { return !theAppCommands.empty(); }));
    EXPECT_EQ(theAppCommands, std::vector<WORD>{14});  // APPCOMMAND_MEDIA_PLAY_PAUSE, from a key
    if (*lock) {
      ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", lock}), 0);
    }
  }
  platform::x11::UngrabMediaKey(hwnd_);
  // Let go, another client may take it.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(other);
  const KeyCode play = XKeysymToKeycode(other, XStringToKeysym("XF86AudioPlay"));
  XGrabKey(other, play, 0, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  // Held by it now: refused, and the window goes on without it.
  EXPECT_FALSE(platform::x11::GrabMediaKey(hwnd_));
  theAppCommands.clear();
  ASSERT_EQ(RunTool({"/usr/bin/xdotool", "key", "XF86AudioPlay"}), 0);
  platform::PumpMessages();
  EXPECT_TRUE(theAppCommands.empty());
  XCloseDisplay(other);
  EXPECT_TRUE(platform::x11::GrabMediaKey(hwnd_));
  platform::x11::UngrabMediaKey(hwnd_);
}

TEST_F(HotKeyDesktopTest, AKeyAnotherClientHoldsIsNotAvailable) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(other);
  const KeyCode t = XKeysymToKeycode(other, XK_t);
  XGrabKey(other, t, ControlMask | Mod1Mask, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  EXPECT_FALSE(RegisterHotKey(hwnd_, 139, MOD_ALT | MOD_CONTROL, 'T'));
  EXPECT_EQ(GetLastError(), ERROR_HOTKEY_ALREADY_REGISTERED);
  XUngrabKey(other, t, ControlMask | Mod1Mask, DefaultRootWindow(other));
  XCloseDisplay(other);
  EXPECT_TRUE(RegisterHotKey(hwnd_, 139, MOD_ALT | MOD_CONTROL, 'T'));
  EXPECT_TRUE(UnregisterHotKey(hwnd_, 139));
}

}  // namespace

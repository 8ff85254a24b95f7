// The real Vantrel on a desktop (label desktop): Xvfb with openbox and no
// notification host on the session bus, seen from outside (wmctrl,
// xwininfo, xdotool). With nothing to show its icon, its window is on the
// screen from the start; with an XEmbed system tray (trayer), its icon is
// docked there, also when the tray starts later, and the icon's menu and
// double click bring the window. Its picture, and that of the question its
// Shutdown asks, are left in the build folder (desktop/*.png).
#include <gtest/gtest.h>
#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindows.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScreenPicture.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva_test::ChildProcess;
using zorva_test::FirstVisible;
using zorva_test::ParentInfo;
using zorva_test::RunToEnd;
using zorva_test::ScopedEnv;
using zorva_test::WaitUntil;
using zorva_test::WindowInfo;

// Whether a system tray owns its selection on the display.
bool TrayRuns() { return zorva_test::SelectionOwned("_NET_SYSTEM_TRAY_S0"); }

class VantrelDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
                                                                    "1600x1000x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30));
    display_ = std::make_unique<ScopedEnv>("DISPLAY", ":" + xvfb_->Lines().front());
    openbox_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"});
    ASSERT_TRUE(WaitUntil([] { return RunToEnd({"/usr/bin/wmctrl", "-m"}).rfind("Name:", 0) == 0; }, 90));
  }

  void StartTray() {
    tray_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "/usr/bin/trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24"});
    ASSERT_TRUE(tray_->Started());
  }
  void StartVantrel() {
    vantrel_ = std::make_unique<ChildProcess>(std::vector<std::string>{VANTREL_BINARY});
    ASSERT_TRUE(vantrel_->Started());
  }

  // The window whose title holds `title` ("" when none).
  static std::string Find(const std::string& title) {
    std::string id;
    for (std::string all = RunToEnd({"/usr/bin/wmctrl", "-l"}); !all.empty();) {
      const std::string line = all.substr(0, all.find('\n'));
      all.erase(0, line.size() + 1);
      if (line.find(title) != std::string::npos) id = line.substr(0, line.find(' '));
    }
    return id;
  }
  // On the screen, neither minimised nor withdrawn.
  static bool WindowShown() {
    const std::string id = Find("Zorva Vantrel");
    return !id.empty() && RunToEnd({"/usr/bin/xwininfo", "-id", id}).find("IsViewable") != std::string::npos &&
           RunToEnd({"/usr/bin/xprop", "-id", id, "_NET_WM_STATE"}).find("HIDDEN") == std::string::npos;
  }
  // The program's icon window, once it sits inside trayer's window.
  static std::string IconInTray() {
    const std::string id = FirstVisible("trayicon");
    if (id.empty()) return "";
    for (std::string up = ParentInfo(id); up.rfind("0x", 0) == 0; up = ParentInfo(up.substr(0, up.find(' ')))) {
      if (RunToEnd({"/usr/bin/xprop", "-id", up.substr(0, up.find(' ')), "WM_CLASS"}).find("\"trayer\"") !=
          std::string::npos) {
        return id;
      }
    }
    return "";
  }
  // A click (or two) of `button` in the middle of a window.
  static void ClickOn(const std::string& id, const char* button, const char* repeat = "1") {
    const int x = std::stoi(WindowInfo(id, "Absolute upper-left X:")) + std::stoi(WindowInfo(id, "Width:")) / 2;
    const int y = std::stoi(WindowInfo(id, "Absolute upper-left Y:")) + std::stoi(WindowInfo(id, "Height:")) / 2;
    RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "--repeat", repeat,
              "--delay", "80", button});
  }

  zorva_test::TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.Path()};
  ScopedEnv noBus_{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home_.Path() + "/no-bus"};
  ScopedEnv headless_{"ZORVA_HEADLESS", nullptr};
  ScopedEnv scripted_{"ZORVA_DESKTOP_CONTROL", nullptr};
  ScopedEnv noPlayer_{"ZORVA_PLAYER_SOCKET", home_.Path() + "/no-player.sock"};
  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ScopedEnv> display_;
  std::unique_ptr<ChildProcess> openbox_;
  std::unique_ptr<ChildProcess> tray_;
  std::unique_ptr<ChildProcess> vantrel_;  // ended before the desktop
};

TEST_F(VantrelDesktopTest, WithNothingToShowItsIconTheWindowShowsAtStart) {
  StartVantrel();
  ASSERT_TRUE(WaitUntil(WindowShown)) << RunToEnd({"/usr/bin/wmctrl", "-l"});
  // And it stays: a start that hides the window does so at once.
  for (int look = 0; look < 20; ++look) ASSERT_TRUE(WindowShown()) << look;

  // Where the screen shows a window (xwininfo's absolute corner and size).
  const auto area = [](const std::string& id) {
    return zorva_test::ScreenArea{std::stoi(WindowInfo(id, "Absolute upper-left X:")),
                                  std::stoi(WindowInfo(id, "Absolute upper-left Y:")),
                                  std::stoi(WindowInfo(id, "Width:")), std::stoi(WindowInfo(id, "Height:"))};
  };
  const std::string shots = std::string(ZORVA_SHOT_DIR) + "/desktop/";
  const zorva_test::ScreenArea window = area(Find("Zorva Vantrel"));
  EXPECT_TRUE(zorva_test::WriteScreenPicture(shots + "vantrel.png", window));
  // Its Shutdown button, in the window's bottom bar, asks first. The window
  // shows before its page has loaded: a click before that has nothing to
  // press, so it is given again until the question comes.
  std::string question;
  for (int click = 0; click < 6 && question.empty(); ++click) {
    RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(window.x + 190), std::to_string(window.y + 320), "click",
              "1"});
    WaitUntil([&question] { return !(question = Find("Are you sure you want to quit")).empty(); }, 10);
  }
  ASSERT_NE(question, "") << RunToEnd({"/usr/bin/wmctrl", "-l"});
  EXPECT_TRUE(zorva_test::WriteScreenPicture(shots + "message-box.png", area(question)));
}

TEST_F(VantrelDesktopTest, InASystemTrayTheIconsMenuAndDoubleClickBringTheWindow) {
  StartTray();
  ASSERT_TRUE(WaitUntil(TrayRuns));
  StartVantrel();
  std::string icon;
  ASSERT_TRUE(WaitUntil([&] { return !(icon = IconInTray()).empty(); }))
      << RunToEnd({"/usr/bin/xwininfo", "-root", "-tree"});
  // The icon is the way in: the window is not shown at start.
  for (int look = 0; look < 20; ++look) ASSERT_FALSE(WindowShown()) << look;

  // A right click: the menu, whose first item ("Options") brings the window.
  ClickOn(icon, "3");
  std::string menu;
  ASSERT_TRUE(WaitUntil([&] { return !(menu = FirstVisible("popupmenu")).empty(); }));
  const int left = std::stoi(WindowInfo(menu, "Absolute upper-left X:"));
  const int top = std::stoi(WindowInfo(menu, "Absolute upper-left Y:"));
  RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(left + 30), std::to_string(top + 10), "click", "1"});
  EXPECT_TRUE(WaitUntil(WindowShown));
  EXPECT_TRUE(FirstVisible("popupmenu").empty());

  // Closed, it goes back into the icon; a double click on the icon brings it.
  RunToEnd({"/usr/bin/wmctrl", "-c", "Zorva Vantrel"});
  ASSERT_TRUE(WaitUntil([] { return !WindowShown(); }));
  ClickOn(icon, "1", "2");
  EXPECT_TRUE(WaitUntil(WindowShown));
}

TEST_F(VantrelDesktopTest, ATrayThatStartsLaterGetsTheIcon) {
  StartVantrel();
  ASSERT_TRUE(WaitUntil(WindowShown));
  StartTray();
  EXPECT_TRUE(WaitUntil([] { return !IconInTray().empty(); })) << RunToEnd({"/usr/bin/xwininfo", "-root", "-tree"});
}

}  // namespace

// The notification area on a display with an XEmbed system tray (label
// desktop): Xvfb with trayer, a session bus of the test's own on which a
// StatusNotifierWatcher comes and goes. Seen from outside with xdotool: the
// icon sits in the tray while no watcher runs, shows its tip when the
// pointer rests on it, and leaves the tray while a watcher shows it.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/tray/Tray.h"
#include "tests/platform/tray/BusDaemon.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindows.h"

namespace {

using zorva_test::ChildProcess;
using zorva_test::FirstVisible;
using zorva_test::RunToEnd;
using zorva_test::WaitUntil;

TEST(TrayXEmbedTest, TheIconSitsInTheTrayWithItsTipAndLeavesItWhileAWatcherRuns) {
  zorva_test::BusDaemon daemon;
  ASSERT_FALSE(daemon.Address().empty());
  ::setenv("DBUS_SESSION_BUS_ADDRESS", daemon.Address().c_str(), 1);
  ChildProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.WaitFor([](const std::string& line) { return !line.empty(); }, 30));
  ::setenv("DISPLAY", (":" + xvfb.Lines().front()).c_str(), 1);
  ::unsetenv("ZORVA_HEADLESS");
  ChildProcess trayer({"/usr/bin/trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request"});
  ASSERT_TRUE(WaitUntil(platform::tray::IconsShownOnDesktop));

  HWND hwnd =
      platform::CreateWindowWithProc(0, "TrayXEmbedTest", "", WS_POPUP, 0, 0, 0, 0, nullptr, &DefWindowProc, nullptr);
  platform::tray::RegisterIconResource(3, "audio-x-generic");
  NOTIFYICONDATA data{};
  data.cbSize = NOTIFYICONDATA_V2_SIZE;
  data.hWnd = hwnd;
  data.uID = 7;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_APP + 1;
  data.hIcon = LoadIconResource(3);
  std::snprintf(data.szTip, sizeof data.szTip, "%s", "Vantrel: logged in");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));

  std::string icon;
  ASSERT_TRUE(WaitUntil([&] { return !(icon = FirstVisible("trayicon")).empty(); }));
  // Taken in by the tray, off the root window.
  const std::string parent = zorva_test::ParentInfo(icon);
  ASSERT_NE(parent, "");
  EXPECT_EQ(parent.find("the root window"), std::string::npos) << parent;
  // The pointer resting on the icon: its tip, beside it; gone when it leaves.
  RunToEnd({"/usr/bin/xdotool", "mousemove", "--window", icon, "10", "10"});
  std::string tip;
  ASSERT_TRUE(WaitUntil([&] { return !(tip = FirstVisible("traytip")).empty(); }));
  EXPECT_EQ(RunToEnd({"/usr/bin/xdotool", "getwindowname", tip}), "Vantrel: logged in\n");
  RunToEnd({"/usr/bin/xdotool", "mousemove", "0", "0"});
  EXPECT_TRUE(WaitUntil([] { return FirstVisible("traytip").empty(); }));

  // A watcher starts: it shows the icon, and the tray no longer does; it
  // ends, and the tray has the icon again.
  sd_bus* watcher = nullptr;
  ASSERT_GE(sd_bus_open_user(&watcher), 0);
  ASSERT_GE(sd_bus_request_name(watcher, "org.kde.StatusNotifierWatcher", 0), 0);
  EXPECT_TRUE(WaitUntil([] { return FirstVisible("trayicon").empty(); }));
  sd_bus_flush_close_unref(watcher);
  EXPECT_TRUE(WaitUntil([] { return !FirstVisible("trayicon").empty(); }));

  Shell_NotifyIcon(NIM_DELETE, &data);
  EXPECT_TRUE(WaitUntil([] { return FirstVisible("trayicon").empty(); }));
  DestroyWindow(hwnd);
}

}  // namespace

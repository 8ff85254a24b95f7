// The real Vantrel on a desktop (label desktop): Xvfb with openbox and no
// notification host on the session bus. Nothing can show its icon, so its
// window is on the screen from the start, seen from outside with wmctrl.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva_test::ChildProcess;
using zorva_test::ScopedEnv;

std::string RunToEnd(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  child.WaitFor([](const std::string&) { return false; }, 20);  // reads until the output ends
  child.Wait();
  return child.Output();
}

TEST(VantrelDesktopTest, WithNothingToShowItsIconTheWindowShowsAtStart) {
  ChildProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.WaitFor([](const std::string& line) { return !line.empty(); }, 30));
  zorva_test::TempFolder home;
  ScopedEnv display("DISPLAY", ":" + xvfb.Lines().front());
  ScopedEnv homeEnv("HOME", home.Path());
  ScopedEnv runtime("XDG_RUNTIME_DIR", home.Path());
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.Path() + "/no-bus");
  ScopedEnv headless("ZORVA_HEADLESS", nullptr);
  ScopedEnv scripted("ZORVA_DESKTOP_CONTROL", nullptr);
  ScopedEnv noPlayer("ZORVA_PLAYER_SOCKET", home.Path() + "/no-player.sock");
  ChildProcess openbox({"/usr/bin/openbox", "--sm-disable"});
  const auto managed = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (RunToEnd({"/usr/bin/wmctrl", "-m"}).rfind("Name:", 0) != 0 && std::chrono::steady_clock::now() < managed) {
    std::this_thread::yield();
  }

  ChildProcess vantrel({VANTREL_BINARY});
  ASSERT_TRUE(vantrel.Started());
  // On the screen, neither minimised nor withdrawn.
  const auto shown = [] {
    std::string id;
    for (std::string all = RunToEnd({"/usr/bin/wmctrl", "-l"}); !all.empty();) {
      const std::string line = all.substr(0, all.find('\n'));
      all.erase(0, line.size() + 1);
      if (line.find("Zorva Vantrel") != std::string::npos) id = line.substr(0, line.find(' '));
    }
    return !id.empty() && RunToEnd({"/usr/bin/xwininfo", "-id", id}).find("IsViewable") != std::string::npos &&
           RunToEnd({"/usr/bin/xprop", "-id", id, "_NET_WM_STATE"}).find("HIDDEN") == std::string::npos;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!shown() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the program starting its browser
  }
  ASSERT_TRUE(shown()) << RunToEnd({"/usr/bin/wmctrl", "-l"});
  // And it stays: a start that hides the window does so at once.
  for (int look = 0; look < 20; ++look) ASSERT_TRUE(shown()) << look;
}

}  // namespace

// The real Vantrel on a desktop (label desktop): Xvfb with openbox and no
// notification host on the session bus. Nothing can show its icon, so its
// window is on the screen from the start, seen from outside with wmctrl; its
// picture, and that of the question its Shutdown asks, are left in the build
// folder (desktop/*.png).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScreenPicture.h"
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
  const auto find = [](const std::string& title) {
    std::string id;
    for (std::string all = RunToEnd({"/usr/bin/wmctrl", "-l"}); !all.empty();) {
      const std::string line = all.substr(0, all.find('\n'));
      all.erase(0, line.size() + 1);
      if (line.find(title) != std::string::npos) id = line.substr(0, line.find(' '));
    }
    return id;
  };
  const auto shown = [&find] {
    const std::string id = find("Zorva Vantrel");
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

  // Where the screen shows it (xwininfo's absolute corner and size).
  const auto area = [](const std::string& id) {
    zorva_test::ScreenArea a;
    const std::string info = RunToEnd({"/usr/bin/xwininfo", "-id", id});
    const std::pair<const char*, int*> fields[] = {{"Absolute upper-left X:", &a.x},
                                                   {"Absolute upper-left Y:", &a.y},
                                                   {"Width:", &a.width},
                                                   {"Height:", &a.height}};
    for (const auto& [label, out] : fields) {
      const std::size_t at = info.find(label);
      if (at != std::string::npos) *out = std::stoi(info.substr(at + std::string(label).size()));
    }
    return a;
  };
  const std::string shots = std::string(ZORVA_SHOT_DIR) + "/desktop/";
  const zorva_test::ScreenArea window = area(find("Zorva Vantrel"));
  EXPECT_TRUE(zorva_test::WriteScreenPicture(shots + "vantrel.png", window));
  // Its Shutdown button, in the window's bottom bar, asks first. The window
  // shows before its page has loaded: a click before that has nothing to
  // press, so it is given again until the question comes.
  std::string question;
  for (int click = 0; click < 6 && question.empty(); ++click) {
    RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(window.x + 190), std::to_string(window.y + 320),
              "click", "1"});
    const auto asked = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((question = find("Are you sure you want to quit")).empty() && std::chrono::steady_clock::now() < asked) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the program opening its question
    }
  }
  ASSERT_NE(question, "") << RunToEnd({"/usr/bin/wmctrl", "-l"});
  EXPECT_TRUE(zorva_test::WriteScreenPicture(shots + "message-box.png", area(question)));
}

}  // namespace

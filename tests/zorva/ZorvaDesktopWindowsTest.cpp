// Zorva's windows on a desktop with a window manager (label desktop): Xvfb
// with openbox, a new user's home, the player stand-in, Zorva's clock moved
// by the test. Everything is checked from outside, as the desktop sees it
// (xprop, xwininfo, xdotool, wmctrl), and a picture of each window is left in
// the build folder (desktop/*.png).
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva_test::ChildProcess;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;

// Everything a program writes on standard output.
std::string RunProgram(const std::vector<std::string>& argv) {
  ChildProcess child(argv);
  if (!child.Started()) return "";
  child.WaitFor([](const std::string&) { return false; }, 20);  // reads to the end
  child.Wait();
  return child.Output();
}

// Waits for `done`, up to `seconds` of real time (the desktop's programs at work).
bool WaitUntil(const std::function<bool()>& done, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // polling other processes
  }
  return true;
}

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool viewable = false;
};

Geometry GeometryOf(const std::string& id) {
  Geometry g;
  std::istringstream in(RunProgram({"/usr/bin/xwininfo", "-id", id}));
  for (std::string line; std::getline(in, line);) {
    auto value = [&line](const char* label, int* out) {
      const std::size_t at = line.find(label);
      if (at != std::string::npos) *out = std::stoi(line.substr(at + std::string(label).size()));
    };
    value("Absolute upper-left X:", &g.x);
    value("Absolute upper-left Y:", &g.y);
    value("Width:", &g.width);
    value("Height:", &g.height);
    if (line.find("IsViewable") != std::string::npos) g.viewable = true;
  }
  return g;
}

std::string Property(const std::string& id, const std::string& name) {
  return RunProgram({"/usr/bin/xprop", "-id", id, name});
}

unsigned long Id(const std::string& hex) { return std::stoul(hex, nullptr, 16); }

// The RGB pixels of the part of the screen `g` covers (cut to the screen),
// rows from the top; `g` becomes that part. Empty when none of it is there.
std::string ScreenPixels(Geometry& g) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return "";
  const int screenWidth = DisplayWidth(display, DefaultScreen(display));
  const int screenHeight = DisplayHeight(display, DefaultScreen(display));
  g.width = std::min(g.x + g.width, screenWidth) - std::max(g.x, 0);
  g.height = std::min(g.y + g.height, screenHeight) - std::max(g.y, 0);
  g.x = std::max(g.x, 0);
  g.y = std::max(g.y, 0);
  std::string raw;
  XImage* image = g.width > 0 && g.height > 0
                      ? XGetImage(display, DefaultRootWindow(display), g.x, g.y, static_cast<unsigned>(g.width),
                                  static_cast<unsigned>(g.height), AllPlanes, ZPixmap)
                      : nullptr;
  for (int y = 0; image && y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      raw += static_cast<char>((p >> 16) & 0xFF);
      raw += static_cast<char>((p >> 8) & 0xFF);
      raw += static_cast<char>(p & 0xFF);
    }
  }
  if (image) XDestroyImage(image);
  XCloseDisplay(display);
  return raw;
}

// A PNG image (8-bit RGB) of a part of the screen.
void WriteScreenPicture(const std::string& file, Geometry g) {
  const std::string pixels = ScreenPixels(g);
  ASSERT_FALSE(pixels.empty()) << file << ": the window is off the screen";
  std::string raw;
  const std::size_t row = static_cast<std::size_t>(g.width) * 3;
  for (std::size_t at = 0; at < pixels.size(); at += row) raw += '\0' + pixels.substr(at, row);
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(size);
  auto big = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  auto chunk = [&big](const std::string& type, const std::string& data) {
    const std::string body = type + data;
    return big(static_cast<std::uint32_t>(data.size())) + body +
           big(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  };
  const std::string header = big(static_cast<std::uint32_t>(g.width)) + big(static_cast<std::uint32_t>(g.height)) +
                             std::string{8, 2, 0, 0, 0};
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::ofstream(file, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", header)
                                        << chunk("IDAT", packed) << chunk("IEND", "");
}

class ZorvaDesktopWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    ::mkdir(home_.File("run").c_str(), 0700);
    std::filesystem::create_directories(home_.File("tmp"));
    std::filesystem::create_directories(home_.File("Music"));
    xvfb_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
                                                                     "1600x1000x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30)) << "Xvfb did not start";
    display_ = std::make_unique<ScopedEnv>("DISPLAY", (":" + xvfb_->Lines().front()).c_str());
    windowManager_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox"});
    ASSERT_TRUE(WaitUntil([] { return RunProgram({"/usr/bin/wmctrl", "-m"}).rfind("Name:", 0) == 0; }));
    zorva_ = std::make_unique<ChildProcess>(std::vector<std::string>{ZORVA_BINARY});
    ASSERT_TRUE(zorva_->Started());
    // A first start: the player and, above it, the welcome.
    player_ = WaitForWindow("> Zorva");
    welcome_ = WaitForWindow("Welcome to Zorva");
    ASSERT_NE(player_, "");
    ASSERT_NE(welcome_, "");
    ASSERT_TRUE(WaitUntil([this] {
      zorva_->Send("advance 100\n");
      return Player("status").find("state: playing") != std::string::npos;
    }));
  }
  void TearDown() override {
    if (zorva_ && zorva_->Started()) {
      ::kill(zorva_->Pid(), SIGTERM);
      zorva_->Wait("advance 100\n");
    }
    Player("quit");
  }

  std::string Player(const std::string& command) {
    return RunProgram({ZORVA_PLAYER_BINARY, "ctl", "--socket", home_.File("run/zorva-player.sock"), command});
  }
  // The id of the desktop's window whose title holds `part`, once it shows.
  std::string WaitForWindow(const std::string& part) {
    std::string found;
    WaitUntil([&] {
      // Not waiting for an answer: the program may be waiting for its clock.
      zorva_->Send("advance 100\n");
      std::istringstream in(RunProgram({"/usr/bin/wmctrl", "-l"}));
      for (std::string line; std::getline(in, line);) {
        if (line.find(part) != std::string::npos) found = line.substr(0, line.find(' '));
      }
      return !found.empty() && GeometryOf(found).viewable;
    }, 60);
    return found;
  }
  // "1" or "0" for each window of the program showing `page`.
  std::string Shown(const std::string& page) {
    std::string shown;
    for (const std::string& line : zorva_->Ask("windows\n")) {
      std::istringstream in(line);
      std::string word, visible, name;
      if (in >> word >> visible >> name && word == "window" && name == page) shown += visible;
    }
    return shown;
  }
  // The program's windows that have pixels on the screen.
  std::vector<unsigned long> Viewable() {
    std::vector<unsigned long> ids;
    std::istringstream in(RunProgram({"/usr/bin/xdotool", "search", "--onlyvisible", "--class", "Chromium-browser"}));
    for (unsigned long id = 0; in >> id;) ids.push_back(id);
    return ids;
  }
  // A click at a point of a window.
  void Click(const std::string& id, int x, int y) {
    const Geometry g = GeometryOf(id);
    RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(g.x + x), std::to_string(g.y + y), "click", "1"});
  }
  // The program's clock moves on by `ms`, in the steps of its poll.
  void Advance(int ms) {
    for (int done = 0; done < ms; done += 500) zorva_->Ask("advance 500\n");
  }
  void Picture(const std::string& name, const std::string& id) {
    WriteScreenPicture(std::string(ZORVA_SHOT_DIR) + "/desktop/" + name + ".png", GeometryOf(id));
  }
  // Closed with the window manager (its close button): hidden by the
  // program, nothing of it left on the screen, not even after 25 seconds.
  void ExpectClosedToHidden(const std::string& id, const std::string& page) {
    RunProgram({"/usr/bin/wmctrl", "-i", "-c", id});
    EXPECT_TRUE(WaitUntil([&] { return Shown(page) == "0" && !GeometryOf(id).viewable; })) << page;
    Advance(25000);
    EXPECT_EQ(Shown(page), "0") << page;
    EXPECT_FALSE(GeometryOf(id).viewable) << page;
    EXPECT_EQ(Viewable(), std::vector<unsigned long>{Id(player_)}) << page;
  }

  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.File("run")};
  ScopedEnv data_{"XDG_DATA_HOME", home_.File("data")};
  ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  ScopedEnv music_{"XDG_MUSIC_DIR", home_.File("Music")};
  ScopedEnv tmp_{"TMPDIR", home_.File("tmp")};
  ScopedEnv socket_{"ZORVA_PLAYER_SOCKET", nullptr};
  ScopedEnv library_{"ZORVA_PLAYER_LIBRARY", nullptr};
  ScopedEnv headless_{"ZORVA_HEADLESS", nullptr};
  ScopedEnv desktop_{"ZORVA_DESKTOP_CONTROL", "1"};
  ScopedEnv internet_{"ZORVA_INTERNET_CONNECTED", "0"};
  ScopedEnv web_{"ZORVA_WEB_URL", "http://127.0.0.1:9"};
  ScopedEnv live_{"ZORVA_LIVE_URL", "http://127.0.0.1:9"};
  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ScopedEnv> display_;
  std::unique_ptr<ChildProcess> windowManager_;
  std::unique_ptr<ChildProcess> zorva_;
  std::string player_;
  std::string welcome_;
};

// The player page's controls, from its window's top left corner.
constexpr int kSettingsButton[] = {161, 20};
constexpr int kPlayPauseButton[] = {64, 70};
constexpr int kMinimiseButton[] = {331, 21};

TEST_F(ZorvaDesktopWindowsTest, FramelessOutlinedOwnedAboveAndMovedByThePage) {
  // No frame: the page draws the whole window, whose outline has rounded
  // bottom corners (its top edge lies above the window).
  // The program dresses a window once the desktop shows it.
  for (const std::string& id : {player_, welcome_}) {
    EXPECT_TRUE(WaitUntil([&] {
      zorva_->Send("advance 100\n");
      return Property(id, "_NET_FRAME_EXTENTS").find("= 0, 0, 0, 0") != std::string::npos &&
             RunProgram({"/usr/bin/xwininfo", "-id", id, "-shape"}).find("Window shape extents:") != std::string::npos;
    })) << Property(id, "_NET_FRAME_EXTENTS") << RunProgram({"/usr/bin/xwininfo", "-id", id, "-shape"});
  }
  // The welcome is the player's and stays above it.
  const std::string owner = Property(welcome_, "WM_TRANSIENT_FOR");
  ASSERT_NE(owner.find("# "), std::string::npos) << owner;
  EXPECT_EQ(Id(owner.substr(owner.find("# ") + 2)), Id(player_));
  std::vector<unsigned long> stacking;  // bottom to top
  std::string list = RunProgram({"/usr/bin/xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
  for (std::size_t at = list.find("0x"); at != std::string::npos; at = list.find("0x", at + 2)) {
    stacking.push_back(Id(list.substr(at)));
  }
  auto place = [&stacking](unsigned long id) { return std::find(stacking.begin(), stacking.end(), id) - stacking.begin(); };
  EXPECT_LT(place(Id(player_)), place(Id(welcome_))) << list;
  Picture("welcome", welcome_);

  // A drag of 150 by 100 on the welcome's title area moves it by that, the
  // first pixels too, which the pointer travels before the program hears
  // that the page is dragged, however busy the machine.
  const Geometry before = GeometryOf(welcome_);
  RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(before.x + 200), std::to_string(before.y + 30), "mousedown",
       "1"});
  int dx = 0;
  int dy = 0;
  auto move = [&](int x, int y) {
    RunProgram({"/usr/bin/xdotool", "mousemove_relative", "--", std::to_string(x), std::to_string(y)});
    dx += x;
    dy += y;
  };
  move(1, 0);
  for (int tries = 0; tries < 5 && GeometryOf(welcome_).y == before.y; ++tries) {
    move(0, 1);
    WaitUntil([&] { return GeometryOf(welcome_).y != before.y; }, 5);
  }
  const int lostX = dx;
  const int lostY = dy - (GeometryOf(welcome_).y - before.y);
  EXPECT_LE(lostX + lostY, 3);
  while (dx < 150 || dy < 100) {
    move(std::min(15, 150 - dx), std::min(10, 100 - dy));
    WaitUntil([&] { return GeometryOf(welcome_).y == before.y + dy - lostY; }, 10);
  }
  RunProgram({"/usr/bin/xdotool", "mouseup", "1"});
  const Geometry after = GeometryOf(welcome_);
  EXPECT_NEAR(after.x - before.x, 150, 3);
  EXPECT_NEAR(after.y - before.y, 100, 3);
  EXPECT_EQ(after.width, before.width);
}

TEST_F(ZorvaDesktopWindowsTest, WindowManagerCloseHidesAndMinimiseIconifies) {
  // The welcome and the settings closed from the desktop are hidden for good.
  ExpectClosedToHidden(welcome_, "StatusDialog.htm");
  // The pointer on a link of the player: no bubble with its address over the
  // window's bottom corner.
  const Geometry player = GeometryOf(player_);
  Geometry corner{player.x, player.y + player.height - 40, 320, 40};
  RunProgram({"/usr/bin/xdotool", "mousemove", "1500", "950"});
  const std::string bare = ScreenPixels(corner);
  ASSERT_FALSE(bare.empty());
  RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(player.x + kSettingsButton[0]),
              std::to_string(player.y + kSettingsButton[1])});
  EXPECT_FALSE(WaitUntil([&] { return ScreenPixels(corner) != bare; }, 3)) << "a link's address is shown";
  Picture("player", player_);
  Click(player_, kSettingsButton[0], kSettingsButton[1]);
  const std::string settings = WaitForWindow("Zorva Settings");
  ASSERT_NE(settings, "");
  ExpectClosedToHidden(settings, "SettingsDialog.htm");

  // The Lab too; shown again it is the same window, with its page filled.
  zorva_->Ask("hotkey 3 76\n");
  const std::string lab = WaitForWindow("Zorva Lab");
  ASSERT_NE(lab, "");
  const std::string title = zorva_->Ask("text TrackInfo.htm tracktitle\n").at(0);
  ASSERT_NE(title, "no text");
  ExpectClosedToHidden(lab, "TrackInfo.htm");
  zorva_->Ask("hotkey 3 76\n");
  EXPECT_EQ(WaitForWindow("Zorva Lab"), lab);
  EXPECT_EQ(zorva_->Ask("text TrackInfo.htm tracktitle\n").at(0), title);
  Picture("lab", lab);
  Click(player_, kSettingsButton[0], kSettingsButton[1]);
  EXPECT_EQ(WaitForWindow("Zorva Settings"), settings);
  Picture("settings", settings);
  RunProgram({"/usr/bin/wmctrl", "-i", "-c", lab});
  RunProgram({"/usr/bin/wmctrl", "-i", "-c", settings});
  ASSERT_TRUE(WaitUntil([&] { return !GeometryOf(lab).viewable && !GeometryOf(settings).viewable; }));

  // The player's own controls answer where they are drawn: the music stops.
  Click(player_, kPlayPauseButton[0], kPlayPauseButton[1]);
  EXPECT_TRUE(WaitUntil([this] {
    zorva_->Send("advance 100\n");
    return Player("status").find("state: playing") == std::string::npos;
  })) << Player("status");

  // Minimised: the window manager's icon, at its size and place; back from
  // the task bar, minimised again from the page, back by a second start.
  const Geometry shown = GeometryOf(player_);
  for (int round = 0; round < 2; ++round) {
    Click(player_, kMinimiseButton[0], kMinimiseButton[1]);
    EXPECT_TRUE(WaitUntil([&] { return Property(player_, "WM_STATE").find("Iconic") != std::string::npos; }))
        << round;
    EXPECT_EQ(Viewable(), std::vector<unsigned long>{}) << round;
    Advance(1000);  // the program looks at its windows on its poll
    if (round == 0) {
      RunProgram({"/usr/bin/wmctrl", "-i", "-a", player_});
    } else {
      // A second start brings the running one's window back.
      ChildProcess second({ZORVA_BINARY});
      EXPECT_EQ(second.Wait("", 60), 0);
    }
    EXPECT_TRUE(WaitUntil([&] { return GeometryOf(player_).viewable; })) << round;
    Advance(1000);
    const Geometry back = GeometryOf(player_);
    EXPECT_EQ(back.x, shown.x);
    EXPECT_EQ(back.y, shown.y);
    EXPECT_EQ(back.width, shown.width);
    EXPECT_EQ(back.height, shown.height);
  }
}

TEST_F(ZorvaDesktopWindowsTest, TheMediaKeyPausesAndPlaysWhileAnotherClientHasTheFocus) {
  ChildProcess other({"/usr/bin/xmessage", "-name", "otherclient", "another program"});
  ASSERT_TRUE(WaitUntil([] {
    RunProgram({"/usr/bin/xdotool", "search", "--sync", "--classname", "otherclient", "windowactivate", "--sync"});
    const std::string active = RunProgram({"/usr/bin/xdotool", "getactivewindow"});
    return !active.empty() && active == RunProgram({"/usr/bin/xdotool", "search", "--classname", "otherclient"});
  }));
  for (const bool playing : {false, true}) {
    RunProgram({"/usr/bin/xdotool", "key", "XF86AudioPlay"});
    EXPECT_TRUE(WaitUntil([&] {
      zorva_->Send("advance 100\n");
      return (Player("status").find("state: playing") != std::string::npos) == playing;
    })) << playing << Player("status");
  }
}

}  // namespace

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

#include <algorithm>
#include <chrono>
#include <filesystem>
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
using zorva_test::RunToEnd;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;
using zorva_test::WaitUntil;

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  int depth = 0;
  bool viewable = false;
};

Geometry GeometryOf(const std::string& id) {
  Geometry g;
  std::istringstream in(RunToEnd({"/usr/bin/xwininfo", "-id", id}));
  for (std::string line; std::getline(in, line);) {
    auto value = [&line](const char* label, int* out) {
      const std::size_t at = line.find(label);
      if (at != std::string::npos) *out = std::stoi(line.substr(at + std::string(label).size()));
    };
    value("Absolute upper-left X:", &g.x);
    value("Absolute upper-left Y:", &g.y);
    value("Width:", &g.width);
    value("Height:", &g.height);
    value("Depth:", &g.depth);
    if (line.find("IsViewable") != std::string::npos) g.viewable = true;
  }
  return g;
}

std::string Property(const std::string& id, const std::string& name) {
  return RunToEnd({"/usr/bin/xprop", "-id", id, name});
}

unsigned long Id(const std::string& hex) { return std::stoul(hex, nullptr, 16); }

// The RGB pixels of the part of the screen `g` covers (cut to the screen),
// rows from the top; `g` becomes that part.
std::string ScreenPixels(Geometry& g) {
  zorva_test::ScreenArea area{g.x, g.y, g.width, g.height};
  std::string pixels = zorva_test::ScreenPixels(area);
  g.x = area.x;
  g.y = area.y;
  g.width = area.width;
  g.height = area.height;
  return pixels;
}

// The drop shadow the desktop shows for the window `id`: the window directly
// below the top-level window holding it (its frame), when that one is placed
// by its program (override-redirect), shown, and has an alpha channel.
std::string ShadowOf(const std::string& id) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return "";
  // A window gone meanwhile has no shadow.
  auto* const previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const Window root = DefaultRootWindow(display);
  auto children = [display](Window of, Window* parent) {
    Window rootOf = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    std::vector<Window> found;
    *parent = 0;
    if (XQueryTree(display, of, &rootOf, parent, &list, &count)) found.assign(list, list + count);
    if (list) XFree(list);
    return found;
  };
  Window frame = Id(id);
  for (Window parent = 0; children(frame, &parent), parent && parent != root;) frame = parent;
  Window unused = 0;
  const std::vector<Window> stacking = children(root, &unused);  // bottom to top
  const auto at = std::find(stacking.begin(), stacking.end(), frame);
  std::string shadow;
  XWindowAttributes below{};
  if (at != stacking.end() && at != stacking.begin() && XGetWindowAttributes(display, *(at - 1), &below) &&
      below.override_redirect && below.map_state == IsViewable && below.depth == 32) {
    std::ostringstream hex;
    hex << "0x" << std::hex << *(at - 1);
    shadow = hex.str();
  }
  XCloseDisplay(display);
  XSetErrorHandler(previous);
  return shadow;
}

// Whether a compositing manager runs on the display.
bool Composited() { return zorva_test::SelectionOwned("_NET_WM_CM_S0"); }

constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1000;

class ZorvaDesktopWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    ::mkdir(home_.File("run").c_str(), 0700);
    std::filesystem::create_directories(home_.File("tmp"));
    std::filesystem::create_directories(home_.File("Music"));
    xvfb_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
        std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30)) << "Xvfb did not start";
    display_ = std::make_unique<ScopedEnv>("DISPLAY", (":" + xvfb_->Lines().front()).c_str());
    windowManager_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox"});
    ASSERT_TRUE(WaitUntil([] { return RunToEnd({"/usr/bin/wmctrl", "-m"}).rfind("Name:", 0) == 0; }));
    if (WithCompositor()) {
      compositor_ = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/xcompmgr"});
      ASSERT_TRUE(WaitUntil(Composited)) << "xcompmgr did not start";
    }
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
  virtual bool WithCompositor() const { return false; }
  void TearDown() override {
    if (zorva_ && zorva_->Started()) {
      ::kill(zorva_->Pid(), SIGTERM);
      zorva_->Wait("advance 100\n");
    }
    Player("quit");
  }

  std::string Player(const std::string& command) {
    return RunToEnd({ZORVA_PLAYER_BINARY, "ctl", "--socket", home_.File("run/zorva-player.sock"), command});
  }
  // The id of the desktop's window whose title holds `part`, once it shows.
  std::string WaitForWindow(const std::string& part) {
    std::string found;
    WaitUntil(
        [&] {
          // Not waiting for an answer: the program may be waiting for its clock.
          zorva_->Send("advance 100\n");
          std::istringstream in(RunToEnd({"/usr/bin/wmctrl", "-l"}));
          for (std::string line; std::getline(in, line);) {
            if (line.find(part) != std::string::npos) found = line.substr(0, line.find(' '));
          }
          return !found.empty() && GeometryOf(found).viewable;
        },
        60);
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
    std::istringstream in(RunToEnd({"/usr/bin/xdotool", "search", "--onlyvisible", "--class", "Chromium-browser"}));
    for (unsigned long id = 0; in >> id;) ids.push_back(id);
    return ids;
  }
  // A click at a point of a window.
  void Click(const std::string& id, int x, int y) {
    const Geometry g = GeometryOf(id);
    RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(g.x + x), std::to_string(g.y + y), "click", "1"});
  }
  // The program's clock moves on by `ms`, in the steps of its poll.
  void Advance(int ms) {
    for (int done = 0; done < ms; done += 500) zorva_->Ask("advance 500\n");
  }
  void Picture(const std::string& name, const std::string& id) {
    const Geometry g = GeometryOf(id);
    EXPECT_TRUE(zorva_test::WriteScreenPicture(std::string(ZORVA_SHOT_DIR) + "/desktop/" + name + ".png",
                                               {g.x, g.y, g.width, g.height}))
        << name << ": the window is off the screen";
  }
  // Closed with the window manager (its close button): hidden by the
  // program, nothing of it left on the screen, not even after 25 seconds.
  void ExpectClosedToHidden(const std::string& id, const std::string& page) {
    RunToEnd({"/usr/bin/wmctrl", "-i", "-c", id});
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
  std::unique_ptr<ChildProcess> compositor_;
  std::unique_ptr<ChildProcess> zorva_;
  std::string player_;
  std::string welcome_;
};

// The player page's controls, from its window's top left corner.
constexpr int kSchedulerButton[] = {69, 20};
constexpr int kGeneratorButton[] = {100, 20};
constexpr int kSettingsButton[] = {161, 20};
constexpr int kPlayPauseButton[] = {64, 70};
constexpr int kMinimiseButton[] = {331, 21};
constexpr int kSelectorImage[] = {32, 145};
constexpr int kMixImage[] = {61, 145};

TEST_F(ZorvaDesktopWindowsTest, FramelessOutlinedOwnedAboveAndMovedByThePage) {
  // No frame: the page draws the whole window, whose outline has rounded
  // bottom corners (its top edge lies above the window).
  // The program dresses a window once the desktop shows it.
  for (const std::string& id : {player_, welcome_}) {
    EXPECT_TRUE(WaitUntil([&] {
      zorva_->Send("advance 100\n");
      return Property(id, "_NET_FRAME_EXTENTS").find("= 0, 0, 0, 0") != std::string::npos &&
             RunToEnd({"/usr/bin/xwininfo", "-id", id, "-shape"}).find("Window shape extents:") != std::string::npos;
    })) << Property(id, "_NET_FRAME_EXTENTS")
        << RunToEnd({"/usr/bin/xwininfo", "-id", id, "-shape"});
  }
  // The welcome is the player's and stays above it.
  const std::string owner = Property(welcome_, "WM_TRANSIENT_FOR");
  ASSERT_NE(owner.find("# "), std::string::npos) << owner;
  EXPECT_EQ(Id(owner.substr(owner.find("# ") + 2)), Id(player_));
  std::vector<unsigned long> stacking;  // bottom to top
  std::string list = RunToEnd({"/usr/bin/xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
  for (std::size_t at = list.find("0x"); at != std::string::npos; at = list.find("0x", at + 2)) {
    stacking.push_back(Id(list.substr(at)));
  }
  auto place = [&stacking](unsigned long id) {
    return std::find(stacking.begin(), stacking.end(), id) - stacking.begin();
  };
  EXPECT_LT(place(Id(player_)), place(Id(welcome_))) << list;
  Picture("welcome", welcome_);
  // No compositing manager: no shadow, which would show as a dark block.
  EXPECT_EQ(ShadowOf(player_), "");
  EXPECT_EQ(ShadowOf(welcome_), "");

  // A drag of 150 by 100 on the welcome's title area moves it by that, the
  // first pixels too, which the pointer travels before the program hears
  // that the page is dragged, however busy the machine.
  const Geometry before = GeometryOf(welcome_);
  RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(before.x + 200), std::to_string(before.y + 30), "mousedown",
            "1"});
  int dx = 0;
  int dy = 0;
  auto move = [&](int x, int y) {
    RunToEnd({"/usr/bin/xdotool", "mousemove_relative", "--", std::to_string(x), std::to_string(y)});
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
  RunToEnd({"/usr/bin/xdotool", "mouseup", "1"});
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
  RunToEnd({"/usr/bin/xdotool", "mousemove", "1500", "950"});
  const std::string bare = ScreenPixels(corner);
  ASSERT_FALSE(bare.empty());
  RunToEnd({"/usr/bin/xdotool", "mousemove", std::to_string(player.x + kSettingsButton[0]),
            std::to_string(player.y + kSettingsButton[1])});
  EXPECT_FALSE(WaitUntil([&] { return ScreenPixels(corner) != bare; }, 3)) << "a link's address is shown";
  Picture("player", player_);
  // Nor after a click on a link that opens a panel, the pointer left on it
  // (the bubble's left end: the panels open right of it).
  Geometry edge{player.x, player.y + player.height - 20, 20, 20};
  const std::string bareEdge = ScreenPixels(edge);
  for (const int* link : {kSelectorImage, kMixImage}) {
    Click(player_, link[0], link[1]);
    EXPECT_FALSE(WaitUntil([&] { return ScreenPixels(edge) != bareEdge; }, 3)) << "a link's address is shown";
    RunToEnd({"/usr/bin/xdotool", "mousemove", "1500", "950"});
  }
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
  RunToEnd({"/usr/bin/wmctrl", "-i", "-c", lab});
  RunToEnd({"/usr/bin/wmctrl", "-i", "-c", settings});
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
    EXPECT_TRUE(WaitUntil([&] { return Property(player_, "WM_STATE").find("Iconic") != std::string::npos; })) << round;
    EXPECT_EQ(Viewable(), std::vector<unsigned long>{}) << round;
    Advance(1000);  // the program looks at its windows on its poll
    if (round == 0) {
      RunToEnd({"/usr/bin/wmctrl", "-i", "-a", player_});
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
    RunToEnd({"/usr/bin/xdotool", "search", "--sync", "--classname", "otherclient", "windowactivate", "--sync"});
    const std::string active = RunToEnd({"/usr/bin/xdotool", "getactivewindow"});
    return !active.empty() && active == RunToEnd({"/usr/bin/xdotool", "search", "--classname", "otherclient"});
  }));
  for (const bool playing : {false, true}) {
    RunToEnd({"/usr/bin/xdotool", "key", "XF86AudioPlay"});
    EXPECT_TRUE(WaitUntil([&] {
      zorva_->Send("advance 100\n");
      return (Player("status").find("state: playing") != std::string::npos) == playing;
    })) << playing
        << Player("status");
  }
}

TEST_F(ZorvaDesktopWindowsTest, AFirstStartPlacesEachWindowByItsOwnRule) {
  // The player has no place of its own: the screen's corner. The welcome
  // starts beside it, 20 pixels lower, kept on the screen.
  const Geometry player = GeometryOf(player_);
  const Geometry welcome = GeometryOf(welcome_);
  EXPECT_EQ(player.x, 0);
  EXPECT_EQ(player.y, 0);
  EXPECT_EQ(welcome.x, std::max(0, player.x - (welcome.width + 5)));
  EXPECT_EQ(welcome.y, player.y + 20);
  RunToEnd({"/usr/bin/wmctrl", "-i", "-c", welcome_});
  ASSERT_TRUE(WaitUntil([&] { return !GeometryOf(welcome_).viewable; }));

  // The tool windows around the screen's centre, each by its own offsets
  // from its size.
  const int cx = kScreenWidth / 2;
  const int cy = kScreenHeight / 2;
  struct Case {
    const char* name;
    const char* title;
    std::function<void()> open;
    std::function<std::pair<int, int>(int width, int height)> place;
  };
  const Case cases[] = {
      {"settings", "Zorva Settings", [&] { Click(player_, kSettingsButton[0], kSettingsButton[1]); },
       [&](int w, int h) {
         return std::pair{std::max(0, cx - w - 5), std::max(0, cy - h / 2 + 50)};
       }},
      {"lab", "Zorva Lab", [&] { zorva_->Ask("hotkey 3 76\n"); },
       [&](int w, int h) {
         return std::pair{std::max(0, cx - w * 3 / 2 - 5), std::max(0, cy - h / 2 + 50)};
       }},
      {"scheduler", "Zorva Automator", [&] { Click(player_, kSchedulerButton[0], kSchedulerButton[1]); },
       [&](int w, int h) {
         return std::pair{std::max(0, cx - w * 3 / 2 - 5), std::max(0, cy - h / 2 - 50)};
       }},
      {"generator", "Zorva Generator", [&] { Click(player_, kGeneratorButton[0], kGeneratorButton[1]); },
       [&](int w, int h) {
         const int left = cx + w / 2 + 5;
         return std::pair{left + w > kScreenWidth ? kScreenWidth - w : left, std::max(0, cy - h / 2 - 50)};
       }},
  };
  for (const Case& c : cases) {
    c.open();
    const std::string id = WaitForWindow(c.title);
    ASSERT_NE(id, "") << c.name;
    const Geometry g = GeometryOf(id);
    const auto [x, y] = c.place(g.width, g.height);
    EXPECT_EQ(g.x, x) << c.name;
    EXPECT_EQ(g.y, y) << c.name;
    Picture(std::string(c.name) + "-first-start", id);
    RunToEnd({"/usr/bin/wmctrl", "-i", "-c", id});
    ASSERT_TRUE(WaitUntil([&] { return !GeometryOf(id).viewable; })) << c.name;
  }
}

// The same desktop with a compositing manager (xcompmgr).
class ZorvaDesktopShadowTest : public ZorvaDesktopWindowsTest {
 protected:
  bool WithCompositor() const override { return true; }
};

TEST_F(ZorvaDesktopShadowTest, EachWindowHasAShadowJustBelowItThatFollowsIt) {
  // A window of its own with an alpha channel, directly below its window in
  // the stacking order, 5 pixels right and down, of the window's size.
  for (const std::string& id : {player_, welcome_}) {
    std::string shadow;
    EXPECT_TRUE(WaitUntil([&] {
      zorva_->Send("advance 100\n");
      shadow = ShadowOf(id);
      return !shadow.empty() && GeometryOf(shadow).x == GeometryOf(id).x + 5;
    })) << id
        << " " << RunToEnd({"/usr/bin/xwininfo", "-root", "-children"});
    const Geometry owner = GeometryOf(id);
    const Geometry cast = GeometryOf(shadow);
    EXPECT_EQ(cast.depth, 32);
    EXPECT_EQ(cast.y, owner.y + 5);
    EXPECT_EQ(cast.width, owner.width);
    EXPECT_EQ(cast.height, owner.height);
  }

  // Hidden with the welcome.
  const std::string welcomeShadow = ShadowOf(welcome_);
  RunToEnd({"/usr/bin/wmctrl", "-i", "-c", welcome_});
  EXPECT_TRUE(WaitUntil([&] {
    zorva_->Send("advance 100\n");
    return !GeometryOf(welcome_).viewable && !GeometryOf(welcomeShadow).viewable;
  }));

  // Moved with the player.
  RunToEnd({"/usr/bin/xdotool", "windowmove", player_, "300", "200"});
  EXPECT_TRUE(WaitUntil([&] {
    const Geometry cast = GeometryOf(ShadowOf(player_));
    return cast.x == 305 && cast.y == 205;
  })) << RunToEnd({"/usr/bin/xwininfo", "-root", "-children"});
  const Geometry player = GeometryOf(player_);
  EXPECT_TRUE(zorva_test::WriteScreenPicture(std::string(ZORVA_SHOT_DIR) + "/desktop/player-with-shadow.png",
                                             {player.x - 10, player.y - 10, player.width + 30, player.height + 30}));

  // Gone while the player is minimised, and back below it with it.
  const std::string playerShadow = ShadowOf(player_);
  RunToEnd({"/usr/bin/xdotool", "windowminimize", player_});
  EXPECT_TRUE(WaitUntil([&] {
    zorva_->Send("advance 100\n");
    return !GeometryOf(player_).viewable && !GeometryOf(playerShadow).viewable;
  }));
  RunToEnd({"/usr/bin/wmctrl", "-i", "-a", player_});
  EXPECT_TRUE(WaitUntil([&] {
    zorva_->Send("advance 100\n");
    const std::string shadow = ShadowOf(player_);
    return !shadow.empty() && GeometryOf(shadow).x == GeometryOf(player_).x + 5;
  })) << RunToEnd({"/usr/bin/xwininfo", "-root", "-children"});
}

}  // namespace

// The companion's tray icon on the notification area stand-in.
#include "companion/SystemTray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace tray = platform::tray;

constexpr UINT kCallback = WM_APP + 10;
constexpr UINT kIconId = 129;

// A parent that passes the icon's callback on, as the companion window does,
// and records the commands it gets.
class Parent : public CWnd {
 public:
  explicit Parent(CSystemTray& icon) : icon_(icon) {
    CreateEx(0, "TrayTestParent", "", WS_POPUP | WS_VISIBLE, 10, 10, 300, 200, nullptr);
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kCallback) return icon_.OnTrayNotification(wParam, lParam);
    if (message == WM_COMMAND) commands.push_back(static_cast<UINT>(wParam));
    return CWnd::WindowProc(message, wParam, lParam);
  }
  std::vector<UINT> commands;

 private:
  CSystemTray& icon_;
};

class CSystemTrayTest : public ::testing::Test {
 protected:
  CSystemTrayTest() {
    tray::RegisterMenuResource(kIconId, {{"Tray", 0, {{"Options", 32777, {}}, {}, {"Exit", 32776, {}}}}});
    tray::ClearBalloons();
    tray::ClearShownMenus();
  }
  ~CSystemTrayTest() override {
    tray::SetMenuChooser(nullptr);
    tray::SetBalloonsOffered(true);
    tray::SetMinimizeAnimation(false);
  }
  bool Create() {
    icon_.SetTargetWnd(&parent_);
    return icon_.Create(&parent_, kCallback, std::string(200, 't').c_str(), LoadIconResource(128), kIconId, FALSE);
  }
  std::optional<tray::TrayIcon> Shown() { return tray::FindIcon(parent_.GetSafeHwnd(), kIconId); }

  CSystemTray icon_;
  Parent parent_{icon_};
};

TEST_F(CSystemTrayTest, RegistersItsIconWithTheTipCutAndRemovesItWhenItGoes) {
  ASSERT_TRUE(Create());
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Shown()->tip, std::string(127, 't'));
  EXPECT_FALSE(icon_.IsHidden());
  EXPECT_TRUE(icon_.RemoveIcon());
  EXPECT_FALSE(Shown());
  EXPECT_TRUE(icon_.IsRemoved());
  EXPECT_TRUE(icon_.RemoveIcon());  // nothing left to remove
}

TEST_F(CSystemTrayTest, BalloonsAreCutAndNeedAShellThatOffersThem) {
  ASSERT_TRUE(Create());
  ASSERT_TRUE(icon_.ShowBalloon(std::string(300, 'b').c_str(), nullptr, 0x1F, 10));
  ASSERT_EQ(Shown()->balloons.size(), 1u);
  EXPECT_EQ(Shown()->balloons[0].text, std::string(255, 'b'));
  EXPECT_EQ(Shown()->balloons[0].title, "");
  EXPECT_EQ(Shown()->balloons[0].infoFlags, 0x1Fu);
  EXPECT_EQ(Shown()->balloons[0].timeoutMs, 10000u);

  // Texts are cut at a character boundary, never inside one.
  const std::string e = "\xC3\xA9";             // 2 bytes
  const std::string face = "\xF0\x9F\x98\x80";  // 4 bytes
  auto times = [](const std::string& text, int n) {
    std::string all;
    for (int i = 0; i < n; ++i) all += text;
    return all;
  };
  const struct {
    std::string text, title, shownText, shownTitle;
  } cases[] = {
      {times(e, 127), times(e, 31), times(e, 127), times(e, 31)},
      {"bb" + times(e, 150), "b" + times(e, 40), "bb" + times(e, 126), "b" + times(e, 31)},
      {"b" + times(face, 80), times(face, 20), "b" + times(face, 63), times(face, 15)},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(icon_.ShowBalloon(c.text.c_str(), c.title.c_str(), 0x1F, 10));
    EXPECT_EQ(Shown()->balloons.back().text, c.shownText);
    EXPECT_EQ(Shown()->balloons.back().title, c.shownTitle);
  }

  tray::SetBalloonsOffered(false);
  CSystemTray plain;
  EXPECT_FALSE(plain.ShowBalloon("text"));
}

TEST_F(CSystemTrayTest, RightClickShowsTheMenuWithOptionsFirstAndADoubleClickRunsIt) {
  ASSERT_TRUE(Create());
  tray::SetMenuChooser([](const tray::ShownMenu&) { return 32776u; });
  tray::SendIconEvent(parent_.GetSafeHwnd(), kIconId, WM_RBUTTONUP);
  platform::PumpMessages();
  ASSERT_EQ(tray::ShownMenus().size(), 1u);
  EXPECT_EQ(tray::ShownMenus()[0].texts, (std::vector<std::string>{"Options", "", "Exit"}));
  EXPECT_EQ(tray::ShownMenus()[0].defaultPosition, 0);
  tray::SendIconEvent(parent_.GetSafeHwnd(), kIconId, WM_LBUTTONDBLCLK);
  platform::PumpMessages();
  EXPECT_EQ(parent_.commands, (std::vector<UINT>{32776u, 32777u}));
  // Another icon's events are not this one's.
  EXPECT_EQ(icon_.OnTrayNotification(kIconId + 1, WM_RBUTTONUP), 0);
}

TEST_F(CSystemTrayTest, ComesBackAfterAShellRestartAndSurvivesAWorkAreaChange) {
  ASSERT_TRUE(Create());
  tray::ChangeWorkArea();
  platform::PumpMessages();
  ASSERT_TRUE(Shown());
  EXPECT_FALSE(icon_.IsHidden());
  tray::RestartShell();
  EXPECT_FALSE(Shown());
  platform::PumpMessages();
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Shown()->tip, std::string(127, 't'));
  tray::RestartShell();
  platform::PumpMessages();
  EXPECT_TRUE(Shown());
}

TEST_F(CSystemTrayTest, HidingIntoTheIconAndBack) {
  tray::SetMinimizeAnimation(true);
  CSystemTray::HideToTray(&parent_);
  EXPECT_FALSE(parent_.IsWindowVisible());
  EXPECT_NE(CSystemTray::GetInvisibleWnd(), nullptr);
  parent_.ShowWindow(SW_MINIMIZE);
  CSystemTray::HideToTray(&parent_);
  CSystemTray::RestoreFromTray(&parent_);
  EXPECT_TRUE(parent_.IsWindowVisible());
  EXPECT_FALSE(parent_.IsIconic());
  EXPECT_EQ(GetForegroundWindow(), parent_.GetSafeHwnd());
  const auto flights = tray::TakeAnimations();
  ASSERT_EQ(flights.size(), 3u);
  EXPECT_EQ(flights[0].second.right, GetSystemMetrics(SM_CXSCREEN));  // towards the notification area
  CSystemTray::DestroyInvisibleWnd();
}

}  // namespace

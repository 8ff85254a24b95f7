// The quick-start and status window on its page file, in the in-memory document.
#include "windows/StatusDialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/html/MemoryHtmlDocument.h"
#include "tests/windows/ToolWindowsTestSupport.h"

namespace {

using namespace zorva_test;

// 256 x 266 dialog units: 384 x 432 pixels.
const DialogTemplate kPlayerTemplate{102, 0, 0, 256, 266, WS_POPUP, 0};

class StatusDialogTest : public ::testing::Test {
 protected:
  StatusDialogTest() { EXPECT_TRUE(player_.Create()); }

  void PlacePlayer(int left, int top) { player_.MoveWindow(left, top, 384, 432); }
  std::unique_ptr<StatusDialog> MakeStatus() {
    auto status = std::make_unique<StatusDialog>();
    EXPECT_TRUE(status->Create(&player_));
    return status;
  }
  static bool Click(StatusDialog& status, const platform::HtmlElementPtr& element) {
    return status.GetDocument()->FireEvent(platform::HtmlEvent{"click", element});
  }
  // The help button inside the intro box.
  static platform::HtmlElementPtr IntroHelp(StatusDialog& status) {
    for (const auto& holder : status.GetElement("introbox")->GetChildren()) {
      for (const auto& button : holder->GetChildren()) {
        for (const auto& part : button->GetChildren()) {
          if (part->GetId() == "HelpLink") return part;
        }
      }
    }
    return nullptr;
  }

  ToolWindowFixture tools_;
  CDialog player_{kPlayerTemplate};
};

TEST_F(StatusDialogTest, IsPlacedOnceBesideThePlayerAndNeverLeftOfTheScreen) {
  for (auto [playerLeft, expectedLeft] : {std::pair{900, 900 - 425}, std::pair{300, 0}}) {
    PlacePlayer(playerLeft, 100);
    auto status = MakeStatus();
    RECT rect{};
    status->GetWindowRect(&rect);
    EXPECT_EQ(rect.left, expectedLeft) << playerLeft;
    EXPECT_EQ(rect.top, 120) << playerLeft;
    EXPECT_EQ(rect.right - rect.left, 420);
    EXPECT_FALSE(status->IsWindowVisible());

    PlacePlayer(1200, 400);  // it does not follow
    status->GetWindowRect(&rect);
    EXPECT_EQ(rect.left, expectedLeft);
  }
}

TEST_F(StatusDialogTest, StartsWithTheScanningNoticeAndQuickStartReplacesItForGood) {
  auto status = MakeStatus();
  EXPECT_EQ(status->GetElementText("statustitle"), "Welcome to Zorva");
  EXPECT_NE(status->GetElement("scanning")->GetClassName(), "invisible");
  for (const char* id : {"welcome", "dj", "automator", "generator", "lab", "HelpLink"}) {
    EXPECT_TRUE(status->GetElement(id)) << id;
  }
  EXPECT_EQ(status->GetElementText("ButtonCancel"), "Close Window");

  status->ShowQuickStart();
  status->ShowWindow(SW_SHOWNORMAL);
  EXPECT_EQ(status->GetElement("scanning")->GetClassName(), "invisible");
  EXPECT_EQ(status->GetElementText("introbox"),
            "Welcome to the Zorva quick start guide.View Online HelpThis is a quick introduction to Zorva. For "
            "more in depth information visit our online help");
  auto help = IntroHelp(*status);
  ASSERT_TRUE(help);
  EXPECT_EQ(help->GetParent()->GetAttribute("onmouseover"), "buttonover(this)");

  // Both buttons only hide it; it shows again with the same text.
  for (const char* id : {"ButtonCancel", "ButtonOK"}) {
    Click(*status, status->GetElement(id));
    EXPECT_FALSE(status->IsWindowVisible()) << id;
    status->ShowWindow(SW_SHOWNORMAL);
    EXPECT_TRUE(IntroHelp(*status)) << id;
    EXPECT_EQ(status->GetElement("scanning")->GetClassName(), "invisible");
  }
}

TEST_F(StatusDialogTest, HelpButtonsOpenTheOnlineHelpOnlyAtAWebAddress) {
  auto status = MakeStatus();
  status->ShowQuickStart();
  Click(*status, status->GetElement("HelpLink"));
  Click(*status, IntroHelp(*status));
  EXPECT_EQ(tools_.links.Take(),
            (std::vector<std::string>{"http://127.0.0.1:9/player.htm", "http://127.0.0.1:9/player.htm"}));
  // Its "#" link stays on the page.
  EXPECT_TRUE(status->GetElement("introbox"));

  for (const char* host : {"file:///etc", "javascript:alert(1)//", "xdg-settings"}) {
    ScopedEnv web("ZORVA_WEB_URL", host);
    Click(*status, status->GetElement("HelpLink"));
    EXPECT_TRUE(tools_.links.Take().empty()) << host;
  }
}

}  // namespace

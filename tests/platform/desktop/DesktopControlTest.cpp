// The scripted desktop's commands, run as the control runs each input line.
#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/html/Url.h"
#include "platform/window/DHtmlDialog.h"
#include "tests/support/TempFolder.h"

namespace {

const DialogTemplate kTemplate{300, 0, 0, 200, 150, WS_POPUP, 0};

class DesktopControlTest : public ::testing::Test {
 protected:
  DesktopControlTest() {
    std::ofstream(folder_.File("Player.htm")) << "<html><body><p id='name'>Song &amp;\nmore</p><p id='empty'></p><a "
                                                 "id='go there' href='#there'>go</a></body></html>";
    EXPECT_TRUE(player_.Create());
    player_.Navigate(platform::FileUrl(folder_.File("Player.htm")) + "#top");
    player_.SetWindowText(" > Zorva ");
    player_.ShowWindow(SW_SHOW);
    EXPECT_TRUE(tool_.Create());
    tool_.SetWindowText("Tool");
  }

  std::string Run(const std::string& line) {
    std::ostringstream out;
    platform::RunDesktopCommand(clock_, line, out);
    return out.str();
  }

  zorva_test::TempFolder folder_;
  platform::ManualClock clock_;
  platform::ScopedClock installed_{clock_};
  CDHtmlDialog player_{kTemplate, 301};
  CDHtmlDialog tool_{kTemplate, 302};
};

TEST_F(DesktopControlTest, WindowsListsEachTopLevelWindowFrontToBackWithVisibilityPageAndTitle) {
  EXPECT_EQ(Run("windows"), "window 0 about:blank Tool\nwindow 1 Player.htm  > Zorva \n");
}

TEST_F(DesktopControlTest, TextAnswersWithTheElementTextOfTheWindowNamedByPageOrTitle) {
  const struct {
    const char* command;
    const char* answer;
  } cases[] = {
      {"text Player.htm name", "text Song & more\n"}, {"text Player.htm empty", "text \n"},
      {"text Player.htm missing", "no text\n"},       {"text Tool name", "no text\n"},
      {"text Other.htm name", "no text\n"},           {"text Player.htm", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.command), c.answer) << c.command;
}

TEST_F(DesktopControlTest, ClickClicksTheElementOfTheWindowNamedByPageOrTitle) {
  EXPECT_EQ(Run("click Player.htm missing"), "no element\n");
  EXPECT_EQ(Run("click Tool go there"), "no element\n");
  EXPECT_EQ(Run("click Player.htm go"), "no element\n");
  EXPECT_EQ(player_.GetCurrentUrl().substr(player_.GetCurrentUrl().find('#')), "#top");
  EXPECT_EQ(Run("click Player.htm go there"), "clicked\n");
  EXPECT_EQ(player_.GetCurrentUrl().substr(player_.GetCurrentUrl().find('#')), "#there") << "the link was followed";
}

TEST_F(DesktopControlTest, PlaceAnswersWithTheRectangleOfTheWindowNamedByPageOrTitle) {
  player_.SetWindowPos(nullptr, 30, 40, 200, 100, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(Run("place Player.htm"), "place 30 40 230 140\n");
  EXPECT_EQ(Run("place Other.htm"), "no place\n");
  EXPECT_EQ(Run("place"), "");
}

TEST_F(DesktopControlTest, AdvanceMovesTheClockAndSyncAnswersWithItsToken) {
  const platform::Millis before = clock_.Now();
  EXPECT_EQ(Run("advance 1500"), "");
  EXPECT_EQ(clock_.Now(), before + 1500);
  EXPECT_EQ(Run("sync 7"), "sync 7\n");
}

}  // namespace

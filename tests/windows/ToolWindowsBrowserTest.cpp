// The settings and status windows on their real pages in Chromium, with the
// skin beside them (label browser), and an image of each page made by the
// page screenshot command into the build folder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/MusicDB.h"
#include "core/Settings.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/windows/ToolWindowsTestSupport.h"
#include "windows/SettingsDialog.h"
#include "windows/StatusDialog.h"

namespace {

using namespace zorva_test;

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

platform::ChromiumHtmlDocument& Browser(CDHtmlDialog& dialog) { return zorva::test::BrowserPage(dialog); }

bool RealClick(CDHtmlDialog& dialog, const std::string& id) {
  return zorva::test::ClickElement(Browser(dialog), dialog.GetElement(id));
}

class CSettingsDialogBrowserTest : public ::testing::Test {
 protected:
  CSettingsDialogBrowserTest() {
    theSettings = Settings();
    EXPECT_TRUE(dialog_.Create(CWnd::GetDesktopWindow()));
    EXPECT_NE(dynamic_cast<platform::ChromiumHtmlDocument*>(dialog_.GetDocument()), nullptr);
  }
  ~CSettingsDialogBrowserTest() override {
    dialog_.DestroyWindow();
    theSettings = Settings();
  }

  bool Until(const std::function<bool()>& done) { return zorva::test::ProcessUntil(Browser(dialog_), done); }

  ToolWindowFixture tools_;
  TempFolder data_;
  MusicDB db_{data_.File("music.db")};
  ScopedMusicDB installed_{db_};
  CSettingsDialog dialog_;
};

TEST_F(CSettingsDialogBrowserTest, TheThreeTabsSwitchTheirViews) {
  // The program filled the page when it loaded.
  EXPECT_EQ(dialog_.GetElementText("vernum"), "3.2B (Build 1034)");
  const std::vector<std::string> names = {"options", "about", "credits"};
  for (const std::string chosen : {"about", "credits", "options"}) {
    ASSERT_TRUE(RealClick(dialog_, "tab_" + chosen)) << chosen;
    EXPECT_TRUE(Until([&] { return dialog_.GetElement("view_" + chosen)->GetStyleDisplay() == "block"; })) << chosen;
    for (const std::string& name : names) {
      EXPECT_EQ(dialog_.GetElement("view_" + name)->GetStyleDisplay(), name == chosen ? "block" : "none") << name;
      const std::string tabClass = dialog_.GetElement("tab_" + name)->GetClassName();
      EXPECT_EQ(tabClass.find("selected") != std::string::npos, name == chosen) << name;
    }
  }
  // The page stayed where it was.
  EXPECT_EQ(dialog_.GetCurrentUrl(), CFramelessHtmlWindow::PageUrl("SettingsDialog.htm"));
}

TEST_F(CSettingsDialogBrowserTest, ClickingACheckboxStoresItsOptionInTheProfile) {
  auto stored = [] {
    platform::ReloadProfile();
    return static_cast<int>(GetProfileInt("Startup", "MinITunes", -1));
  };
  ASSERT_TRUE(dialog_.GetElement("minitunes")->GetChecked());
  for (int expected : {0, 1}) {
    ASSERT_TRUE(RealClick(dialog_, "minitunes"));
    EXPECT_TRUE(Until([&] { return stored() == expected; })) << expected;
    EXPECT_EQ(dialog_.GetElement("minitunes")->GetChecked(), expected == 1);
  }
}

TEST_F(CSettingsDialogBrowserTest, AWebLinkOpensOnceInTheUsersBrowserAndThePageKeepsTakingClicks) {
  // Credits as the page could carry them: a plain http address (the browser
  // would try it as https first) and an https one.
  const std::vector<std::string> addresses = {"http://www.example.org/credits.htm", "https://www.example.org/"};
  dialog_.SetElementHtml("view_credits", "<p><a id='plain' href='" + addresses[0] + "'>plain</a></p>" +
                                             "<p><a id='secure' href='" + addresses[1] + "'>secure</a></p>");
  ASSERT_TRUE(RealClick(dialog_, "tab_credits"));
  ASSERT_TRUE(Until([&] { return dialog_.GetElement("view_credits")->GetStyleDisplay() == "block"; }));

  std::vector<std::string> opened;
  auto take = [&] {
    for (const std::string& url : tools_.links.Take()) opened.push_back(url);
  };
  for (const char* id : {"plain", "secure", "plain"}) {
    ASSERT_TRUE(RealClick(dialog_, id)) << id;
    // The next click on a tab is the page taking clicks after the link.
    ASSERT_TRUE(RealClick(dialog_, "tab_about")) << id;
    ASSERT_TRUE(Until([&] {
      take();
      return dialog_.GetElement("view_about")->GetStyleDisplay() == "block";
    })) << id;
    ASSERT_TRUE(RealClick(dialog_, "tab_credits")) << id;
    ASSERT_TRUE(Until([&] {
      take();
      return dialog_.GetElement("view_credits")->GetStyleDisplay() == "block";
    })) << id;
  }
  take();
  EXPECT_EQ(opened, (std::vector<std::string>{addresses[0], addresses[1], addresses[0]}));
  EXPECT_EQ(dialog_.GetCurrentUrl(), CFramelessHtmlWindow::PageUrl("SettingsDialog.htm"));
}

TEST(StatusDialogBrowserTest, ButtonsLightUpUnderTheMouseAndHelpOpensTheOnlineHelp) {
  ToolWindowFixture tools;
  StatusDialog status;
  ASSERT_TRUE(status.Create());
  auto& page = Browser(status);
  auto left = [&] { return status.GetElement("HelpLink")->GetParent()->GetChildren().front(); };
  double x = 0;
  double y = 0;
  ASSERT_TRUE(page.ElementCentre(status.GetElement("HelpLink"), &x, &y));
  page.MouseEvent("move", x, y);
  EXPECT_TRUE(zorva::test::ProcessUntil(
      page, [&] { return left()->GetStyleBackgroundImage().find("addtagleft_over.gif") != std::string::npos; }));

  ASSERT_TRUE(RealClick(status, "HelpLink"));
  std::vector<std::string> opened;
  EXPECT_TRUE(zorva::test::ProcessUntil(page, [&] {
    for (const std::string& url : tools.links.Take()) opened.push_back(url);
    return !opened.empty();
  }));
  EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:9/player.htm"});
}

// Width and height from a PNG's header; 0 x 0 when it is none.
std::pair<unsigned, unsigned> PngSize(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (data.size() < 24 || data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto word = [&](std::size_t at) {
    return (static_cast<unsigned>(static_cast<unsigned char>(data[at])) << 24) |
           (static_cast<unsigned>(static_cast<unsigned char>(data[at + 1])) << 16) |
           (static_cast<unsigned>(static_cast<unsigned char>(data[at + 2])) << 8) |
           static_cast<unsigned>(static_cast<unsigned char>(data[at + 3]));
  };
  return {word(16), word(20)};
}

TEST(ToolPagesBrowserTest, TheScreenshotCommandMakesAnImageOfEachPage) {
  for (const char* page : {"SettingsDialog", "StatusDialog"}) {
    const std::string out = std::string(ZORVA_SHOT_DIR) + "/" + page + ".png";
    std::remove(out.c_str());
    const std::string command =
        std::string("'") + ZORVA_PAGE_SHOT + "' '" + ZORVA_PAGE_DIR + "/" + page + ".htm' '" + out + "' --size 420x520";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    EXPECT_EQ(PngSize(out), (std::pair<unsigned, unsigned>{420, 520})) << out;
  }
}

}  // namespace

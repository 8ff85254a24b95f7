// The settings window on its page file, in the in-memory document.
#include "windows/SettingsDialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/LibraryScanThread.h"
#include "core/ScanStatus.h"
#include "core/Settings.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/core/ScanTestSupport.h"
#include "tests/windows/ToolWindowsTestSupport.h"

namespace {

// Stopping the worker waits on the test clock: paced steps leave a busy
// machine time to run the worker's clean-up before that wait runs out.
constexpr std::chrono::microseconds kPacing(500);

using namespace zorva_test;
using Posts = std::vector<std::pair<UINT, WPARAM>>;

struct Flag {
  const char* id;
  const char* section;
  const char* entry;
  bool (Settings::*get)() const;
};
const Flag kFlags[] = {
    {"minitunes", "Startup", "MinITunes", &Settings::GetMinITunes},
    {"scanlib", "Startup", "ScanLib", &Settings::GetScanLib},
    {"usetattoo", "skin", "UseVozed", &Settings::GetUseVozed},
};

// The scan's surroundings (database, player, clock) with the test's profile,
// page folder and main window.
class CSettingsDialogTest : public ScanFixture {
 protected:
  CSettingsDialogTest() {
    StartModel(MakeLibrary(3));
    OpenDatabase(false);  // a new database: the worker scans at once
    // The tests' profile goes where the scan's does.
    tools_ = std::make_unique<ToolWindowFixture>();
    theSettings = Settings();
    theScanStatus.Set("Stopped");
    EXPECT_TRUE(dialog_.Create(CWnd::GetDesktopWindow()));
  }
  ~CSettingsDialogTest() override {
    dialog_.DestroyWindow();
    theSettings = Settings();
    theScanStatus.Set("");
  }

  platform::MemoryHtmlDocument& Page() { return *dynamic_cast<platform::MemoryHtmlDocument*>(dialog_.GetDocument()); }
  bool Click(const std::string& id) { return Page().FireEvent(platform::HtmlEvent{"click", dialog_.GetElement(id)}); }
  bool Checked(const std::string& id) { return dialog_.GetElement(id)->GetChecked(); }
  static int Stored(const Flag& flag) {
    platform::ReloadProfile();
    return static_cast<int>(GetProfileInt(flag.section, flag.entry, -1));
  }
  Posts TakePosted() { return tools_->TakePosted(); }

  std::unique_ptr<ToolWindowFixture> tools_;
  CSettingsDialog dialog_;
};

TEST_F(CSettingsDialogTest, EachCheckboxShowsItsOptionAndStoresItAtOnceOnEveryClick) {
  for (const Flag& flag : kFlags) {
    ASSERT_TRUE(Checked(flag.id)) << flag.id;  // the defaults are on
    for (bool expected : {false, true}) {
      Click(flag.id);
      EXPECT_EQ((theSettings.*flag.get)(), expected) << flag.id;
      EXPECT_EQ(Checked(flag.id), expected) << flag.id;
      EXPECT_EQ(Stored(flag), expected ? 1 : 0) << flag.id;
    }
  }
  // A settings record loaded afresh sees what was stored.
  theSettings.SetMinITunes(false);
  WriteProfileInt("Startup", "MinITunes", 1);
  Settings loaded;
  loaded.SetMinITunes(false);
  loaded.Load();
  EXPECT_TRUE(loaded.GetMinITunes());
}

TEST_F(CSettingsDialogTest, TattooSwitchPostsItsWallpaperAndNextTattooAlwaysSwitchesItOn) {
  Click("usetattoo");
  Click("usetattoo");
  EXPECT_EQ(TakePosted(), (Posts{{WM_APP_WALLPAPER, 0}, {WM_APP_WALLPAPER, 1}}));

  Click("usetattoo");
  TakePosted();
  ASSERT_FALSE(Checked("usetattoo"));
  for (int i = 0; i < 2; ++i) {
    Click("changetattoo");
    EXPECT_EQ(TakePosted(), (Posts{{WM_APP_WALLPAPER, 0xFFFFFFFFu}}));
    EXPECT_TRUE(theSettings.GetUseVozed());
    EXPECT_TRUE(Checked("usetattoo"));
    EXPECT_EQ(GetProfileInt("skin", "UseVozed", -1), 1u);
  }

  dialog_.SetWallpaper("url(skin/background3.gif)");
  EXPECT_EQ(dialog_.GetElement("settings")->GetStyleBackgroundImage(), "url(skin/background3.gif)");
}

TEST_F(CSettingsDialogTest, ScanNowStartsOrStopsTheWorkerAndItsCaptionSaysWhich) {
  // Without the player window the button does nothing.
  EXPECT_FALSE(Click("scannow"));
  EXPECT_EQ(dialog_.GetElementText("scannow"), "Scan Now");

  libraryChanged = false;                   // the worker only waits between scans
  ClockDriver driver(clock_, 50, kPacing);  // its waits, and the 1 ms look whether it runs, pass
  LibraryScanThread thread(&owner_);
  dialog_.SetMainWindow(&owner_, &thread);
  Click("scannow");
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_EQ(dialog_.GetElementText("scannow"), "Stop scanning");
  owner_.WaitFor("Scan complete, pausing between scans");

  Click("scannow");
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(dialog_.GetElementText("scannow"), "Scan Now");
  EXPECT_EQ(owner_.Count("Stopped"), 1);
}

TEST_F(CSettingsDialogTest, ScanOptionStopsARunningScanAndStartsOneWhenSwitchedOn) {
  libraryChanged = false;
  ClockDriver driver(clock_, 50, kPacing);
  LibraryScanThread thread(&owner_);
  dialog_.SetMainWindow(&owner_, &thread);
  thread.Start();
  owner_.WaitFor("Scan complete, pausing between scans");

  Click("scanlib");
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(dialog_.GetElementText("scannow"), "Scan Now");

  Click("scanlib");
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_EQ(dialog_.GetElementText("scannow"), "Stop scanning");
  owner_.WaitFor("Scan complete, pausing between scans", 2);
  thread.Stop();
}

TEST_F(CSettingsDialogTest, ScanStatusShowsAsTextAndTheAboutTabShowsVersionAndLibrary) {
  EXPECT_EQ(dialog_.GetElementText("status"), "Stopped");
  EXPECT_EQ(dialog_.GetElementText("vernum"), "3.2B (Build 1034)");
  EXPECT_NE(dialog_.GetElementHtml("dbdetails").find("You have 0 tracks"), std::string::npos);

  // Posted while the window is hidden; markup in a status stays text.
  ASSERT_FALSE(dialog_.IsWindowVisible());
  theScanStatus.Set("<b onclick='x()'>Done</b> & more");
  dialog_.PostMessage(WM_APP_SCAN_STATUS);
  platform::PumpMessages();
  EXPECT_EQ(dialog_.GetElementText("status"), "<b onclick='x()'>Done</b> & more");
  EXPECT_TRUE(dialog_.GetElement("status")->GetChildren().empty());

  // The About tab shows the library as it is now.
  DB().AddOrUpdateTrack([] {
    Track track;
    track.name = "One";
    track.artist = "Band";
    track.album = "First";
    track.genre = "Rock";
    track.location = "/music/one.mp3";
    return track;
  }());
  Click("about");
  const std::string details = dialog_.GetElementHtml("dbdetails");
  EXPECT_NE(details.find("You have 1 tracks"), std::string::npos) << details;
  EXPECT_NE(details.find("<li>1 are genres</li>"), std::string::npos) << details;
}

TEST_F(CSettingsDialogTest, WithAnUnwritableConfigurationFolderAClickStoresNothingAndShowsTheStoredState) {
  WriteProfileInt("Startup", "MinITunes", 0);
  theSettings.Load();
  dialog_.UpdateData(FALSE);
  ASSERT_FALSE(Checked("minitunes"));
  const std::string folder = tools_->config.Path() + "/zorva";
  {
    UnwritableFolder locked(folder, {tools_->config.Path()});
    ASSERT_FALSE(WriteProfileInt("Startup", "Probe", 1));
    for (const Flag& flag : kFlags) {
      const bool before = (theSettings.*flag.get)();
      Click(flag.id);
      EXPECT_EQ((theSettings.*flag.get)(), before) << flag.id;
      EXPECT_EQ(Checked(flag.id), before) << flag.id;
    }
    Click("changetattoo");
  }
  // The tattoo was on and stays on.
  EXPECT_EQ(TakePosted(), (Posts{{WM_APP_WALLPAPER, 0xFFFFFFFFu}}));
  EXPECT_EQ(Stored(kFlags[0]), 0);
  EXPECT_EQ(Stored(kFlags[1]), -1);
  EXPECT_EQ(Stored(kFlags[2]), -1);
}

TEST_F(CSettingsDialogTest, LinksLeavingThePageOpenInTheBrowserOnlyWhenTheyAreWebAddresses) {
  dialog_.SetElementHtml("view_credits",
                         "<a id=web href='https://www.sqlite.org/'>web</a>"
                         "<a id=plain href='http://example.com/a?b=c'>plain</a>"
                         "<a id=file href='file:///etc/passwd'>file</a>"
                         "<a id=script href='javascript:alert(1)'>script</a>"
                         "<a id=program href='http://example.com/Zorva.exe'>program</a>"
                         "<a id=other href='Other.htm'>other</a>"
                         "<a id=hash href='#top'>hash</a>");
  const std::string page = dialog_.GetCurrentUrl();
  for (const char* id : {"web", "plain", "file", "script", "program", "other", "hash"}) Click(id);
  EXPECT_EQ(tools_->links.Take(), (std::vector<std::string>{"https://www.sqlite.org/", "http://example.com/a?b=c"}));
  EXPECT_EQ(dialog_.GetCurrentUrl(), page);
  EXPECT_TRUE(dialog_.GetElement("scanlib"));
}

TEST_F(CSettingsDialogTest, StartsHiddenBesideTheDesktopCentreAndTheCloseButtonHidesIt) {
  RECT rect{};
  dialog_.GetWindowRect(&rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  EXPECT_EQ(rect.left, 1920 / 2 - width - 5);
  EXPECT_EQ(rect.top, 1080 / 2 - height / 2 + 50);
  EXPECT_FALSE(dialog_.IsWindowVisible());

  dialog_.ShowWindow(SW_SHOWNORMAL);
  Click("ButtonOK");
  EXPECT_FALSE(dialog_.IsWindowVisible());
  dialog_.ShowWindow(SW_SHOWNORMAL);
  EXPECT_TRUE(dialog_.IsWindowVisible());
}

}  // namespace

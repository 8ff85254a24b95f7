// The player window's set-up, timers, messages, hot keys and wallpaper on its
// page file in the in-memory document, over the in-process player on the
// test clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/kernel/Sync.h"
#include "tests/windows/ZorvaDlgTestSupport.h"
#include "windows/ZorvaDlg.h"

namespace {

using namespace zorva_test;

class ZorvaDlgWindowTest : public ZorvaDlgFixture {
 protected:
  ZorvaDlgWindowTest() { StartPlayer(MakeLibrary(30, 200)); }

  platform::MemoryHtmlDocument& Page() { return *dynamic_cast<platform::MemoryHtmlDocument*>(dialog->GetDocument()); }
  void Click(const std::string& id) { Page().FireEvent(platform::HtmlEvent{"click", dialog->GetElement(id)}); }
  // The arguments of the last "setthetimer" since the calls were cleared ("" for none).
  std::string LastTimer() {
    std::string shown;
    for (const auto& call : Page().ScriptCalls())
      if (call.name == "setthetimer" && !call.args.empty()) shown = call.args[0].ToText();
    return shown;
  }
  // Whether the named kernel event `name` is set now.
  static bool IsSet(const char* name) {
    const platform::UniqueHandle event(CreateEvent(nullptr, TRUE, FALSE, name));
    return WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
  }
  long Position() { return model->Status().position; }
  // Runs in poll steps until `done` holds (at most `limitMs`).
  template <class Done>
  bool RunUntil(Done done, platform::Millis limitMs) {
    for (platform::Millis ms = 0; ms < limitMs; ms += 500) {
      if (done()) return true;
      Run(500);
    }
    return done();
  }
};

TEST_F(ZorvaDlgWindowTest, ToolWindowsStartHiddenAndComeUpFromTheToolbar) {
  Open();
  CWnd* tools[] = {&dialog->GetLab(), &dialog->GetAutomator(), &dialog->GetGenerator(), &dialog->GetSettingsWindow(),
                   &dialog->GetStatusWindow()};
  for (CWnd* tool : tools) {
    EXPECT_NE(tool->GetSafeHwnd(), nullptr);
    EXPECT_FALSE(tool->IsWindowVisible());
  }
  EXPECT_EQ(dialog->GetSettingsWindow().GetMainWindow(), dialog.get());
  // The scan worker started with the window; with no periodic scan it ends
  // at once, its last word on the status line.
  const platform::UniqueHandle workerDone(CreateEvent(nullptr, TRUE, FALSE, "cleanupdone"));
  ASSERT_EQ(WaitForSingleObject(workerDone.Get(), INFINITE), WAIT_OBJECT_0);
  Pump();
  EXPECT_EQ(Html("status"), "Stopped");

  const struct {
    const char* id;
    CWnd* window;
  } buttons[] = {{"automator", tools[1]}, {"generator", tools[2]}, {"settings", tools[3]},
                 {"help", tools[4]},      {"lab", tools[0]}};
  for (const auto& button : buttons) {
    Click(button.id);
    EXPECT_TRUE(button.window->IsWindowVisible()) << button.id;
  }
}

TEST_F(ZorvaDlgWindowTest, WallpaperCyclesReachEveryWindowAndAreStored) {
  WriteProfileInt("Skin", "wallpaper", 99);  // out of range: the first tattoo
  Open();
  EXPECT_EQ(dialog->GetWallpaper(), 1);

  const struct {
    int from;
    bool logo;
    WPARAM wParam;
    int expected;
  } cases[] = {
      {14, false, static_cast<WPARAM>(-1), 1}, {3, false, static_cast<WPARAM>(-1), 4}, {0, false, 100, 1},
      {5, false, 0, 0},                        {9, false, 1, 1},                       {14, true, 0, 0},
      {0, true, 0, 1},                         {13, true, 0, 14},
  };
  for (const auto& c : cases) {
    dialog->SendMessage(WM_APP_WALLPAPER, static_cast<WPARAM>(c.from));
    if (c.logo) {
      Click("logo");
    } else {
      dialog->SendMessage(WM_APP_WALLPAPER, c.wParam);
    }
    const std::string style = "url(skin/background" + std::to_string(c.expected) + ".gif)";
    EXPECT_EQ(dialog->GetWallpaper(), c.expected) << c.from << " " << c.logo;
    EXPECT_EQ(dialog->GetElement("CZorvaDlg")->GetStyle("background-image"), style);
    EXPECT_EQ(dialog->GetLab().GetWallpaper(), style);
    EXPECT_EQ(dialog->GetAutomator().GetWallpaper(), style);
    EXPECT_EQ(dialog->GetSettingsWindow().GetWallpaper(), style);
    EXPECT_EQ(dialog->GetGenerator().GetWallpaper(), style);
    EXPECT_EQ(static_cast<int>(GetProfileInt("Skin", "wallpaper", -5)), c.expected);
  }
}

TEST_F(ZorvaDlgWindowTest, ThePollShowsTheTimeAndPausesTheScanAroundTrackChanges) {
  // Before any track the title is empty: nothing to scroll.
  dialog = std::make_unique<CZorvaDlg>();
  ASSERT_TRUE(dialog->Create(CWnd::GetDesktopWindow()));
  EXPECT_NO_THROW(dialog->ScrollTitle());
  Run(5000);
  const int length = dialog->GetNowPlaying().length;
  ASSERT_EQ(length, 200);
  Page().ClearScriptCalls();
  Run(500);
  EXPECT_EQ(LastTimer(), std::to_string(length - Position()));
  Click("timer");
  Page().ClearScriptCalls();
  Run(500);
  EXPECT_EQ(LastTimer(), std::to_string(Position()));

  // 17 s before the end the scan is paused ...
  ASSERT_TRUE(RunUntil([&] { return Position() >= length - 17; }, 300000));
  Run(500);
  EXPECT_TRUE(IsSet("scanningpasued"));
  // ... and stays so until 5 to 7 s into the next track.
  ASSERT_TRUE(RunUntil([&] { return Position() > 0 && Position() < 4; }, 60000));
  EXPECT_TRUE(IsSet("scanningpasued"));
  ASSERT_TRUE(RunUntil([&] { return Position() >= 6; }, 10000));
  EXPECT_FALSE(IsSet("scanningpasued"));
}

TEST_F(ZorvaDlgWindowTest, StatusLineMixListsTagListsAndAnalysisFollowTheirMessages) {
  Open();
  // The status line holds a text 6 s after its last change.
  dialog->SetScanStatus("Scanning 5 of 30");
  Pump();
  EXPECT_EQ(Html("status"), "Scanning 5 of 30");
  EXPECT_EQ(dialog->GetSettingsWindow().GetElementHtml("status"), "Scanning 5 of 30");
  Run(5500);
  EXPECT_EQ(Html("status"), "Scanning 5 of 30");
  Run(1000);
  EXPECT_EQ(Html("status"), "");

  // The mix lists are rebuilt once, 300 ms after the mixes changed.
  StoreGenreMix("Genre 1", "Late Mix");
  dialog->PostMessage(WM_APP_MIXES_CHANGED);
  Pump();
  EXPECT_EQ(Html("zorvamixlinks").find("Late Mix"), std::string::npos);
  clock.Advance(300);
  Pump();
  EXPECT_NE(Html("zorvamixlinks").find("Late Mix"), std::string::npos);
  dialog->GetElement("zorvamixlinks")->SetInnerHtml("kept");
  Run(2000);
  EXPECT_EQ(Html("zorvamixlinks"), "kept");

  // Tracks added by a scan reach the tag lists.
  Track added;
  added.name = "New";
  added.genre = "Brand New Genre";
  added.location = "/music/new/new.mp3";
  db.AddOrUpdateTrack(added);
  dialog->SendMessage(WM_APP_SCAN_PROGRESS);
  EXPECT_NE(Html("genretaglinks").find("Brand New Genre"), std::string::npos);

  // The database is analysed at most once a calendar month.
  auto analysed = [&] {
    SQLiteRowSet rows;
    db.Query("SELECT name FROM sqlite_master WHERE name = 'sqlite_stat1'", rows);
    if (rows.empty()) return false;
    db.Query("SELECT * FROM sqlite_stat1", rows);
    return rows.size() > 1;
  };
  clock.SetLocalDateTime(2026, 12, 9, 10, 0);
  dialog->SendMessage(WM_APP_SCAN_ADDED);
  EXPECT_TRUE(analysed());
  EXPECT_EQ(GetProfileInt("DB", "AnalyzeMonth", 0), 12u);
  EXPECT_EQ(GetProfileInt("DB", "AnalyzeYear", 0), 2026u);
  db.Exec("DELETE FROM sqlite_stat1");
  dialog->SendMessage(WM_APP_SCAN_ADDED);
  EXPECT_FALSE(analysed());
  clock.SetLocalDateTime(2027, 1, 2, 10, 0);
  dialog->SendMessage(WM_APP_SCAN_ADDED);
  EXPECT_TRUE(analysed());
  EXPECT_EQ(GetProfileInt("DB", "AnalyzeMonth", 0), 1u);
}

TEST_F(ZorvaDlgWindowTest, HotKeysAndTheMediaKeyPlayPauseAndShowTheLab) {
  Open();
  const bool paused = dialog->IsPaused();
  dialog->SendMessage(WM_HOTKEY, 128);
  EXPECT_NE(dialog->IsPaused(), paused);
  // Play/pause of any device; other commands do nothing.
  dialog->SendMessage(WM_APPCOMMAND, 0, MAKELPARAM(0, 14 | 0x8000));
  EXPECT_EQ(dialog->IsPaused(), paused);
  dialog->SendMessage(WM_APPCOMMAND, 0, MAKELPARAM(0, 13));
  EXPECT_EQ(dialog->IsPaused(), paused);

  dialog->SendMessage(WM_HOTKEY, 127);
  EXPECT_TRUE(dialog->GetLab().IsWindowVisible());
  EXPECT_EQ(dialog->GetLab().GetCurrentTrack().location, dialog->GetNowPlaying().location);
}

}  // namespace

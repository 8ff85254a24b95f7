// The player window's set-up, timers, messages, hot keys and wallpaper on its
// page file in the in-memory document, over the in-process player on the
// test clock.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/kernel/Sync.h"
#include "tests/zorva/ZorvaDlgTestSupport.h"
#include "zorva/ZorvaDlg.h"

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
  // The scan worker started with the window; with no periodic scan it ended
  // at once, its last word on the status line.
  EXPECT_EQ(Html("status"), "Stopped");

  const struct {
    const char* id;
    CWnd* window;
  } buttons[] = {
      {"automator", tools[1]}, {"generator", tools[2]}, {"settings", tools[3]}, {"help", tools[4]}, {"lab", tools[0]}};
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
      {14, false, static_cast<WPARAM>(-1), 1},
      {3, false, static_cast<WPARAM>(-1), 4},
      {0, false, 100, 1},
      {5, false, 0, 0},
      {9, false, 1, 1},
      {14, true, 0, 0},
      {0, true, 0, 1},
      {13, true, 0, 14},
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
  EXPECT_TRUE(platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'P'));
  Pump();
  EXPECT_NE(dialog->IsPaused(), paused);
  // Play/pause of any device; other commands do nothing.
  dialog->SendMessage(WM_APPCOMMAND, 0, MAKELPARAM(0, 14 | 0x8000));
  EXPECT_EQ(dialog->IsPaused(), paused);
  dialog->SendMessage(WM_APPCOMMAND, 0, MAKELPARAM(0, 13));
  EXPECT_EQ(dialog->IsPaused(), paused);

  EXPECT_TRUE(platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'L'));
  Pump();
  EXPECT_TRUE(dialog->GetLab().IsWindowVisible());
  EXPECT_EQ(dialog->GetLab().GetCurrentTrack().location, dialog->GetNowPlaying().location);
  // The keys are the system's again once the window is gone.
  dialog.reset();
  EXPECT_FALSE(platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'P'));
  EXPECT_FALSE(platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'L'));
}

}  // namespace

namespace {

using namespace zorva_test;

class ZorvaDlgStartTest : public ZorvaDlgWindowTest {
 protected:
  // The window made; its page not yet filled.
  void Create() {
    dialog = std::make_unique<CZorvaDlg>();
    ASSERT_TRUE(dialog->Create(CWnd::GetDesktopWindow()));
    Pump();
  }
  // Makes the window while a watcher lets time go on, a millisecond at a
  // time, for whichever thread waits on the test clock, until the set-up has
  // returned and the scan worker has ended. The set-up's commit can meet the
  // worker's read: the one that finds the database busy waits on the clock to
  // try again, and the other may go on to its end without ever waiting.
  // Gives how far the clock went.
  platform::Millis CreateMovingTheClockWhileAThreadWaits() {
    std::atomic<bool> created{false};
    std::atomic<platform::Millis> moved{0};
    std::thread watcher([&] {
      platform::UniqueHandle workerDone;
      for (;;) {
        if (created.load()) {
          // Opened only now: made first here, the event would start unset and
          // keep the window from starting its worker. The look does not block.
          if (!workerDone) workerDone.Reset(CreateEvent(nullptr, TRUE, FALSE, "cleanupdone"));
          if (WaitForSingleObject(workerDone.Get(), 0) == WAIT_OBJECT_0) break;
        }
        if (clock.Waiters() > 0) {
          clock.Advance(1);
          ++moved;
        }
        std::this_thread::yield();
      }
    });
    dialog = std::make_unique<CZorvaDlg>();
    const bool made = dialog->Create(CWnd::GetDesktopWindow());
    created = true;
    watcher.join();
    EXPECT_TRUE(made);
    return moved.load();
  }
  bool Filled() { return !dialog->GetUpcoming().empty(); }
  // Closes the window; the profile as a later start reads it.
  void Close() {
    dialog.reset();
    platform::ReloadProfile();
  }
};

TEST_F(ZorvaDlgStartTest, ThePageIsFilledOnce30MsAfterItCompletes) {
  Create();
  clock.Advance(29);
  Pump();
  EXPECT_FALSE(Filled());
  EXPECT_FALSE(dialog->GetStatusWindow().IsWindowVisible());
  clock.Advance(1);
  Pump();
  ASSERT_TRUE(Filled());
  EXPECT_EQ(PlayRecords().size(), 1u);
  // A later document only waits for its elements again; nothing starts twice.
  dialog->Navigate(dialog->GetCurrentUrl());
  Run(2000);
  EXPECT_EQ(PlayRecords().size(), 1u);
  EXPECT_EQ(dialog->GetElement("CZorvaDlg")->GetStyle("background-image"), "url(skin/background1.gif)");
}

TEST_F(ZorvaDlgStartTest, ANewDatabaseShowsTheStatusWindowAndWaitsFiveSeconds) {
  TempFolder fresh;
  MusicDB newDB(fresh.File("music.db"));
  ASSERT_TRUE(newDB.IsNewDatabase());
  AddTracks(newDB, MakeLibrary(30, 200));
  ScopedMusicDB installed(newDB);
  // The first scan of a new database finds the player busy and ends at once.
  model->DisableCalls(1);
  const platform::Millis moved = CreateMovingTheClockWhileAThreadWaits();
  ASSERT_LT(moved, 4999);
  model->EnableCalls();
  Pump();
  // The page completed while the window was being set up.
  EXPECT_TRUE(dialog->GetStatusWindow().IsWindowVisible());
  clock.Advance(4999 - moved);
  Pump();
  EXPECT_FALSE(Filled());
  clock.Advance(1);
  Pump();
  EXPECT_TRUE(Filled());
  dialog.reset();
}

// The first fill of a new database can come before its scan stored a track:
// nothing plays, the poll leaves the scan running (there is no track end to
// keep quiet for), and the tracks play once the scan has stored them, whether
// it reports them yet or not (it reports a large library only every fifth).
TEST_F(ZorvaDlgStartTest, ANewDatabaseFilledEmptyPlaysOnceTheScanHasStoredTracks) {
  for (const UINT message : {UINT(WM_APP_SCAN_PROGRESS), UINT(WM_APP_SCAN_ADDED), UINT(0)}) {
    SCOPED_TRACE(message);
    model->UserStop();
    LibraryScanThread::ResetProcessState();
    const platform::UniqueHandle pause(CreateEvent(nullptr, TRUE, FALSE, "scanningpasued"));
    ResetEvent(pause.Get());
    TempFolder fresh;
    MusicDB newDB(fresh.File("music.db"));
    ASSERT_TRUE(newDB.IsNewDatabase());
    ScopedMusicDB installed(newDB);
    // The first scan finds the player busy and ends at once, storing nothing.
    model->DisableCalls(1);
    const platform::Millis moved = CreateMovingTheClockWhileAThreadWaits();
    const platform::UniqueHandle workerDone(CreateEvent(nullptr, TRUE, FALSE, "cleanupdone"));
    ASSERT_EQ(WaitForSingleObject(workerDone.Get(), INFINITE), WAIT_OBJECT_0);
    model->EnableCalls();
    Run(5000 - moved + 2000);
    EXPECT_FALSE(Filled());
    EXPECT_EQ(PlayingId(), 0);
    EXPECT_FALSE(IsSet("scanningpasued")) << "nothing plays: the scan goes on";

    {
      // Stored as the scan stores them: through a connection of its own.
      MusicDB scan(fresh.File("music.db"));
      AddTracks(scan, MakeLibrary(30, 200));
    }
    if (message != 0) dialog->PostMessage(message);
    Run(1000);
    EXPECT_EQ(dialog->GetUpcoming().size(), 10u);
    EXPECT_NE(PlayingId(), 0);
    EXPECT_NE(Html("trackname"), "");
    SQLiteRowSet plays;
    newDB.Query("SELECT id FROM trackPlayRecord", plays);
    EXPECT_EQ(plays.size(), 1u) << "the track played is recorded";
    Close();
  }
}

TEST_F(ZorvaDlgStartTest, APageThatNeverBecomesReadyStartsNothingAndLosesNothing) {
  const Mix stored = StoreGenreMix("Genre 1", "Stored");
  WriteProfileInt("Startup", "CurrentMix", stored.GetId());
  TempFolder pages;
  std::ofstream(pages.File("Zorva.htm")) << "<html><body id=\"CZorvaDlg\"><div id=\"status\"></div></body></html>";
  CFramelessHtmlWindow::SetPageFolder(pages.Path());
  Create();
  Run(60000);
  EXPECT_FALSE(Filled());
  EXPECT_TRUE(PlayRecords().empty());
  EXPECT_EQ(PlayingId(), 0);
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), stored.GetId());
  Close();
  EXPECT_EQ(static_cast<int>(GetProfileInt("Startup", "CurrentMix", 0)), stored.GetId());
}

TEST_F(ZorvaDlgStartTest, APlayerThatQuitsDuringStartUpEndsTheWindowAndLosesNothing) {
  const Mix stored = StoreGenreMix("Genre 1", "Stored");
  WriteProfileInt("Startup", "CurrentMix", stored.GetId());
  Create();
  model->Quit();
  Run(5000);
  EXPECT_FALSE(dialog->IsWindowVisible());
  EXPECT_TRUE(PlayRecords().empty());
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), stored.GetId());
  Close();
  EXPECT_EQ(static_cast<int>(GetProfileInt("Startup", "CurrentMix", 0)), stored.GetId());
  std::vector<BYTE> placement;
  EXPECT_TRUE(GetProfileBinary("Position", "Player", placement));
  EXPECT_EQ(placement.size(), sizeof(WINDOWPLACEMENT));
}

TEST_F(ZorvaDlgStartTest, StoredValuesOutOfRangeGiveAUsableWindow) {
  constexpr LONG kFar = 0x7FFFFF00;
  const struct {
    const char* name;
    WINDOWPLACEMENT placement;
    std::size_t bytes;  // as stored
    int wallpaper;
    int currentMix;
    int expectedWallpaper;
  } cases[] = {
      {"short placement", {44, 0, SW_SHOWNORMAL, {}, {}, RECT{40, 50, 60, 70}}, 10, 15, 9999, 1},
      {"unknown show command", {44, 0, 99, {}, {}, RECT{40, 50, 60, 70}}, 44, -3, -4, 1},
      {"far right and below", {44, 0, SW_SHOWNORMAL, {}, {}, RECT{kFar, kFar, kFar, kFar}}, 44, 14, 0, 14},
      {"far left and above", {44, 0, SW_SHOWNORMAL, {}, {}, RECT{-kFar, -kFar, 0, 0}}, 44, 0, 12345, 0},
  };
  for (const auto& c : cases) {
    WriteProfileBinary("Position", "Player", reinterpret_cast<const BYTE*>(&c.placement), static_cast<UINT>(c.bytes));
    WriteProfileInt("Skin", "wallpaper", c.wallpaper);
    WriteProfileInt("Startup", "CurrentMix", c.currentMix);
    LibraryScanThread::ResetProcessState();  // each start's scan worker ends at once
    Open();
    EXPECT_TRUE(dialog->IsWindowVisible()) << c.name;
    RECT rect{};
    dialog->GetWindowRect(&rect);
    EXPECT_TRUE(rect.right > 0 && rect.bottom > 0 && rect.left < GetSystemMetrics(SM_CXSCREEN) &&
                rect.top < GetSystemMetrics(SM_CYSCREEN))
        << c.name << ": on the desktop";
    EXPECT_EQ(dialog->GetWallpaper(), c.expectedWallpaper) << c.name;
    EXPECT_TRUE(dialog->GetCurrentMix().IsRandom()) << c.name;
    EXPECT_EQ(dialog->GetUpcoming().size(), 10u) << c.name;
    EXPECT_NE(PlayingId(), 0) << c.name;
    Close();
    std::vector<BYTE> saved;
    EXPECT_TRUE(GetProfileBinary("Position", "Player", saved)) << c.name;
    EXPECT_EQ(saved.size(), sizeof(WINDOWPLACEMENT)) << c.name;
    EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 1), 0u) << c.name;
  }
}

TEST_F(ZorvaDlgWindowTest, KeysReachThePageButNeverCloseOrReloadTheWindow) {
  Open();
  const struct {
    WPARAM key;
    bool ctrl;
    BOOL handled;
  } cases[] = {
      {VK_RETURN, false, FALSE}, {VK_ESCAPE, false, TRUE}, {VK_F5, false, TRUE},
      {'P', true, FALSE},        {'P', false, FALSE},
  };
  const std::string url = dialog->GetCurrentUrl();
  for (const auto& c : cases) {
    platform::SetKeyDown(VK_CONTROL, c.ctrl);
    MSG msg{};
    msg.hwnd = dialog->GetSafeHwnd();
    msg.message = WM_KEYDOWN;
    msg.wParam = c.key;
    EXPECT_EQ(dialog->PreTranslateMessage(&msg), c.handled) << c.key << " " << c.ctrl;
    dialog->PostMessage(WM_KEYDOWN, c.key);
    Pump();
    EXPECT_TRUE(dialog->IsWindowVisible()) << c.key;
    EXPECT_EQ(dialog->GetCurrentUrl(), url) << c.key;
  }
  platform::SetKeyDown(VK_CONTROL, false);
}

TEST_F(ZorvaDlgWindowTest, ComingForwardBringsTheVisibleToolWindowsAlong) {
  Open();
  CWnd& lab = dialog->GetLab();
  CWnd& automator = dialog->GetAutomator();
  lab.ShowWindow(SW_SHOW);
  automator.ShowWindow(SW_SHOW);
  for (CWnd* window : {static_cast<CWnd*>(dialog.get()), &lab, &automator})
    window->SetWindowPos(&CWnd::wndBottom, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const HWND hidden = dialog->GetGenerator().GetSafeHwnd();
  ASSERT_LT(ZRank(hidden), ZRank(*dialog));

  dialog->SendMessage(WM_ACTIVATE, WA_INACTIVE);
  EXPECT_LT(ZRank(hidden), ZRank(*dialog));
  dialog->SendMessage(WM_ACTIVATE, WA_CLICKACTIVE);
  EXPECT_LT(ZRank(*dialog), ZRank(lab));
  EXPECT_LT(ZRank(lab), ZRank(automator));
  EXPECT_LT(ZRank(automator), ZRank(hidden));
  EXPECT_LT(ZRank(automator), ZRank(dialog->GetSettingsWindow()));
}

TEST_F(ZorvaDlgWindowTest, TheTitleScrollsWhilePlayingAndStandsStillWhileStopped) {
  Open();
  const Track& playing = dialog->GetNowPlaying();
  const std::string title = dialog->GetTitle();
  ASSERT_EQ(title, " > Zorva : " + playing.name + " - " + playing.artist);
  std::vector<std::string> shown;
  for (int tick = 0; tick < 3; ++tick) {
    Run(500);
    shown.push_back(dialog->GetWindowText());
  }
  for (std::size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i], shown[i - 1].substr(1) + shown[i - 1][0]);

  dialog->TogglePlayPause();
  Run(1000);
  EXPECT_EQ(dialog->GetWindowText(), title.substr(2) + title.substr(0, 2));
  Run(500);
  EXPECT_EQ(dialog->GetWindowText(), title.substr(2) + title.substr(0, 2));
}

TEST_F(ZorvaDlgWindowTest, ScheduleMessagesAndTheShowLabMessageReachTheirWindows) {
  Open();
  // Started with nothing due: the page's scheduler icon shows it, and the player stops.
  Page().ClearScriptCalls();
  theScheduler.Start();
  Pump();
  EXPECT_EQ(PlayingId(), 0);
  // A slot stored by the scheduler window counts once the message comes.
  const Mix ones = StoreGenreMix("Genre 1", "Ones");
  ScheduleItem item(540, 600, ones.GetId(), 2);  // weekdays 9:00 - 10:00; the clock says Monday 9:00
  db.AddScheduleItem(item);
  EXPECT_FALSE(theScheduler.CheckDue());
  dialog->PostMessage(WM_APP_SCHEDULE_CHANGED);
  Pump();
  EXPECT_TRUE(theScheduler.CheckDue());
  EXPECT_NE(dialog->GetAutomator().GetElementHtml("mixdata"), "");
  // Stopped and started again: the due mix becomes current.
  theScheduler.Stop();
  Pump();
  theScheduler.Start();
  Pump();
  std::vector<std::string> calls;
  for (const auto& call : Page().ScriptCalls())
    if (call.name.find("automator") != std::string::npos) calls.push_back(call.name);
  EXPECT_EQ(calls, (std::vector<std::string>{"enableautomator", "disableautomator", "enableautomator"}));
  EXPECT_EQ(dialog->GetCurrentMix().GetId(), ones.GetId());

  dialog->PostMessage(ShowLabMessage());
  Pump();
  EXPECT_TRUE(dialog->GetLab().IsWindowVisible());
  EXPECT_EQ(GetForegroundWindow(), dialog->GetLab().GetSafeHwnd());
  EXPECT_EQ(dialog->GetLab().GetCurrentTrack().location, dialog->GetNowPlaying().location);
}

TEST_F(ZorvaDlgWindowTest, TheSchedulersAndTheGeneratorsMixMenusHoldThePlayersMixes) {
  pp::LibraryData library = MakeLibrary(30, 200);
  AddPlaylist(library, 2, "Road Mix", {1, 2, 3});
  StartPlayer(std::move(library));
  const Mix ones = StoreGenreMix("Genre 1", "Ones");
  Open();
  Automator& automator = dialog->GetAutomator();
  CGenerator& generator = dialog->GetGenerator();
  auto fire = [](CFramelessHtmlWindow& window, const platform::HtmlElementPtr& element) {
    ASSERT_TRUE(element);
    window.GetDocument()->FireEvent(platform::HtmlEvent{"click", element});
  };
  // The stored mixes in both menus, the player's playlists in the scheduler's.
  for (const std::string& menu : {automator.GetElementHtml("zorvamixlinks"), generator.GetElementHtml("mixlinks")}) {
    EXPECT_NE(menu.find("New Mix"), std::string::npos);
    EXPECT_NE(menu.find("Ones"), std::string::npos);
  }
  EXPECT_NE(automator.GetElementHtml("iplaylistlinks").find("Road Mix"), std::string::npos);
  // A slot takes a stored mix from the menu.
  ScheduleItem slot(600, 660, 0, 2);
  db.AddScheduleItem(slot);
  automator.SetElementText("currentitem", "itemmix_" + slot.GetElementId());
  fire(automator, FindElement(automator.GetElement("zorvamixlinks"), "mixwrap", std::to_string(ones.GetId()) + "_:_"));
  EXPECT_EQ(db.GetMixOfScheduleItem(slot.GetId()).GetId(), ones.GetId());
  // A mix stored later reaches both menus with the player's.
  StoreGenreMix("Genre 0", "Zeros");
  dialog->PostMessage(WM_APP_MIXES_CHANGED);
  Pump();
  Run(500);
  EXPECT_NE(automator.GetElementHtml("zorvamixlinks").find("Zeros"), std::string::npos);
  EXPECT_NE(generator.GetElementHtml("mixlinks").find("Zeros"), std::string::npos);
}

TEST_F(ZorvaDlgWindowTest, TheSchedulersOnOffButtonShowsEveryChangeOfTheSchedulersState) {
  Open();
  Automator& automator = dialog->GetAutomator();
  auto click = [&] {
    automator.GetDocument()->FireEvent(platform::HtmlEvent{"click", automator.GetElement("enable")});
  };
  // Whoever changes the state, the button shows it.
  auto shown = [&] {
    const auto button = automator.GetElement("enable");
    return button->GetClassName() + " " + button->GetInnerText();
  };
  EXPECT_EQ(shown(), "enableclass Stopped");
  struct Step {
    std::function<void()> change;
    std::string expected;
  };
  const Step steps[] = {
      {[] { theScheduler.Start(); }, "disableclass Running"},
      {[&] { dialog->TogglePlayPause(); }, "overrideclass Override"},
      {click, "disableclass Running"},
      {click, "enableclass Stopped"},
  };
  for (const Step& step : steps) {
    step.change();
    Pump();
    EXPECT_EQ(shown(), step.expected);
  }
}

TEST_F(ZorvaDlgWindowTest, ARenamedMixRedrawsTheMixListsOnce300MsLater) {
  const Mix zeros = StoreGenreMix("Genre 0", "Zeros");
  Open();
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(zeros.GetId()));
  dialog->GetElement("currentmixname")->SetInnerHtml("Renamed");
  dialog->SendMessage(WM_APP_MIX_RENAMED);
  clock.Advance(299);
  Pump();
  EXPECT_EQ(Html("zorvamixlinks").find("Renamed"), std::string::npos);
  clock.Advance(1);
  Pump();
  EXPECT_NE(Html("zorvamixlinks").find("Renamed"), std::string::npos);
  dialog->GetElement("zorvamixlinks")->SetInnerHtml("kept");
  Run(1000);
  EXPECT_EQ(Html("zorvamixlinks"), "kept");
}

}  // namespace

// The player window over the in-process player on a manual clock, a music
// database holding the player's library, a profile and the real page file
// (in the in-memory document unless a test installs a browser).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/LibraryScanThread.h"
#include "core/MusicDB.h"
#include "core/Scheduler.h"
#include "core/Settings.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "platform/kernel/Sync.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerModel.h"
#include "platform/profile/Profile.h"
#include "tests/core/PlayerTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "zorva/ZorvaDlg.h"

namespace zorva_test {

// Place of a top-level window in the z-order, the frontmost 0 (-1: none).
inline int ZRank(HWND hwnd) {
  int rank = 0;
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT), ++rank)
    if (w == hwnd) return rank;
  return -1;
}

// The first element below `root` of class `className` whose id starts with `prefix`.
inline platform::HtmlElementPtr FindElement(const platform::HtmlElementPtr& root, const std::string& className,
                                            const std::string& prefix) {
  if (!root) return nullptr;
  if (root->GetClassName() == className && root->GetId().rfind(prefix, 0) == 0) return root;
  for (const auto& child : root->GetChildren())
    if (auto found = FindElement(child, className, prefix)) return found;
  return nullptr;
}

class ZorvaDlgFixture : public ::testing::Test {
 protected:
  // Browser tests keep the system clock: the pages' own timers run on it.
  explicit ZorvaDlgFixture(bool manualClock = true) {
    if (manualClock) installedClock = std::make_unique<platform::ScopedClock>(clock);
    SetRegistryKey("Zorva");
    SetProfileName("Zorva");
    platform::ReloadProfile();
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    iTunesAvailable = true;
    theScheduler.Stop();
    // The window's scan worker ends at once: no periodic scan, the version
    // checked today already.
    LibraryScanThread::ResetProcessState();
    theSettings.SetScanLib(false);
    SYSTEMTIME today{};
    GetLocalTime(&today);
    WriteProfileInt("Version", "CheckDay", today.wDay);
    WriteProfileInt("Version", "CheckMonth", today.wMonth);
    WriteProfileInt("Version", "CheckYear", today.wYear);
  }
  ~ZorvaDlgFixture() override {
    dialog.reset();
    theScheduler.Stop();
    binding_.reset();
    CFramelessHtmlWindow::SetPageFolder("");
    platform::PumpMessages();
    platform::ReloadProfile();
    iTunesAvailable = true;
    theSettings.SetScanLib(true);
  }

  // The player serves `library`, and the database holds its tracks.
  void StartPlayer(pp::LibraryData library) {
    AddTracks(db, library);
    binding_.reset();
    model = std::make_unique<pp::PlayerModel>(std::move(library));
    binding_ = std::make_unique<pp::ScopedInProcessPlayer>(*model);
  }

  // The window made, its scan worker ended and its page filled.
  CZorvaDlg& Open() {
    dialog = std::make_unique<CZorvaDlg>();
    EXPECT_TRUE(dialog->IsPlayerConnected());
    EXPECT_TRUE(dialog->Create(CWnd::GetDesktopWindow()));
    EXPECT_TRUE(WaitForScanWorker());
    Run(5000);
    return *dialog;
  }
  // Waits for the window's scan worker to end. With no periodic scan it ends
  // at once, but at its low priority a busy machine can hold it back until
  // the test has gone on: its status texts would then land among the test's
  // own steps. The event made anew here (no window or worker holds it) is set:
  // no worker runs.
  static bool WaitForScanWorker() {
    const platform::UniqueHandle done(CreateEvent(nullptr, TRUE, TRUE, "cleanupdone"));
    return WaitForSingleObject(done.Get(), INFINITE) == WAIT_OBJECT_0;
  }

  // Lets `ms` pass in steps of the poll, the player and the window keeping up.
  void Run(platform::Millis ms) {
    for (platform::Millis done = 0; done < ms; done += 500) {
      clock.Advance(std::min<platform::Millis>(500, ms - done));
      if (model) model->Tick();
      platform::PumpMessages();
    }
  }
  void Pump() {
    if (model) model->Tick();
    platform::PumpMessages();
  }

  // The ids of the queue, front first.
  std::vector<int> QueueIds() const {
    std::vector<int> ids;
    for (const Track& track : dialog->GetUpcoming()) ids.push_back(track.id);
    return ids;
  }
  // The track ids of the play records, oldest first.
  std::vector<int> PlayRecords() {
    SQLiteRowSet rows;
    db.Query("SELECT trackid FROM trackPlayRecord ORDER BY id", rows);
    std::vector<int> ids;
    for (const SQLiteRow& row : rows) ids.push_back(row.GetInt("trackid"));
    return ids;
  }
  // The database id of the track the player plays now (0 for none).
  int PlayingId() {
    const pp::PlayerStatus status = model->Status();
    if (!status.track || status.state != pp::ITPlayerStatePlaying) return 0;
    Track track;
    track.location = status.track->location;
    std::string genre;
    db.FindTrackByLocation(track, genre);
    return track.id;
  }
  // A stored mix of one genre, named `name`.
  Mix StoreGenreMix(const std::string& genre, const std::string& name) {
    Mix mix;
    mix.AddTag(db.FindOrCreateTag(genre, TagGenre), false);
    mix.Rename(name);
    return mix;
  }
  std::string Html(const std::string& id) { return dialog->GetElementHtml(id); }

  platform::ManualClock clock;
  std::unique_ptr<platform::ScopedClock> installedClock;
  TempFolder config;
  ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
  TempFolder data;
  // A database made before the window starts, so the page is filled at once.
  bool existing = MusicDB(data.File("music.db")).GetSchemaVersion() > 0;
  MusicDB db{data.File("music.db")};
  ScopedMusicDB installedDB{db};
  std::unique_ptr<pp::PlayerModel> model;
  std::unique_ptr<CZorvaDlg> dialog;

 private:
  std::unique_ptr<pp::ScopedInProcessPlayer> binding_;
};

}  // namespace zorva_test

// The library scan's surroundings for its tests: a music database, profile
// and clock of the test's own, the in-process media player, an owner window
// that records status texts from any thread, and a main window that counts
// the scan's messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/AppMainWindow.h"
#include "core/LibraryScanThread.h"
#include "core/MusicDB.h"
#include "core/MusicPlayer.h"
#include "core/Settings.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerModel.h"
#include "platform/profile/Profile.h"
#include "tests/core/DatabaseTestSupport.h"
#include "tests/core/PlayerTestSupport.h"
#include "windows/MainWindow.h"

namespace zorva_test {

// Records every status text with the clock's time; safe on any thread. Once
// marked gone, every further call counts as a call into a window that has
// gone.
class StatusWindow : public CMainWindow {
 public:
  StatusWindow() : CMainWindow(FramelessWindowConfig{}, DialogTemplate{}, 0) {}

  struct Entry {
    std::string text;
    platform::Millis at;
  };

  void PlayNext() override {}
  void OnTrackPlaying(const Track&) override {}
  void SetScanStatus(const std::string& status) override {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (gone_) ++callsAfterGone_;
      entries_.push_back({status, platform::TheClock().Now()});
      hook = hook_;
    }
    changed_.notify_all();
    if (hook) hook(status);
  }

  // Runs on the caller's thread after each status text is recorded.
  void SetHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
  }
  void MarkGone() {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
  }
  int CallsAfterGone() {
    std::lock_guard<std::mutex> lock(mutex_);
    return callsAfterGone_;
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> texts;
    for (const Entry& e : entries_) texts.push_back(e.text);
    return texts;
  }
  std::vector<Entry> Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }
  int Count(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(
        std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.text == text; }));
  }
  // Blocks until `text` has been reported `times` times.
  void WaitFor(const std::string& text, int times = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
      return std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.text == text; }) >= times;
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
  std::function<void(const std::string&)> hook_;
  bool gone_ = false;
  int callsAfterGone_ = 0;
};

// Moves a manual clock on in small steps whenever some thread waits on it,
// so a worker's sleeps and time-outs pass one after another while the
// worker itself gets to run between them.
class ClockDriver {
 public:
  // `pause` paces the steps in real time, for tests whose waits must leave a
  // busy machine time to run the other thread before they run out.
  explicit ClockDriver(platform::ManualClock& clock, platform::Millis step = 50,
                       std::chrono::microseconds pause = std::chrono::microseconds(0))
      : thread_([this, &clock, step, pause] {
          while (!stop_.load()) {
            if (clock.Waiters() > 0) {
              clock.Advance(step);
              if (pause.count() > 0) std::this_thread::sleep_for(pause);
            } else {
              std::this_thread::yield();
            }
          }
        }) {}
  ~ClockDriver() { Stop(); }
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Everything a scan touches, all of the test's own.
class ScanFixture : public ::testing::Test {
 protected:
  ScanFixture() {
    platform::ReloadProfile();
    // The version check has already run today: no request leaves the test.
    SYSTEMTIME today{};
    GetLocalTime(&today);
    WriteProfileInt("Version", "CheckDay", today.wDay);
    WriteProfileInt("Version", "CheckMonth", today.wMonth);
    WriteProfileInt("Version", "CheckYear", today.wYear);
    mainWindow_ = CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == WM_APP_SCAN_PROGRESS) ++progressPosts_;
      if (message == WM_APP_SCAN_ADDED) ++addedPosts_;
      return 0;
    });
    SetAppMainWindow(mainWindow_);
    iTunesAvailable = true;
    libraryChanged = true;
    theSettings.SetScanLib(true);
    LibraryScanThread::ResetProcessState();
  }
  ~ScanFixture() override {
    SetAppMainWindow(nullptr);
    DestroyWindow(mainWindow_);
    iTunesAvailable = true;
    libraryChanged = true;
    theSettings.SetScanLib(true);
    LibraryScanThread::ResetProcessState();
    binding_.reset();
    installed_.reset();
    db_.reset();
    platform::ReloadProfile();
  }

  // theMusicDB on a file made now (a new database) or one made before.
  void OpenDatabase(bool existing) {
    const std::string path = folder_.File("music.db");
    if (existing) MusicDB created(path);
    db_ = std::make_unique<MusicDB>(path);
    installed_ = std::make_unique<ScopedMusicDB>(*db_);
  }
  MusicDB& DB() { return *db_; }

  void StartModel(pp::LibraryData library) {
    binding_.reset();
    model_ = std::make_unique<pp::PlayerModel>(std::move(library));
    binding_ = std::make_unique<pp::ScopedInProcessPlayer>(*model_);
  }
  pp::PlayerModel& Model() { return *model_; }
  void Unbind() { binding_.reset(); }

  // Delivers the messages that the scan posted to the main window.
  void PumpPosts() { platform::PumpMessages(); }

  std::vector<std::string> StoredLocations() {
    SQLiteRowSet rows;
    DB().Query("SELECT location FROM track ORDER BY id", rows);
    std::vector<std::string> locations;
    for (const SQLiteRow& row : rows) locations.push_back(row.Get("location"));
    return locations;
  }
  // "type:name" of every tag the stored track of that location carries.
  std::vector<std::string> StoredTags(const std::string& location) {
    SQLiteRowSet rows;
    DB().Query(
        "SELECT tag.type AS type, tag.name AS name FROM track, tracktag, tag WHERE "
        "track.id = tracktag.trackid AND tracktag.tagid = tag.id AND track.location = '" +
            location + "' ORDER BY tag.type, tag.name",
        rows);
    std::vector<std::string> tags;
    for (const SQLiteRow& row : rows) tags.push_back(row.Get("type") + ":" + row.Get("name"));
    return tags;
  }

  TempFolder folder_;
  TempFolder config_;
  ScopedEnv configHome_{"XDG_CONFIG_HOME", config_.Path()};
  ScopedEnv webHost_{"ZORVA_WEB_URL", "http://127.0.0.1:9"};
  platform::ManualClock clock_;
  platform::ScopedClock scopedClock_{clock_};
  StatusWindow owner_;
  HWND mainWindow_ = nullptr;
  int progressPosts_ = 0;
  int addedPosts_ = 0;

 private:
  std::unique_ptr<MusicDB> db_;
  std::unique_ptr<ScopedMusicDB> installed_;
  std::unique_ptr<pp::PlayerModel> model_;
  std::unique_ptr<pp::ScopedInProcessPlayer> binding_;
};

}  // namespace zorva_test

// The library-scan worker and its controller, on a manual clock that a
// driver moves on while the worker waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/LibraryScanThread.h"
#include "core/Mix.h"
#include "tests/core/ScanTestSupport.h"
#include "tests/support/WebServer.h"

namespace {

using namespace zorva_test;

class LibraryScanThreadTest : public ScanFixture {
 protected:
  LibraryScanThreadTest() {
    pp::LibraryData library = MakeLibrary(10);
    AddPlaylist(library, 20, "Road", {1, 2, 3});
    AddPlaylist(library, 21, "Quiet", {4});
    StartModel(library);
  }

  // The texts up to and including the first `last`.
  std::vector<std::string> TextsUpTo(const std::string& last) {
    auto texts = owner_.Texts();
    auto end = std::find(texts.begin(), texts.end(), last);
    if (end != texts.end()) ++end;
    return std::vector<std::string>(texts.begin(), end);
  }
  void WaitForWaiters(int count) {
    while (clock_.Waiters() != count) std::this_thread::yield();
  }
  // Stops a worker once it waits for quit (between scans or before the first).
  void StopWorker(LibraryScanThread& thread) {
    WaitForWaiters(1);
    thread.Stop();
  }
  // Waits for the worker to end by itself.
  void WaitUntilEnded(LibraryScanThread& thread) {
    ClockDriver driver(clock_);
    while (thread.IsRunning()) std::this_thread::yield();
  }
  std::vector<std::string> Percentages() {
    std::vector<std::string> texts;
    for (int p = 0; p < 100; p += 10) texts.push_back(std::to_string(p) + "%");
    return texts;
  }
};

TEST_F(LibraryScanThreadTest, NewDatabaseIsScannedAtOnceThenTheWorkerWaitsUntilStopped) {
  OpenDatabase(false);
  LibraryScanThread thread(&owner_);
  {
    ClockDriver driver(clock_);
    thread.Start();
    owner_.WaitFor("Scan complete, pausing between scans");
  }
  StopWorker(thread);

  std::vector<std::string> expected = {"Starting up", "Connecting to iTunes"};
  for (const std::string& p : Percentages()) expected.push_back(p);
  expected.push_back("Done, 10 tracks added, 0 tracks deleted");
  expected.push_back("Scan complete, pausing between scans");
  EXPECT_EQ(TextsUpTo("Scan complete, pausing between scans"), expected);
  EXPECT_EQ(owner_.Texts().back(), "Stopped");
  EXPECT_FALSE(thread.IsRunning());
  // The worker's synchronisation stored the two playlists as mixes.
  MixList mixes;
  DB().GetMixes(mixes, true);
  ASSERT_EQ(mixes.size(), 2u);
  EXPECT_EQ(mixes[0].GetName(), "Road");
  EXPECT_EQ(mixes[1].GetName(), "Quiet");
  EXPECT_EQ(StoredLocations().size(), 10u);
}

// The daily version check runs at the worker's start, but not on a database
// created at this start.
class LibraryScanThreadVersionTest : public LibraryScanThreadTest {
 protected:
  LibraryScanThreadVersionTest() { WriteProfileInt("Version", "CheckYear", 2001); }
  std::size_t VersionRequests() {
    std::size_t count = 0;
    for (const auto& request : server_.Requests()) {
      if (request.raw.find("version.xml") != std::string::npos) ++count;
    }
    return count;
  }
  void RunUntilFirstScan() {
    LibraryScanThread thread(&owner_);
    {
      ClockDriver driver(clock_);
      thread.Start();
      owner_.WaitFor("Scan complete, pausing between scans");
    }
    StopWorker(thread);
  }

  WebServer server_;
  ScopedEnv webHost_{"ZORVA_WEB_URL", server_.BaseUrl()};
};

TEST_F(LibraryScanThreadVersionTest, NewDatabaseSkipsTheVersionCheck) {
  OpenDatabase(false);
  RunUntilFirstScan();
  EXPECT_EQ(VersionRequests(), 0u);
}

TEST_F(LibraryScanThreadVersionTest, ExistingDatabaseRunsTheVersionCheck) {
  OpenDatabase(true);
  RunUntilFirstScan();
  EXPECT_EQ(VersionRequests(), 1u);
}

TEST_F(LibraryScanThreadTest, FirstStartPausesThreeMinutesBeforeConnecting) {
  OpenDatabase(true);
  LibraryScanThread thread(&owner_);
  {
    ClockDriver driver(clock_);
    thread.Start();
    owner_.WaitFor("Scan complete, pausing between scans");
  }
  StopWorker(thread);

  auto entries = owner_.Entries();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(entries[0].text, "Starting up");
  EXPECT_EQ(entries[1].text, "Pausing before first scan");
  EXPECT_EQ(entries[2].text, "Connecting to iTunes");
  EXPECT_GE(entries[2].at - entries[1].at, 180000);
}

TEST_F(LibraryScanThreadTest, StopDuringTheFirstPauseEndsWithoutConnecting) {
  OpenDatabase(true);
  LibraryScanThread thread(&owner_);
  thread.Start();
  owner_.WaitFor("Pausing before first scan");
  StopWorker(thread);

  EXPECT_EQ(owner_.Texts(), (std::vector<std::string>{"Starting up", "Pausing before first scan", "Stopped"}));
  EXPECT_TRUE(StoredLocations().empty());
}

TEST_F(LibraryScanThreadTest, ScanLibOffAtFirstStartStopsAndALaterStartScansOnce) {
  OpenDatabase(true);
  theSettings.SetScanLib(false);
  LibraryScanThread thread(&owner_);
  thread.Start();
  WaitUntilEnded(thread);
  EXPECT_EQ(owner_.Texts(), (std::vector<std::string>{"Starting up", "Pausing before first scan", "Stopped"}));

  // Scan now: the start-up pause is behind the process, one scan runs.
  thread.Start();
  WaitUntilEnded(thread);
  auto texts = owner_.Texts();
  std::vector<std::string> second(texts.begin() + 3, texts.end());
  std::vector<std::string> expected = {"Starting up", "Pausing before first scan", "Connecting to iTunes"};
  for (const std::string& p : Percentages()) expected.push_back(p);
  expected.push_back("Done, 10 tracks added, 0 tracks deleted");
  expected.push_back("Scan complete, pausing between scans");
  expected.push_back("Stopped");
  EXPECT_EQ(second, expected);
  EXPECT_EQ(StoredLocations().size(), 10u);
}

TEST_F(LibraryScanThreadTest, RescansEveryHourWhileScanLibIsOn) {
  OpenDatabase(false);
  LibraryScanThread thread(&owner_);
  // Two more tracks arrive before the worker starts its hour's wait.
  bool grown = false;
  owner_.SetHook([&](const std::string& text) {
    if (text != "Scan complete, pausing between scans" || grown) return;
    grown = true;
    Model().ReplaceLibrary(MakeLibrary(12));
    libraryChanged = true;
  });
  {
    ClockDriver driver(clock_, 60000);
    thread.Start();
    owner_.WaitFor("Scan complete, pausing between scans", 2);
  }
  StopWorker(thread);

  auto entries = owner_.Entries();
  auto done = std::find_if(entries.begin(), entries.end(), [](const StatusWindow::Entry& e) {
    return e.text == "Done, 2 tracks added, 0 tracks deleted";
  });
  ASSERT_NE(done, entries.end());
  auto first = std::find_if(entries.begin(), entries.end(), [](const StatusWindow::Entry& e) {
    return e.text == "Scan complete, pausing between scans";
  });
  EXPECT_GE(done->at - first->at, 3600000);
  EXPECT_EQ(StoredLocations().size(), 12u);
}

TEST_F(LibraryScanThreadTest, PausesForATrackChangeAndResumes) {
  OpenDatabase(false);
  LibraryScanThread thread(&owner_);
  owner_.SetHook([&](const std::string& text) {
    if (text == "30%") thread.Pause();
  });
  {
    ClockDriver driver(clock_);
    thread.Start();
    owner_.WaitFor("Paused for track change", 3);
    thread.Resume();
    owner_.WaitFor("Scan complete, pausing between scans");
  }
  StopWorker(thread);

  auto texts = TextsUpTo("Scan complete, pausing between scans");
  auto paused = std::find(texts.begin(), texts.end(), "Paused for track change");
  ASSERT_NE(paused, texts.end());
  EXPECT_EQ(*(paused - 1), "30%");
  auto resumed = std::find(paused, texts.end(), "Scan resumed");
  ASSERT_NE(resumed, texts.end());
  EXPECT_GE(resumed - paused, 3);
  EXPECT_TRUE(std::all_of(paused, resumed, [](const std::string& t) { return t == "Paused for track change"; }));
  EXPECT_EQ(*(resumed + 1), "40%");
  EXPECT_EQ(*(texts.end() - 2), "Done, 10 tracks added, 0 tracks deleted");
}

TEST_F(LibraryScanThreadTest, StartWhileAWorkerRunsDoesNothing) {
  OpenDatabase(true);
  LibraryScanThread thread(&owner_);
  thread.Start();
  owner_.WaitFor("Pausing before first scan");
  WaitForWaiters(1);
  // Both answer at once, the clock standing still.
  thread.Start();
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_EQ(clock_.Waiters(), 1);
  StopWorker(thread);
  EXPECT_EQ(owner_.Count("Starting up"), 1);
  EXPECT_FALSE(thread.IsRunning());
}

TEST_F(LibraryScanThreadTest, AWorkerThatOutlivesStopNeverReachesTheOwnerAgain) {
  OpenDatabase(false);
  auto thread = std::make_unique<LibraryScanThread>(&owner_);
  {
    // The interface thread holds the database: the worker's playlist
    // synchronisation cannot get on with it.
    auto busy = DB().Lock();
    thread->Start();
    owner_.WaitFor("Connecting to iTunes");
    {
      ClockDriver driver(clock_);
      thread->Stop();
    }
    owner_.MarkGone();
    thread.reset();
  }
  // The worker goes on by itself to its end.
  {
    platform::UniqueHandle cleanupDone(CreateEvent(nullptr, TRUE, TRUE, "cleanupdone"));
    ClockDriver driver(clock_);
    EXPECT_EQ(WaitForSingleObject(cleanupDone.Get(), INFINITE), WAIT_OBJECT_0);
  }
  EXPECT_EQ(owner_.CallsAfterGone(), 0);
  EXPECT_EQ(owner_.Texts().back(), "Connecting to iTunes");
}

}  // namespace

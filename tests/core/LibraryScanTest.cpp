// One library scan pass (ITunesPlayer::ScanLibrary) against the in-process
// media player.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ITunesPlayer.h"
#include "core/TagType.h"
#include "platform/kernel/Sync.h"
#include "tests/core/ScanTestSupport.h"

namespace {

using namespace zorva_test;

class LibraryScanTest : public ScanFixture {
 protected:
  LibraryScanTest() {
    OpenDatabase(false);
    quit_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    pause_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    // Every sleep and time-out of a scan on this thread passes at once.
    clock_.SetAutoAdvance(true);
  }

  // One pass on this thread through a player of its own.
  void Scan() {
    ITunesPlayer player(&owner_);
    player.Connect(false);
    player.ScanLibrary(quit_.Get(), pause_.Get());
    PumpPosts();
  }
  // A pass on a thread of its own (for changes made while it runs).
  std::thread ScanOnThread() {
    return std::thread([this] {
      ITunesPlayer player(&owner_);
      player.Connect(false);
      player.ScanLibrary(quit_.Get(), pause_.Get());
    });
  }
  // Blocks until the clock has moved `ms` past `from` (the scan is waiting).
  void WaitForClock(platform::Millis from, platform::Millis ms) {
    while (clock_.Now() < from + ms) std::this_thread::yield();
  }
  // Every track after the first `kept` leaves the library, which the player
  // then says has changed.
  void KeepOnlyFirstTracks(pp::LibraryData& library, std::size_t kept) {
    library.tracks.resize(kept);
    library.playlists.front().trackIds.resize(kept);
    Model().ReplaceLibrary(library);
    libraryChanged = true;
  }
  std::string LastStatus() {
    auto texts = owner_.Texts();
    return texts.empty() ? std::string() : texts.back();
  }

  platform::UniqueHandle quit_;
  platform::UniqueHandle pause_;
};

TEST_F(LibraryScanTest, FirstScanAddsEveryFileTrackWithItsTags) {
  StartModel(MakeLibrary(30));
  Scan();

  std::vector<std::string> expected;
  for (int id = 1; id <= 30; ++id) expected.push_back(TrackLocation(id));
  EXPECT_EQ(StoredLocations(), expected);
  EXPECT_EQ(StoredTags(TrackLocation(7)), (std::vector<std::string>{"0:Genre 1", "1:Album 3", "2:Artist 1"}));
  EXPECT_EQ(LastStatus(), "Done, 30 tracks added, 0 tracks deleted");
  EXPECT_FALSE(libraryChanged);
  // 30 tracks: a progress message after every sixth track added.
  EXPECT_EQ(progressPosts_, 5);
  EXPECT_EQ(addedPosts_, 1);
  // Every whole percentage once, in order, from 0.
  auto texts = owner_.Texts();
  EXPECT_EQ(texts.front(), "0%");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "50%"), 1);
}

TEST_F(LibraryScanTest, RescanSweepsExactlyTheTracksThatWentAndKeepsUserTags) {
  pp::LibraryData library = MakeLibrary(10);
  StartModel(library);
  Scan();
  ASSERT_EQ(StoredLocations().size(), 10u);

  // The user's own tags and a dump on tracks that stay, and on one that goes.
  for (int id : {2, 3}) {
    Track track;
    track.location = TrackLocation(id);
    DB().SetTrackTag(track, "favourite", TagZorva, false);
  }
  Track dumped;
  dumped.location = TrackLocation(4);
  DB().DisableTrack(dumped);

  // Track 3 leaves the library, track 5's file is renamed, track 2 gets
  // another artist.
  library.tracks.erase(library.tracks.begin() + 2);
  auto& ids = library.playlists.front().trackIds;
  ids.erase(std::find(ids.begin(), ids.end(), 3));
  library.tracks[3].location = "/music/renamed/5.mp3";
  library.tracks[1].artist = "New Artist";
  Model().ReplaceLibrary(library);
  libraryChanged = true;
  Scan();

  auto stored = StoredLocations();
  std::sort(stored.begin(), stored.end());
  std::vector<std::string> expected = {"/music/renamed/5.mp3"};
  for (int id : {1, 2, 4, 6, 7, 8, 9, 10}) expected.push_back(TrackLocation(id));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(LastStatus(), "Done, 1 tracks added, 2 tracks deleted");
  EXPECT_EQ(StoredTags(TrackLocation(2)),
            (std::vector<std::string>{"0:Genre 0", "1:Album 2", "2:New Artist", "4:favourite"}));
  SQLiteRowSet rows;
  DB().Query("SELECT enabled FROM track WHERE location = '" + TrackLocation(4) + "'", rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.front().Get("enabled"), "0");
  DB().Query("SELECT COUNT(*) AS n FROM tracktag WHERE trackid NOT IN (SELECT id FROM track)", rows);
  EXPECT_EQ(rows.front().GetInt("n"), 0);
}

TEST_F(LibraryScanTest, SkipsCDAndURLTracks) {
  pp::LibraryData library = MakeLibrary(4);
  library.tracks[1].kind = pp::ITTrackKindCD;
  library.tracks[2].kind = pp::ITTrackKindURL;
  library.tracks[2].location = "http://radio.example/stream";
  StartModel(library);
  Scan();

  EXPECT_EQ(StoredLocations(), (std::vector<std::string>{TrackLocation(1), TrackLocation(4)}));
  EXPECT_EQ(LastStatus(), "Done, 2 tracks added, 0 tracks deleted");
}

TEST_F(LibraryScanTest, ProgressRepeatsWhileTheAddedCountStaysOnAStep) {
  // Tracks 21..30 are stored already: after the 20th track added the count
  // stays at 20 for ten tracks, then reaches 40, 60 and 80.
  pp::LibraryData library = MakeLibrary(100);
  for (int id = 21; id <= 30; ++id) {
    Track track;
    track.location = TrackLocation(id);
    track.name = "Track " + std::to_string(id);
    DB().AddOrUpdateTrack(track);
  }
  StartModel(library);
  Scan();

  EXPECT_EQ(progressPosts_, 1 + 10 + 1 + 1 + 1);
  EXPECT_EQ(addedPosts_, 1);
  EXPECT_EQ(LastStatus(), "Done, 90 tracks added, 0 tracks deleted");
}

TEST_F(LibraryScanTest, SmallLibraryAndScanThatAddsNothingPostNoProgress) {
  StartModel(MakeLibrary(20));
  Scan();
  EXPECT_EQ(progressPosts_, 0);
  EXPECT_EQ(addedPosts_, 1);

  libraryChanged = true;
  Scan();
  EXPECT_EQ(LastStatus(), "Done");
  EXPECT_EQ(addedPosts_, 1);
  EXPECT_EQ(StoredLocations().size(), 20u);
}

TEST_F(LibraryScanTest, DoesNothingUnlessTheLibraryChangedAndThePlayerIsAvailable) {
  StartModel(MakeLibrary(5));
  ITunesPlayer player(&owner_);
  player.Connect(false);
  libraryChanged = false;
  player.ScanLibrary(quit_.Get(), pause_.Get());
  iTunesAvailable = false;
  libraryChanged = true;
  player.ScanLibrary(quit_.Get(), pause_.Get());

  EXPECT_TRUE(owner_.Texts().empty());
  EXPECT_TRUE(StoredLocations().empty());
}

TEST_F(LibraryScanTest, WaitsWhileThePlayerIsUnavailableAndNeverSweepsMeanwhile) {
  pp::LibraryData library = MakeLibrary(10);
  StartModel(library);
  Scan();
  // Tracks 9 and 10 leave the library; the first scan had them.
  KeepOnlyFirstTracks(library, 8);

  std::atomic<platform::Millis> lostAt{-1};
  owner_.SetHook([&](const std::string& text) {
    if (text == "50%" && lostAt.load() < 0) {
      Model().DisableCalls(pp::ITCOMDisabledReasonDialog);
      iTunesAvailable = false;
      lostAt.store(clock_.Now());
    }
  });
  std::thread scan = ScanOnThread();
  while (lostAt.load() < 0) std::this_thread::yield();
  WaitForClock(lostAt.load(), 60000);

  EXPECT_EQ(StoredLocations().size(), 10u);
  EXPECT_TRUE(libraryChanged);
  Model().EnableCalls();
  iTunesAvailable = true;
  scan.join();

  EXPECT_EQ(StoredLocations().size(), 8u);
  EXPECT_EQ(LastStatus(), "Done");
  EXPECT_FALSE(libraryChanged);
}

TEST_F(LibraryScanTest, RefusedCallsMakeTheScanWaitAndReadTheTrackAgain) {
  pp::LibraryData library = MakeLibrary(10);
  StartModel(library);
  std::atomic<platform::Millis> refusedAt{-1};
  owner_.SetHook([&](const std::string& text) {
    if (text == "40%" && refusedAt.load() < 0) {
      Model().DisableCalls(pp::ITCOMDisabledReasonDialog);
      refusedAt.store(clock_.Now());
    }
  });
  std::thread scan = ScanOnThread();
  while (refusedAt.load() < 0) std::this_thread::yield();
  WaitForClock(refusedAt.load(), 30000);
  Model().EnableCalls();
  scan.join();

  EXPECT_EQ(StoredLocations().size(), 10u);
  EXPECT_EQ(StoredTags(TrackLocation(5)), (std::vector<std::string>{"0:Genre 1", "1:Album 1", "2:Artist 2"}));
  EXPECT_EQ(LastStatus(), "Done, 10 tracks added, 0 tracks deleted");
}

TEST_F(LibraryScanTest, APlayerThatGoesMidScanEndsThePassWithoutSweep) {
  pp::LibraryData library = MakeLibrary(10);
  StartModel(library);
  Scan();
  KeepOnlyFirstTracks(library, 8);
  owner_.SetHook([&](const std::string& text) {
    if (text == "50%") Model().Quit();
  });
  Scan();

  EXPECT_EQ(StoredLocations().size(), 10u);
  EXPECT_TRUE(libraryChanged);
  EXPECT_EQ(LastStatus(), "50%");
}

TEST_F(LibraryScanTest, ALibraryThatChangesSizeMidScanIsNotSwept) {
  pp::LibraryData library = MakeLibrary(10);
  StartModel(library);
  Scan();
  // Track 11 arrives at the front while the scan is half way: the entries
  // behind it move one place on, and track 10 is never reached.
  pp::LibraryData grown = library;
  grown.tracks.push_back(MakeTrackData(11, 200));
  auto& ids = grown.playlists.front().trackIds;
  ids.insert(ids.begin(), 11);
  libraryChanged = true;
  owner_.SetHook([&](const std::string& text) {
    if (text == "50%") Model().ReplaceLibrary(grown);
  });
  Scan();

  auto stored = StoredLocations();
  EXPECT_NE(std::find(stored.begin(), stored.end(), TrackLocation(10)), stored.end());
  EXPECT_TRUE(libraryChanged);
}

TEST_F(LibraryScanTest, NoLibraryPlaylistOrNoFileTrackLeavesTheStoredTracks) {
  StartModel(MakeLibrary(6));
  Scan();
  ASSERT_EQ(StoredLocations().size(), 6u);
  owner_.SetHook(nullptr);

  libraryChanged = true;
  std::shared_ptr<pp::IiTunes> real;
  pp::CoCreateITunesApp(&real);
  {
    auto app = std::make_shared<ScriptedApp>(real);
    app->noLibraryPlaylist = true;
    ITunesPlayer player(&owner_, app);
    player.Connect(false);
    player.ScanLibrary(quit_.Get(), pause_.Get());
  }
  EXPECT_EQ(StoredLocations().size(), 6u);
  EXPECT_TRUE(libraryChanged);

  // A library that shows only a stream.
  pp::LibraryData streams = MakeLibrary(1);
  streams.tracks[0].kind = pp::ITTrackKindURL;
  streams.tracks[0].location = "http://radio.example/stream";
  Model().ReplaceLibrary(streams);
  Scan();
  EXPECT_EQ(StoredLocations().size(), 6u);
  EXPECT_EQ(LastStatus(), "Done");
  EXPECT_TRUE(libraryChanged);
}

TEST_F(LibraryScanTest, ATrackTheDatabaseRefusedMakesThePassIncomplete) {
  pp::LibraryData library = MakeLibrary(11);
  StartModel(library);
  Scan();
  Track kept;
  kept.location = TrackLocation(6);
  DB().SetTrackTag(kept, "favourite", TagZorva, false);
  // Track 11 leaves the library: only a sweep would delete it.
  KeepOnlyFirstTracks(library, 10);

  // Another connection reads from before track 6 until the pass ends,
  // through every busy wait of the commit that would mark it on disk, which
  // is rolled back.
  sqlite3* reader = nullptr;
  sqlite3_stmt* select = nullptr;
  owner_.SetHook([&](const std::string& text) {
    if (text == "50%") {
      sqlite3_open(DB().GetPath().c_str(), &reader);
      sqlite3_prepare_v2(reader, "SELECT id FROM track", -1, &select, nullptr);
      sqlite3_step(select);
    }
  });
  const platform::Millis start = clock_.Now();
  Scan();
  sqlite3_finalize(select);
  sqlite3_close(reader);

  EXPECT_GE(clock_.Now() - start, 20000) << "the commit waited the busy time out twice";
  EXPECT_EQ(StoredLocations().size(), 11u);
  EXPECT_EQ(StoredTags(TrackLocation(6)),
            (std::vector<std::string>{"0:Genre 0", "1:Album 2", "2:Artist 0", "4:favourite"}));
  EXPECT_TRUE(libraryChanged);

  // The next pass stores it and sweeps.
  owner_.SetHook(nullptr);
  Scan();
  auto stored = StoredLocations();
  EXPECT_EQ(stored.size(), 10u);
  EXPECT_EQ(std::count(stored.begin(), stored.end(), TrackLocation(11)), 0);
  EXPECT_EQ(StoredTags(TrackLocation(6)).size(), 4u);
  EXPECT_EQ(LastStatus(), "Done");
  EXPECT_FALSE(libraryChanged);
}

TEST_F(LibraryScanTest, QuitPartWayLeavesTheLibraryChanged) {
  pp::LibraryData library = MakeLibrary(10);
  StartModel(library);
  Scan();
  KeepOnlyFirstTracks(library, 8);
  owner_.SetHook([&](const std::string& text) {
    if (text == "25%") SetEvent(quit_.Get());
  });
  Scan();

  EXPECT_EQ(LastStatus(), "25%");
  EXPECT_EQ(StoredLocations().size(), 10u);
  EXPECT_TRUE(libraryChanged);
}

TEST_F(LibraryScanTest, PausesWhileAskedAndResumes) {
  StartModel(MakeLibrary(10));
  int pausedReports = 0;
  owner_.SetHook([&](const std::string& text) {
    if (text == "30%") SetEvent(pause_.Get());
    if (text == "Paused for track change" && ++pausedReports == 4) ResetEvent(pause_.Get());
  });
  Scan();

  auto texts = owner_.Texts();
  auto paused = std::find(texts.begin(), texts.end(), "Paused for track change");
  ASSERT_NE(paused, texts.end());
  EXPECT_EQ(*(paused - 1), "30%");
  EXPECT_EQ(std::vector<std::string>(paused, paused + 6),
            (std::vector<std::string>{"Paused for track change", "Paused for track change", "Paused for track change",
                                      "Paused for track change", "Scan resumed", "40%"}));
  EXPECT_EQ(texts.back(), "Done, 10 tracks added, 0 tracks deleted");
}

}  // namespace

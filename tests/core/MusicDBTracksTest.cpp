#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <thread>

#include "core/MusicDB.h"
#include "platform/kernel/Clock.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

class MusicDBTracksTest : public zorva_test::RecordsTest {
 protected:
  // The names of a track's tags of one type.
  std::vector<std::string> TagNames(Track track, int type) {
    TagList tags;
    db.GetTrackTags(tags, track);
    std::vector<std::string> names;
    for (const Tag& tag : tags) {
      if (tag.type == type) names.push_back(tag.name);
    }
    return names;
  }
  // A track as a scan finds it, not stored yet.
  static Track Song() {
    Track track;
    track.name = "Song";
    track.album = "Album";
    track.artist = "Artist";
    track.genre = "Rock";
    track.location = "/music/song.mp3";
    return track;
  }
};

TEST_F(MusicDBTracksTest, AddInsertsTheTrackWithItsTags) {
  Track track = Song();
  track.length = 215;
  EXPECT_TRUE(db.AddOrUpdateTrack(track));
  EXPECT_EQ(track.id, 0) << "the caller's track is a copy";

  std::string genre;
  ASSERT_TRUE(db.FindTrackByLocation(track, genre));
  EXPECT_GT(track.id, 0);
  EXPECT_EQ(genre, "Rock");
  Track loaded;
  loaded.id = track.id;
  ASSERT_TRUE(db.LoadTrack(loaded));
  EXPECT_EQ(loaded.name, "Song");
  EXPECT_EQ(loaded.length, 215);
  EXPECT_TRUE(loaded.enabled);
  EXPECT_EQ(TagNames(track, TagAlbum), std::vector<std::string>{"Album"});
  EXPECT_EQ(TagNames(track, TagArtist), std::vector<std::string>{"Artist"});
  EXPECT_EQ(TagNames(track, TagGenre), std::vector<std::string>{"Rock"});

  Track unknown;
  unknown.location = "/music/SONG.mp3";
  EXPECT_FALSE(db.FindTrackByLocation(unknown, genre));
  EXPECT_EQ(unknown.id, 0);
  EXPECT_EQ(genre, "Rock");
}

TEST_F(MusicDBTracksTest, RescanKeepsRowsAndUserTagsAndMovesLibraryTags) {
  Track track = AddTrack("Song", "Artist", "Album", "Rock");
  db.SetTrackTag(track, "favourite", TagZorva, false);
  db.DisableTrack(track);

  db.MarkAllTracksNotOnDisk();
  Track changed = track;
  changed.id = 0;
  changed.name = "Song (remastered)";
  changed.genre = "Classic Rock";
  changed.album = "";
  EXPECT_FALSE(db.AddOrUpdateTrack(changed));
  EXPECT_EQ(db.DeleteTracksNotOnDisk(), 0);

  Track loaded(track.id);
  EXPECT_EQ(loaded.name, "Song");
  EXPECT_EQ(loaded.genre, "Rock");
  EXPECT_FALSE(loaded.enabled) << "the dump survives a rescan";
  db.EnableTrack(loaded);
  EXPECT_EQ(TagNames(track, TagGenre), std::vector<std::string>{"Classic Rock"});
  EXPECT_EQ(TagNames(track, TagAlbum), std::vector<std::string>{"Album"});
  EXPECT_EQ(TagNames(track, TagZorva), std::vector<std::string>{"favourite"});
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE trackid = " + std::to_string(track.id)), 4);
}

TEST_F(MusicDBTracksTest, SweepDeletesUnseenTracksWithTheirAssignments) {
  Track kept = AddTrack("Kept", "Artist", "Album", "Rock");
  Track gone = AddTrack("Gone", "Artist", "Album", "Rock");
  db.AddPlayRecord(gone, Mix());
  db.MarkAllTracksNotOnDisk();
  db.AddOrUpdateTrack(kept);
  Track renamed = gone;
  renamed.location = "/MUSIC/gone.mp3";
  EXPECT_TRUE(db.AddOrUpdateTrack(renamed)) << "a location differing in case is a new track";
  EXPECT_EQ(db.DeleteTracksNotOnDisk(), 1);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track WHERE id = " + std::to_string(gone.id)), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE trackid = " + std::to_string(gone.id)), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE trackid = " + std::to_string(kept.id)), 3);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tag"), 3) << "tags stay";
}

TEST_F(MusicDBTracksTest, PlayRecordsDoNotPassToAReusedTrackId) {
  AddTrack("Low", "Artist", "Album", "Rock");
  Track top = AddTrack("Top", "Artist", "Album", "Rock");
  db.AddPlayRecord(top, Mix());
  ASSERT_EQ(db.GetRecentlyPlayedTrack(0).id, top.id);

  db.MarkAllTracksNotOnDisk();
  AddTrack("Low", "Artist", "Album", "Rock");
  EXPECT_EQ(db.DeleteTracksNotOnDisk(), 1);
  Track newcomer = AddTrack("Newcomer", "Other", "Other", "Jazz");
  ASSERT_EQ(newcomer.id, top.id) << "the freed id is taken again";
  EXPECT_EQ(db.GetRecentlyPlayedTrack(0).id, 0);
}

TEST_F(MusicDBTracksTest, DumpAndRelease) {
  Track track = AddTrack("Song", "Artist", "Album", "Rock");
  Track byLocation;
  byLocation.location = track.location;
  db.DisableTrack(byLocation);
  EXPECT_EQ(byLocation.id, track.id);
  TrackList dumped;
  EXPECT_EQ(db.GetDisabledTracks(dumped, 0, 10), 1);
  ASSERT_EQ(dumped.size(), 1u);
  EXPECT_EQ(dumped[0].id, track.id);
  EXPECT_FALSE(dumped[0].enabled);
  TrackList enabled;
  EXPECT_EQ(db.GetEnabledTracks(enabled, 0, 10), 0);
  EXPECT_TRUE(enabled.empty());
  Track loaded(track.id);
  EXPECT_EQ(loaded.name, "Song") << "a dumped track still loads";

  Track noId;
  db.EnableTrack(noId);
  EXPECT_EQ(db.GetDisabledTracks(dumped, 0, 10), 1);
  db.EnableTrack(track);
  EXPECT_EQ(db.GetEnabledTracks(enabled, 0, 10), 1);
}

// The counts are kept between calls: each write that adds, removes, dumps or
// releases a track, of this connection or another, is in the next count.
TEST_F(MusicDBTracksTest, TrackCountsFollowEveryConnectionsWrites) {
  Track first = AddTrack("First", "Artist", "Album", "Rock");
  Track second = AddTrack("Second", "Artist", "Album", "Rock");
  MusicDB other(folder.File("music.db"));
  const Track stored = Track(second.id);
  struct Step {
    const char* what;
    std::function<void()> write;
    int enabled;
    int dumped;
  };
  const Step steps[] = {
      {"a dump", [&] { db.DisableTrack(first); }, 1, 1},
      {"a dump of another connection",
       [&] {
         Track t = stored;
         other.DisableTrack(t);
       },
       0, 2},
      {"a release of another connection", [&] { other.EnableTrack(first); }, 1, 1},
      {"a track added by another connection",
       [&] {
         Track added = Song();
         other.AddOrUpdateTrack(added);
       },
       2, 1},
      {"a release", [&] { db.EnableTrack(stored); }, 3, 0},
      {"tracks removed by another connection",
       [&] {
         other.MarkAllTracksNotOnDisk();
         other.DeleteTracksNotOnDisk();
       },
       0, 0},
  };
  TrackList page;
  int enabled = 2;
  for (const Step& step : steps) {
    // Counted (and kept) before the write.
    EXPECT_EQ(db.GetEnabledTracks(page, 0, 10), enabled) << "before " << step.what;
    step.write();
    enabled = step.enabled;
    EXPECT_EQ(db.GetEnabledTracks(page, 0, 10), step.enabled) << step.what;
    EXPECT_EQ(db.GetDisabledTracks(page, 0, 10), step.dumped) << step.what;
  }
}

TEST_F(MusicDBTracksTest, UpdateDetailsLeavesTagsAlone) {
  Track track = AddTrack("Song", "Artist", "Album", "Rock");
  track.name = "New";
  track.album = "New album";
  track.artist = "New artist";
  track.genre = "Jazz";
  db.UpdateTrackDetails(track);
  Track loaded(track.id);
  EXPECT_EQ(loaded.name, "New");
  EXPECT_EQ(loaded.album, "New album");
  EXPECT_EQ(loaded.artist, "New artist");
  EXPECT_EQ(loaded.genre, "Jazz");
  EXPECT_EQ(TagNames(track, TagGenre), std::vector<std::string>{"Rock"});
}

TEST_F(MusicDBTracksTest, ListingsPageByName) {
  db.Exec("BEGIN");
  for (int i = 0; i < 250; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Track %03d", 249 - i);
    AddTrack(name, "Artist", "Album", i % 2 ? "Rock" : "Jazz");
  }
  db.Exec("COMMIT");
  TrackList page;
  EXPECT_EQ(db.GetEnabledTracks(page, 0, 100), 250);
  ASSERT_EQ(page.size(), 100u);
  EXPECT_EQ(page.front().name, "Track 000");
  EXPECT_EQ(page.back().name, "Track 099");
  page.clear();
  db.GetEnabledTracks(page, 240, 100);
  ASSERT_EQ(page.size(), 10u);
  EXPECT_EQ(page.front().name, "Track 240");

  TrackList found;
  db.SearchTracks(found, "", 0, 10);
  EXPECT_TRUE(found.empty());
  db.SearchTracks(found, "Track _12", 0, 10);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name, "Track 012");
  EXPECT_EQ(found[2].name, "Track 212");

  Tag rock = db.FindOrCreateTag("Rock", TagGenre);
  TrackList rockTracks;
  db.GetTracksOfTag(rock, rockTracks, 10, 1000);
  EXPECT_EQ(rockTracks.size(), 115u);
  TrackList appended(1);
  db.GetTracksOfTag(rock, appended, 0, 5);
  EXPECT_EQ(appended.size(), 6u) << "listings append";
}

TEST_F(MusicDBTracksTest, AddOrUpdateInsideAnOpenTransactionLeavesItOpen) {
  db.Exec("BEGIN");
  AddTrack("Song", "Artist", "Album", "Rock");
  EXPECT_EQ(db.Exec("ROLLBACK"), SQLITE_OK);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track"), 0);
}

TEST_F(MusicDBTracksTest, FailedCommitRollsBackAndReleasesTheLock) {
  platform::ManualClock clock;
  clock.SetAutoAdvance(true);
  platform::ScopedClock scoped(clock);
  AddTrack("First", "Artist", "Album", "Rock");

  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(folder.File("music.db").c_str(), &reader), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(reader, "SELECT id FROM track", -1, &select, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(select), SQLITE_ROW);  // holds a shared lock mid-read

  Track blocked;
  blocked.name = "Blocked";
  blocked.location = "/music/blocked.mp3";
  blocked.genre = "Rock";
  bool stored = true;
  EXPECT_FALSE(db.AddOrUpdateTrack(blocked, stored)) << "the inserted row was rolled back";
  EXPECT_FALSE(stored);
  sqlite3_finalize(select);

  // No transaction stayed open: another connection writes at once.
  EXPECT_EQ(
      sqlite3_exec(reader, "BEGIN IMMEDIATE; INSERT INTO tagType VALUES (9, 'x'); COMMIT;", nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(reader);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track WHERE name = 'Blocked'"), 0);
  AddTrack("After", "Artist", "Album", "Rock");
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track"), 2);
}

// Another connection (the other program) holds the write lock while a track
// is added: the add waits for it through the busy handler and then stores
// the row with its tags, instead of failing at its first write after a read.
TEST_F(MusicDBTracksTest, AddWaitsForAnotherConnectionsWriteAndStoresTheTrackWithItsTags) {
  platform::ManualClock clock;
  platform::ScopedClock scoped(clock);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(folder.File("music.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO tagType VALUES (9, 'x');", nullptr, nullptr, nullptr),
            SQLITE_OK);

  Track track = Song();
  std::atomic<bool> done{false};
  bool added = false;
  bool stored = false;
  std::thread writer([&] {
    added = db.AddOrUpdateTrack(track, stored);
    done = true;
  });
  while (!done && clock.Waiters() == 0) std::this_thread::yield();
  const bool waited = !done;
  EXPECT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  while (!done) {
    if (clock.Waiters() > 0) clock.Advance(500);
    std::this_thread::yield();
  }
  writer.join();

  EXPECT_TRUE(waited) << "the add waited for the lock";
  EXPECT_TRUE(added);
  EXPECT_TRUE(stored);
  std::string genre;
  ASSERT_TRUE(db.FindTrackByLocation(track, genre));
  EXPECT_EQ(TagNames(track, TagAlbum), std::vector<std::string>{"Album"});
  EXPECT_EQ(TagNames(track, TagArtist), std::vector<std::string>{"Artist"});
  EXPECT_EQ(TagNames(track, TagGenre), std::vector<std::string>{"Rock"});
}

// A rescan that meets a known track changes its genre assignments only where
// they differ from the tag its genre names; a track already in order is only
// marked on disk.
TEST_F(MusicDBTracksTest, RescanOfAKnownTrackSetsItsGenreAssignmentsAsTheirTagsRequire) {
  struct Case {
    const char* name;
    // Changes the stored data after the first scan of a Rock track.
    std::string setup;
    // The genre tag names of the track's assignments after the rescan, in order.
    std::vector<std::string> genres;
  };
  const Case cases[] = {
      {"unchanged", "", {"Rock"}},
      {"assignment gone", "DELETE FROM tracktag WHERE tagid = (SELECT id FROM tag WHERE name = 'Rock')", {"Rock"}},
      {"assignment on another genre",
       "UPDATE tracktag SET tagid = (SELECT id FROM tag WHERE name = 'Pop') "
       "WHERE tagid = (SELECT id FROM tag WHERE name = 'Rock')",
       {"Rock"}},
      // The first assignment (by row) decides; a later one stays as it is.
      {"second assignment",
       "INSERT INTO tracktag (trackid, tagid) SELECT 1, id FROM tag WHERE name = 'Pop'",
       {"Rock", "Pop"}},
      // Of two genre tags whose names differ in case only, the older one is found.
      {"newer tag of the same name",
       "UPDATE tag SET name = 'ROCK' WHERE name = 'Pop'; UPDATE tracktag SET "
       "tagid = (SELECT id FROM tag WHERE name = 'ROCK' AND id > 1) WHERE tagid = (SELECT MIN(id) FROM tag "
       "WHERE name = 'Rock')",
       {"Rock"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db.Exec("DELETE FROM track; DELETE FROM tag; DELETE FROM tracktag;");
    db.Exec("INSERT INTO tag (id, name, type) VALUES (1, 'Rock', 0), (2, 'Pop', 0)");
    Track track = AddTrack("Song", "Artist", "Album", "Rock");
    ASSERT_EQ(track.id, 1);
    db.Exec(c.setup);
    const int changes = Number("SELECT total_changes()");
    db.MarkAllTracksNotOnDisk();
    Track again = track;
    again.id = 0;
    bool stored = false;
    EXPECT_FALSE(db.AddOrUpdateTrack(again, stored));
    EXPECT_TRUE(stored);
    EXPECT_EQ(Number("SELECT ondisk FROM track WHERE id = 1"), 1);
    SQLiteRowSet rows;
    db.Query(
        "SELECT tag.name AS name FROM tracktag, tag WHERE trackid = 1 AND tag.id = tagid AND tag.type = 0 "
        "ORDER BY tracktag.id",
        rows);
    std::vector<std::string> genres;
    for (const SQLiteRow& row : rows) genres.push_back(row.Get("name"));
    EXPECT_EQ(genres, c.genres);
    if (c.setup.empty()) {
      EXPECT_EQ(Number("SELECT total_changes()"), changes + 2) << "all marked off, then this one on";
    }
  }
}

TEST_F(MusicDBTracksTest, BatchedScanWritesWaitForTheFlush) {
  platform::ManualClock clock;
  clock.SetAutoAdvance(true);
  platform::ScopedClock scoped(clock);
  Track same = AddTrack("Same", "Artist", "Album", "Rock");
  Track moved = AddTrack("Moved", "Artist", "Album", "Rock");
  db.MarkAllTracksNotOnDisk();
  db.BatchScanWrites(true);

  Track sameAgain = same;
  sameAgain.id = 0;
  bool stored = false;
  EXPECT_FALSE(db.AddOrUpdateTrack(sameAgain, stored));
  EXPECT_TRUE(stored);
  Track movedAgain = moved;
  movedAgain.id = 0;
  movedAgain.genre = "Jazz";
  EXPECT_FALSE(db.AddOrUpdateTrack(movedAgain, stored));
  Track added;
  added.name = "New";
  added.location = "/music/new.mp3";
  EXPECT_TRUE(db.AddOrUpdateTrack(added, stored));
  // The same file listed twice in one batch makes one row.
  EXPECT_TRUE(db.AddOrUpdateTrack(added, stored));
  EXPECT_EQ(db.PendingScanWrites(), 4u);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track"), 2);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track WHERE ondisk = 1"), 0);

  EXPECT_TRUE(db.FlushScanWrites());
  EXPECT_EQ(db.PendingScanWrites(), 0u);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track WHERE ondisk = 0"), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track WHERE location = '/music/new.mp3'"), 1);
  EXPECT_EQ(TagNames(moved, TagGenre), std::vector<std::string>{"Jazz"});

  // A flush that cannot write reports it.
  db.MarkAllTracksNotOnDisk();
  EXPECT_FALSE(db.AddOrUpdateTrack(sameAgain, stored));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(folder.File("music.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(db.FlushScanWrites());
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Number("SELECT ondisk FROM track WHERE id = " + std::to_string(same.id)), 0);
  db.BatchScanWrites(false);
}

}  // namespace
